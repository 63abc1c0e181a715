// The generalized extreme-value distribution with location mu, scale
// sigma > 0 and shape xi:
//   G(x) = exp(-[1 + xi (x - mu)/sigma]^(-1/xi))  where 1 + xi (x - mu)/sigma > 0,
// xi > 0 the heavy (Frechet-type) tail bounded below, xi < 0 the tail bounded
// above, xi = 0 the Gumbel distribution, reached continuously.
//
// Everything is written in L = ln(1 + xi z) / xi (z = (x - mu)/sigma), the
// Gumbel z when xi = 0: t = e^-L = [1 + xi z]^(-1/xi), G = exp(-t),
// ln g = -ln sigma - (1 + xi) L - t. log1p and expm1 keep L and the quantile
// exact for any small xi, so at xi = 1e-12 the values equal Gumbel's to about
// 1e-12 relative, and the derivatives that divide by powers of xi switch to
// their series where |xi z| is small.
#pragma once

#include <cmath>
#include <limits>

#include "korvalinde/dist/gumbel.hpp"

namespace korvalinde::dist {

struct Gev {
  double loc = 0, scale = 1, shape = 0;
};

// ln(1 + u) / u, 1 at u = 0.
inline double log1p_ratio(double u) { return u == 0 ? 1.0 : std::log1p(u) / u; }

// expm1(v) / v, 1 at v = 0.
inline double expm1_ratio(double v) { return v == 0 ? 1.0 : std::expm1(v) / v; }

// The GEV reduced variate of the Gumbel reduced variate y0 = -ln(-ln p):
// (e^(xi y0) - 1) / xi, which is y0 at xi = 0 and -1/xi at p = 1 for xi < 0.
inline double gev_reduced(double shape, double y0) {
  if (std::isinf(y0)) {
    const bool bounded = (y0 > 0) == (shape < 0);  // the end point on y0's side is finite
    return bounded ? -1.0 / shape : y0;
  }
  return y0 * expm1_ratio(shape * y0);
}

namespace detail_gev {

// L at x; NaN outside the support (1 + xi z <= 0), which the callers map to
// the end point's values.
inline double big_l(const Gev& d, double x) {
  const double z = (x - d.loc) / d.scale;
  const double u = d.shape * z;
  if (!(u > -1)) return std::numeric_limits<double>::quiet_NaN();
  return z * log1p_ratio(u);
}

// True when x lies beyond the lower end point (xi > 0), false beyond the
// upper one (xi < 0); only called outside the support.
inline bool below(const Gev& d) { return d.shape > 0; }

}  // namespace detail_gev

inline double cdf(const Gev& d, double x) {
  const double l = detail_gev::big_l(d, x);
  if (std::isnan(l)) return std::isnan(x) ? l : detail_gev::below(d) ? 0.0 : 1.0;
  return std::exp(-std::exp(-l));
}

inline double sf(const Gev& d, double x) {
  const double l = detail_gev::big_l(d, x);
  if (std::isnan(l)) return std::isnan(x) ? l : detail_gev::below(d) ? 1.0 : 0.0;
  return -std::expm1(-std::exp(-l));
}

inline double log_pdf(const Gev& d, double x) {
  const double l = detail_gev::big_l(d, x);
  if (std::isnan(l)) return std::isnan(x) ? l : -std::numeric_limits<double>::infinity();
  return -std::log(d.scale) - (1 + d.shape) * l - std::exp(-l);
}

// t^(1 + xi) e^-t / sigma as one exponential, so that neither factor
// overflows alone; 0 where t overflows.
inline double pdf(const Gev& d, double x) {
  const double l = detail_gev::big_l(d, x);
  if (std::isnan(l)) return std::isnan(x) ? l : 0.0;
  return std::exp(-(1 + d.shape) * l - std::exp(-l)) / d.scale;
}

inline double log_cdf(const Gev& d, double x) {
  const double l = detail_gev::big_l(d, x);
  if (std::isnan(l))
    return std::isnan(x) ? l : detail_gev::below(d) ? -std::numeric_limits<double>::infinity() : 0.0;
  return -std::exp(-l);
}

// ln(1 - G), with the series -L - t/2 where t = e^-L is below 1e-8.
inline double log_sf(const Gev& d, double x) {
  const double l = detail_gev::big_l(d, x);
  if (std::isnan(l))
    return std::isnan(x) ? l : detail_gev::below(d) ? 0.0 : -std::numeric_limits<double>::infinity();
  const double t = std::exp(-l);
  return t < 1e-8 ? -l - 0.5 * t : std::log(-std::expm1(-t));
}

inline double quantile(const Gev& d, double p) {
  return d.loc + d.scale * gev_reduced(d.shape, gumbel_reduced_closed(p));
}

inline double quantile_complement(const Gev& d, double q) {
  return d.loc + d.scale * gev_reduced(d.shape, gumbel_reduced_complement(q));
}

}  // namespace korvalinde::dist
