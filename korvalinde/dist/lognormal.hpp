// The two-parameter lognormal distribution: ln x is normal with mean meanlog
// and standard deviation sdlog > 0; x > 0.
#pragma once

#include <cmath>

#include "korvalinde/dist/lmoment_ratios.hpp"
#include "korvalinde/dist/special.hpp"
#include "korvalinde/dist/support.hpp"

namespace korvalinde::dist {

struct Lognormal {
  double meanlog = 0, sdlog = 1;
};

namespace detail_lognormal {
// The normal variate of x; -inf at and below 0.
inline double y(const Lognormal& d, double x) {
  if (std::isnan(x)) return x;
  return x <= 0 ? -special::kInf : (std::log(x) - d.meanlog) / d.sdlog;
}
}  // namespace detail_lognormal

inline double cdf(const Lognormal& d, double x) { return special::norm_cdf(detail_lognormal::y(d, x)); }
inline double sf(const Lognormal& d, double x) { return special::norm_sf(detail_lognormal::y(d, x)); }
inline double log_cdf(const Lognormal& d, double x) { return special::norm_log_cdf(detail_lognormal::y(d, x)); }
inline double log_sf(const Lognormal& d, double x) { return special::norm_log_sf(detail_lognormal::y(d, x)); }
inline double log_pdf(const Lognormal& d, double x) {
  if (std::isnan(x)) return x;
  if (x <= 0) return -special::kInf;
  const double lx = std::log(x);
  return special::norm_log_pdf((lx - d.meanlog) / d.sdlog) - std::log(d.sdlog) - lx;
}
inline double pdf(const Lognormal& d, double x) { return std::exp(log_pdf(d, x)); }
inline double quantile(const Lognormal& d, double p) {
  return std::exp(d.meanlog + d.sdlog * special::norm_quantile(p));
}
inline double quantile_complement(const Lognormal& d, double q) {
  return std::exp(d.meanlog + d.sdlog * special::norm_quantile_complement(q));
}
inline Support support(const Lognormal&) { return {0, special::kInf}; }

// The generalized normal with loc e^meanlog, scale sdlog e^meanlog and shape
// sdlog (lmoments.cpp).
LmomentRatios lmoment_ratios(const Lognormal& d);

}  // namespace korvalinde::dist
