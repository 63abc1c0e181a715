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

// ---------------------------------------------------------------------------
// The normal distribution with mean and standard deviation sd > 0.

#include "korvalinde/dist/lmoment_ratios.hpp"
#include "korvalinde/dist/special.hpp"
#include "korvalinde/dist/support.hpp"

namespace korvalinde::dist {

struct Normal {
  double mean = 0, sd = 1;
};

namespace detail_normal {
inline double z(const Normal& d, double x) { return (x - d.mean) / d.sd; }
}  // namespace detail_normal

inline double cdf(const Normal& d, double x) { return special::norm_cdf(detail_normal::z(d, x)); }
inline double sf(const Normal& d, double x) { return special::norm_sf(detail_normal::z(d, x)); }
inline double log_cdf(const Normal& d, double x) { return special::norm_log_cdf(detail_normal::z(d, x)); }
inline double log_sf(const Normal& d, double x) { return special::norm_log_sf(detail_normal::z(d, x)); }
inline double log_pdf(const Normal& d, double x) {
  return special::norm_log_pdf(detail_normal::z(d, x)) - std::log(d.sd);
}
inline double pdf(const Normal& d, double x) { return std::exp(log_pdf(d, x)); }
inline double quantile(const Normal& d, double p) { return d.mean + d.sd * special::norm_quantile(p); }
inline double quantile_complement(const Normal& d, double q) {
  return d.mean + d.sd * special::norm_quantile_complement(q);
}
inline Support support(const Normal&) { return {-special::kInf, special::kInf}; }

// l2 = sd / sqrt(pi), tau3 = tau5 = 0, tau4 = 30 atan(sqrt 2) / pi - 9.
inline LmomentRatios lmoment_ratios(const Normal& d) {
  return {d.mean, d.sd / std::sqrt(std::numbers::pi), 0, 30 * std::atan(std::numbers::sqrt2) / std::numbers::pi - 9, 0};
}

}  // namespace korvalinde::dist
