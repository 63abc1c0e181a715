// The generalized Pareto distribution of an excess y >= 0 over a threshold,
// with scale sigma > 0 and shape xi:
//   H(y) = 1 - (1 + xi y / sigma)^(-1/xi),  and 1 - exp(-y / sigma) at xi = 0,
// on 0 <= y < -sigma / xi when xi < 0. Every function goes through
// ln(1 - H) = -(y / sigma) log1p(z) / z with z = xi y / sigma, exact to
// rounding for any small z: small shapes pass smoothly into the exponential
// limit.
#pragma once

#include <cmath>
#include <limits>
#include <numbers>

#include "korvalinde/dist/ratios.hpp"

namespace korvalinde::dist {

struct Gpd {
  double scale, shape;
};

namespace gpd_detail {
inline constexpr double kInf = std::numeric_limits<double>::infinity();
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline bool valid(const Gpd& d) { return d.scale > 0 && std::isfinite(d.scale) && std::isfinite(d.shape); }
}  // namespace gpd_detail

// ln(1 - H(y)): 0 below the support, -inf above it.
inline double log_sf(const Gpd& d, double y) {
  if (!gpd_detail::valid(d) || std::isnan(y)) return gpd_detail::kNaN;
  if (y <= 0) return 0;
  const double t = y / d.scale;
  const double z = d.shape * t;
  if (!(z > -1)) return -gpd_detail::kInf;
  return -t * log1p_ratio(z);
}

inline double sf(const Gpd& d, double y) { return std::exp(log_sf(d, y)); }
inline double cdf(const Gpd& d, double y) { return -std::expm1(log_sf(d, y)); }

// ln H(y), accurate where H is small (expm1) and where it is near 1 (log1p).
inline double log_cdf(const Gpd& d, double y) {
  const double l = log_sf(d, y);
  return l > -std::numbers::ln2 ? std::log(-std::expm1(l)) : std::log1p(-std::exp(l));
}

inline double log_pdf(const Gpd& d, double y) {
  if (!gpd_detail::valid(d) || std::isnan(y)) return gpd_detail::kNaN;
  if (y < 0) return -gpd_detail::kInf;
  const double z = d.shape * y / d.scale;
  if (!(z > -1)) return -gpd_detail::kInf;
  return -std::log(d.scale) + log_sf(d, y) - std::log1p(z);
}

inline double pdf(const Gpd& d, double y) { return std::exp(log_pdf(d, y)); }

// The excess exceeded with probability e^l (l = ln(1 - p) <= 0):
// y = sigma (-l) expm1(-xi l) / (-xi l).
inline double quantile_log_sf(const Gpd& d, double l) {
  if (!gpd_detail::valid(d) || !(l <= 0)) return gpd_detail::kNaN;
  if (l == -gpd_detail::kInf) return d.shape < 0 ? -d.scale / d.shape : gpd_detail::kInf;
  return d.scale * -l * expm1_ratio(-d.shape * l);
}

inline double quantile(const Gpd& d, double p) {
  if (!(p >= 0 && p <= 1)) return gpd_detail::kNaN;
  return quantile_log_sf(d, std::log1p(-p));
}

// The excess exceeded with probability q.
inline double quantile_complement(const Gpd& d, double q) {
  if (!(q >= 0 && q <= 1)) return gpd_detail::kNaN;
  return quantile_log_sf(d, std::log(q));
}

}  // namespace korvalinde::dist

#include "korvalinde/dist/support.hpp"

namespace korvalinde::dist {
inline Support support(const Gpd& d) {
  return {0, d.shape < 0 ? -d.scale / d.shape : std::numeric_limits<double>::infinity()};
}
}  // namespace korvalinde::dist
