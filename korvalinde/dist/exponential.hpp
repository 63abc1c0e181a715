// The two-parameter exponential distribution: F(x) = 1 - e^-z,
// z = (x - loc) / scale >= 0.
#pragma once

#include <cmath>
#include <limits>

#include "korvalinde/dist/lmoment_ratios.hpp"
#include "korvalinde/dist/support.hpp"

namespace korvalinde::dist {

struct Exponential {
  double loc = 0, scale = 1;
};

namespace detail_exp {
// z clamped to the support: 0 below the location.
inline double z(const Exponential& d, double x) {
  const double v = (x - d.loc) / d.scale;
  return v < 0 ? 0.0 : v;
}
}  // namespace detail_exp

inline double log_sf(const Exponential& d, double x) { return -detail_exp::z(d, x); }
inline double sf(const Exponential& d, double x) { return std::exp(-detail_exp::z(d, x)); }
inline double cdf(const Exponential& d, double x) { return -std::expm1(-detail_exp::z(d, x)); }
// ln(1 - e^-z): log of expm1 near 0, log1p far out.
inline double log_cdf(const Exponential& d, double x) {
  const double z = detail_exp::z(d, x);
  return z < 0.6931471805599453 ? std::log(-std::expm1(-z)) : std::log1p(-std::exp(-z));
}
inline double log_pdf(const Exponential& d, double x) {
  const double v = (x - d.loc) / d.scale;
  if (std::isnan(v)) return v;
  return v < 0 ? -std::numeric_limits<double>::infinity() : -v - std::log(d.scale);
}
inline double pdf(const Exponential& d, double x) { return std::exp(log_pdf(d, x)); }
inline double quantile(const Exponential& d, double p) {
  if (!(p >= 0 && p <= 1)) return std::numeric_limits<double>::quiet_NaN();
  return d.loc - d.scale * std::log1p(-p);
}
inline double quantile_complement(const Exponential& d, double q) {
  if (!(q >= 0 && q <= 1)) return std::numeric_limits<double>::quiet_NaN();
  return d.loc - d.scale * std::log(q);
}
inline Support support(const Exponential& d) { return {d.loc, std::numeric_limits<double>::infinity()}; }

// l1 = loc + scale, l2 = scale / 2, tau3 = 1/3, tau4 = 1/6, tau5 = 1/10.
inline LmomentRatios lmoment_ratios(const Exponential& d) {
  return {d.loc + d.scale, d.scale / 2, 1.0 / 3, 1.0 / 6, 0.1};
}

}  // namespace korvalinde::dist
