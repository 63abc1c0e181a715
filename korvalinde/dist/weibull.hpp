// The three-parameter Weibull distribution, the law of a minimum:
// F(x) = 1 - exp(-t), t = ((x - loc) / scale)^shape for x > loc, with
// scale > 0 and shape > 0. Its reflection -x is a GEV with shape -1/shape,
// which gives its L-moments.
#pragma once

#include <cmath>
#include <limits>

#include "korvalinde/dist/lmoment_ratios.hpp"
#include "korvalinde/dist/support.hpp"

namespace korvalinde::dist {

struct Weibull {
  double loc = 0, scale = 1, shape = 1;
};

namespace detail_weibull {
// ln t, -inf at or below the location.
inline double log_t(const Weibull& d, double x) {
  const double z = (x - d.loc) / d.scale;
  if (std::isnan(z)) return z;
  return z <= 0 ? -std::numeric_limits<double>::infinity() : d.shape * std::log(z);
}
}  // namespace detail_weibull

inline double log_sf(const Weibull& d, double x) { return -std::exp(detail_weibull::log_t(d, x)); }
inline double sf(const Weibull& d, double x) { return std::exp(log_sf(d, x)); }
inline double cdf(const Weibull& d, double x) { return -std::expm1(log_sf(d, x)); }
// ln(1 - e^-t) = ln t + ln((1 - e^-t) / t) for small t, which keeps it exact
// where t underflows.
inline double log_cdf(const Weibull& d, double x) {
  const double lt = detail_weibull::log_t(d, x);
  if (lt < -20) return lt + std::log1p(-0.5 * std::exp(lt));
  const double t = std::exp(lt);
  return t < 0.6931471805599453 ? std::log(-std::expm1(-t)) : std::log1p(-std::exp(-t));
}
// ln f = ln shape - ln scale + (shape - 1) ln z - t.
inline double log_pdf(const Weibull& d, double x) {
  const double z = (x - d.loc) / d.scale;
  if (std::isnan(z)) return z;
  if (z < 0) return -std::numeric_limits<double>::infinity();
  if (z == 0) {
    return d.shape < 1 ? std::numeric_limits<double>::infinity()
                       : d.shape == 1 ? -std::log(d.scale) : -std::numeric_limits<double>::infinity();
  }
  const double lz = std::log(z);
  return std::log(d.shape / d.scale) + (d.shape - 1) * lz - std::exp(d.shape * lz);
}
inline double pdf(const Weibull& d, double x) { return std::exp(log_pdf(d, x)); }
inline double quantile(const Weibull& d, double p) {
  if (!(p >= 0 && p <= 1)) return std::numeric_limits<double>::quiet_NaN();
  return d.loc + d.scale * std::pow(-std::log1p(-p), 1 / d.shape);
}
inline double quantile_complement(const Weibull& d, double q) {
  if (!(q >= 0 && q <= 1)) return std::numeric_limits<double>::quiet_NaN();
  return d.loc + d.scale * std::pow(-std::log(q), 1 / d.shape);
}
inline Support support(const Weibull& d) { return {d.loc, std::numeric_limits<double>::infinity()}; }

// From the GEV of -x (lmoments.cpp).
LmomentRatios lmoment_ratios(const Weibull& d);

}  // namespace korvalinde::dist
