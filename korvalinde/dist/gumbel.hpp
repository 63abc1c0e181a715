// The Gumbel (extreme-value type I) distribution with location a and scale
// b > 0: z = (x - a) / b, F(x) = exp(-exp(-z)), f(x) = exp(-z) F(x) / b,
// q(p) = a - b ln(-ln p). The tails are computed without cancellation.
#pragma once

#include <cmath>
#include <limits>
#include <numbers>

namespace korvalinde::dist {

// ln of the smallest positive double: the floor of ln F and ln(1 - F), so that
// a probability that underflows counts as that smallest double, never as 0.
inline constexpr double kLogTiny = -1074 * std::numbers::ln2;  // denorm_min = 2^-1074

inline double gumbel_cdf(double x, double a, double b) { return std::exp(-std::exp(-(x - a) / b)); }

// 1 - F(x), accurate in the upper tail.
inline double gumbel_sf(double x, double a, double b) {
  return -std::expm1(-std::exp(-(x - a) / b));
}

inline double gumbel_pdf(double x, double a, double b) {
  const double t = std::exp(-(x - a) / b);
  return t * std::exp(-t) / b;
}

// ln F = -exp(-z) exactly; floored at kLogTiny where exp(-z) overflows or F
// is below the smallest double. t = exp(-z).
inline double gumbel_log_cdf_t(double t) { return -t < kLogTiny ? kLogTiny : -t; }
inline double gumbel_log_cdf(double z) { return gumbel_log_cdf_t(std::exp(-z)); }

// ln(1 - F) = ln(-expm1(-t)) with t = exp(-z). For small t the series
// ln(t) - t/2 + O(t^2) keeps it exact when t underflows; floored at kLogTiny.
inline double gumbel_log_sf_t(double z, double t) {
  const double l = t < 1e-8 ? -z - 0.5 * t : std::log(-std::expm1(-t));
  return l < kLogTiny ? kLogTiny : l;
}
inline double gumbel_log_sf(double z) { return gumbel_log_sf_t(z, std::exp(-z)); }

// -ln(-ln p), the reduced variate of probability p in (0, 1); NaN outside.
inline double gumbel_reduced(double p) {
  if (!(p > 0 && p < 1)) return std::numeric_limits<double>::quiet_NaN();
  // p - 1 is exact for p >= 0.5, and log1p keeps -ln p accurate near 1.
  const double minus_log_p = p >= 0.5 ? -std::log1p(p - 1.0) : -std::log(p);
  return -std::log(minus_log_p);
}

inline double gumbel_quantile(double p, double a, double b) { return a + b * gumbel_reduced(p); }

// Reduced variate of the return level of period T: p = 1 - 1/T, so
// -ln p = -log1p(-1/T) without rounding p first. NaN unless T > 1.
inline double gumbel_period_reduced(double period) {
  if (!(period > 1)) return std::numeric_limits<double>::quiet_NaN();
  return -std::log(-std::log1p(-1.0 / period));
}

}  // namespace korvalinde::dist
