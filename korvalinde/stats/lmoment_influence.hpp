// The empirical influence of the sample L-moments, for the nonparametric
// covariance of the estimators that are smooth functions of them.
#pragma once

#include <array>
#include <span>
#include <vector>

namespace korvalinde::stats {

// The influence values of (l1, l2, l3) at each value of the ascending
// sample, up to constants that drop out of a covariance (n >= 2): from
// those of b_r = int x F^r dF at x_(j), F(x_(j)) = p_j = (j - 1) / (n - 1),
//   x_j p_j^r + r / n sum_{k >= j} x_k p_k^(r-1) - (r + 1) b_r,
// the term k = j counted half so that ties weigh alike. Values are shifted
// to the median to keep the sums small.
std::vector<std::array<double, 3>> lmoment_influence(std::span<const double> sorted);

}  // namespace korvalinde::stats
