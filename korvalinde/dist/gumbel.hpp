// The Gumbel (extreme-value type I) distribution with location a and scale
// b > 0: z = (x - a) / b, F(x) = exp(-exp(-z)), f(x) = exp(-z) F(x) / b,
// q(p) = a - b ln(-ln p). The tails are computed without cancellation.
//
// These are written out rather than taken from Boost.Math's
// extreme_value_distribution: it has no log_pdf, log_cdf or log_sf, which the
// likelihood and the Anderson-Darling statistic need far into both tails
// where F or 1 - F underflow, it reports p = 0 or 1 through its error policy
// instead of returning the infinite quantile, and the GEV (which Boost lacks)
// has to reduce to exactly these forms at shape 0.
#pragma once

#include <cmath>
#include <limits>
#include <numbers>

namespace korvalinde::dist {

// ln of the smallest positive double: the floor of ln F and ln(1 - F), so that
// a probability that underflows counts as that smallest double, never as 0.
inline constexpr double kLogTiny = -1074 * std::numbers::ln2;  // denorm_min = 2^-1074

// ln(1 - e^-t) for t > 0 without cancellation: ln(-expm1(-t)) while 1 - e^-t
// is at most 1/2, log1p(-e^-t) beyond, where 1 - e^-t is close to 1 and its
// logarithm is the small -e^-t.
inline double log1m_exp(double t) {
  return t <= std::numbers::ln2 ? std::log(-std::expm1(-t)) : std::log1p(-std::exp(-t));
}

// -ln(-ln p), the reduced variate of probability p in (0, 1); NaN outside.
inline double gumbel_reduced(double p) {
  if (!(p > 0 && p < 1)) return std::numeric_limits<double>::quiet_NaN();
  // p - 1 is exact for p >= 0.5, and log1p keeps -ln p accurate near 1.
  const double minus_log_p = p >= 0.5 ? -std::log1p(p - 1.0) : -std::log(p);
  return -std::log(minus_log_p);
}

// Reduced variate of the return level of period T: p = 1 - 1/T, so
// -ln p = -log1p(-1/T) without rounding p first. NaN unless T > 1.
inline double gumbel_period_reduced(double period) {
  if (!(period > 1)) return std::numeric_limits<double>::quiet_NaN();
  return -std::log(-std::log1p(-1.0 / period));
}

// The distribution as a value with the free functions shared by every
// distribution here. Outside the scale's domain (scale <= 0) results are NaN.
struct Gumbel {
  double loc = 0, scale = 1;
};

namespace detail_gumbel {
// t = exp(-z), the variable every Gumbel function is written in.
inline double t_of(const Gumbel& d, double x) { return std::exp(-(x - d.loc) / d.scale); }
}  // namespace detail_gumbel

inline double cdf(const Gumbel& d, double x) { return std::exp(-detail_gumbel::t_of(d, x)); }
inline double sf(const Gumbel& d, double x) { return -std::expm1(-detail_gumbel::t_of(d, x)); }

// ln f = -ln b - z - e^-z; -inf far below the location where e^-z overflows.
inline double log_pdf(const Gumbel& d, double x) {
  const double z = (x - d.loc) / d.scale;
  return -std::log(d.scale) - z - std::exp(-z);
}
inline double pdf(const Gumbel& d, double x) {
  const double t = detail_gumbel::t_of(d, x);
  return std::isinf(t) ? 0.0 : t * std::exp(-t) / d.scale;
}

inline double log_cdf(const Gumbel& d, double x) { return -detail_gumbel::t_of(d, x); }

// ln(1 - F) = ln(1 - e^-t); for t below 1e-8 the series -z - t/2 keeps the
// value exact where t underflows (F rounds to 1 there), and far below the
// mode (F small) log1m_exp keeps the small ln(1 - F) = -F relative.
inline double log_sf(const Gumbel& d, double x) {
  const double z = (x - d.loc) / d.scale;
  const double t = std::exp(-z);
  return t < 1e-8 ? -z - 0.5 * t : log1m_exp(t);
}

// Reduced variate -ln(-ln p) for p in [0, 1]: -inf at 0, +inf at 1, NaN outside.
inline double gumbel_reduced_closed(double p) {
  if (!(p >= 0 && p <= 1)) return std::numeric_limits<double>::quiet_NaN();
  const double minus_log_p = p >= 0.5 ? -std::log1p(p - 1.0) : -std::log(p);
  return -std::log(minus_log_p);
}

// The same for the exceedance probability q = 1 - p, without rounding p.
inline double gumbel_reduced_complement(double q) {
  if (!(q >= 0 && q <= 1)) return std::numeric_limits<double>::quiet_NaN();
  return -std::log(-std::log1p(-q));
}

inline double quantile(const Gumbel& d, double p) { return d.loc + d.scale * gumbel_reduced_closed(p); }
inline double quantile_complement(const Gumbel& d, double q) {
  return d.loc + d.scale * gumbel_reduced_complement(q);
}

}  // namespace korvalinde::dist
