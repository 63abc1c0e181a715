// p-values of the EDF statistics D, W^2 and A^2 that allow for the estimated
// parameters. For an estimator of (a, b) that follows shifts and scalings of
// the sample (maximum likelihood, L-moments, and the histogram fit, whose
// bins span the sample), the statistics' law under the fitted Gumbel model is
// the same for every (a, b): it is simulated once from Gumbel(0, 1), every
// replicate refitted by each method.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "korvalinde/records/result.hpp"
#include "korvalinde/stats/bootstrap.hpp"

namespace korvalinde::stats {

// Replicates, and the largest sample simulated at full size. A larger sample
// is compared through the statistics' asymptotic law, simulated with samples
// of kGofLargestSimulated values: sqrt(n) D, W^2 and A^2 settle well below it.
inline constexpr int kGofReplicates = 199;
inline constexpr std::size_t kGofLargestSimulated = 1000;

struct GofNullPlan {
  std::size_t n = 0;       // size of the observed sample
  std::uint64_t seed = 0;  // replicate k draws from its own stream of the seed
  unsigned threads = 1;    // never changes the results
  int replicates = kGofReplicates;
};

// One fitted method: how to refit it, and its observed statistics (ks, cvm,
// ad), whose ks_p, cvm_p, ad_p and p_method are set. A p-value is
// (1 + #{replicate statistic >= observed}) / (1 + successful replicates);
// replicates whose refit fails are left out of that method's count.
struct GofMethod {
  Refit refit;
  Gof* gof = nullptr;
};

void gof_p_values(std::span<const GofMethod> methods, const GofNullPlan& plan);

// The words of Gof::p_method for a sample of n values.
std::string gof_p_method(std::size_t n, int replicates = kGofReplicates);

}  // namespace korvalinde::stats
