// p-values of the EDF statistics from their limit laws when the distribution
// is fully specified: sqrt(n) D (Kolmogorov), W^2 and A^2. Nothing is
// simulated. With parameters estimated from the same sample the statistics
// run smaller than these laws say, so the p-values are approximate and high.
#pragma once

#include <cstddef>
#include <string>

#include "korvalinde/records/result.hpp"

namespace korvalinde::stats {

// Upper tails P(K > x), P(W^2 > x) and P(A^2 > x) of the limit laws, to
// about 1e-13 relative (1 at and below 0, 0 at infinity, NaN for NaN).
double kolmogorov_upper(double x);
double cramer_von_mises_upper(double x);
double anderson_darling_upper(double x);

// Sets g's ks_p (from sqrt(n) D), cvm_p, ad_p and p_method.
void limit_gof_p_values(std::size_t n, Gof& g);

// Gof::p_method of these p-values.
std::string limit_gof_p_method();

}  // namespace korvalinde::stats
