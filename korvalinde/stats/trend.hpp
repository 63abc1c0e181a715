// Trend tests of a dated series: Mann-Kendall and Sen's slope.
#pragma once

#include <cstddef>
#include <span>

#include "korvalinde/records/result.hpp"

namespace korvalinde::stats {

// S = sum over pairs i < j of sign(x_j - x_i) (pairs in time order, t
// ascending), its variance corrected for ties in x,
// n (n - 1) (2n + 5) / 18 - sum_g t_g (t_g - 1) (2 t_g + 5) / 18, the
// statistic Z = (S - sign S) / sqrt(var) (continuity-corrected) and the
// two-sided normal p. Kendall's tau = S / (n (n - 1) / 2).
struct MannKendall {
  std::size_t n = 0;
  double s = kUndefined, var_s = kUndefined, z = kUndefined, p = kUndefined, tau = kUndefined;
};

// Sen's slope: the median of (x_j - x_i) / (t_j - t_i) over pairs with
// t_j != t_i, with the rank-based interval at `confidence`: the slopes of
// ranks (N - C) / 2 and (N + C) / 2 + 1 in the N ordered pairwise slopes,
// C = z sqrt(var S).
struct SenSlope {
  double slope = kUndefined, lower = kUndefined, upper = kUndefined, confidence = 0.95;
};

// t and x of equal length; t need not be sorted. NaN fields for n < 3.
MannKendall mann_kendall(std::span<const double> t, std::span<const double> x);
SenSlope sen_slope(std::span<const double> t, std::span<const double> x, double confidence = 0.95);

}  // namespace korvalinde::stats
