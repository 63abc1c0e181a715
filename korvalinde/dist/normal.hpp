// Quantiles of the standard normal and chi-square(1) distributions for
// intervals of confidence c: every interval of the fit takes its critical
// value from here.
#pragma once

#include <boost/math/special_functions/erf.hpp>
#include <cmath>
#include <limits>
#include <numbers>

namespace korvalinde::dist {

// z of the two-sided normal 95% interval, value +- z se.
inline constexpr double kNormal95 = 1.959963984540054;

// z with P(|Z| <= z) = c, from erfc_inv(1 - c) (1 - c is exact for c >= 0.5);
// NaN unless 0 < c < 1.
inline double normal_two_sided(double c) {
  if (!(c > 0 && c < 1)) return std::numeric_limits<double>::quiet_NaN();
  return std::numbers::sqrt2 * boost::math::erfc_inv(1 - c);
}

// The c quantile of chi-square with 1 degree of freedom, 2 erfc_inv(1 - c)^2
// (3.841458820694124 at c = 0.95); NaN unless 0 < c < 1.
inline double chi2_1_quantile(double c) {
  if (!(c > 0 && c < 1)) return std::numeric_limits<double>::quiet_NaN();
  const double e = boost::math::erfc_inv(1 - c);
  return 2 * e * e;
}

}  // namespace korvalinde::dist
