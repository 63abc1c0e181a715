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
#include "korvalinde/dist/ratios.hpp"

namespace korvalinde::dist {

struct Gev {
  double loc = 0, scale = 1, shape = 0;
};

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

// ln(1 - G), with the series -L - t/2 where t = e^-L is below 1e-8, and
// relative where G is small (log1m_exp).
inline double log_sf(const Gev& d, double x) {
  const double l = detail_gev::big_l(d, x);
  if (std::isnan(l))
    return std::isnan(x) ? l : detail_gev::below(d) ? 0.0 : -std::numeric_limits<double>::infinity();
  const double t = std::exp(-l);
  return t < 1e-8 ? -l - 0.5 * t : log1m_exp(t);
}

inline double quantile(const Gev& d, double p) {
  return d.loc + d.scale * gev_reduced(d.shape, gumbel_reduced_closed(p));
}

inline double quantile_complement(const Gev& d, double q) {
  return d.loc + d.scale * gev_reduced(d.shape, gumbel_reduced_complement(q));
}

}  // namespace korvalinde::dist

// ---------------------------------------------------------------------------
// Support and L-moments of the GEV and the Gumbel.

#include "korvalinde/dist/lmoment_ratios.hpp"
#include "korvalinde/dist/shape_variate.hpp"
#include "korvalinde/dist/support.hpp"

namespace korvalinde::dist {

inline Support support(const Gev& d) { return shape_support(d.loc, d.scale, d.shape); }
inline Support support(const Gumbel&) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  return {-inf, inf};
}

// l1 = loc + scale (Gamma(1 - xi) - 1) / xi, and l_(r+1) = scale Gamma(1 - xi)
// sum_j p*_(r,j) ln(j + 1) ((j + 1)^xi - 1) / (xi ln(j + 1)) / (j + 1) with the
// shifted Legendre coefficients p*: exact at xi = 0 without a limit taken.
// Finite for xi < 1 (lmoments.cpp).
LmomentRatios lmoment_ratios(const Gev& d);
LmomentRatios lmoment_ratios(const Gumbel& d);

}  // namespace korvalinde::dist
