// The generalized normal distribution (three-parameter lognormal) with
// location, scale > 0 and shape: F(x) = Phi(y), y = ln(1 + shape z) / shape,
// z = (x - loc) / scale; shape > 0 is the heavy upper tail, bounded below at
// loc - scale / shape (Hosking's k = -shape), and shape 0 the normal,
// reached continuously.
#pragma once

#include <cmath>

#include "korvalinde/dist/lmoment_ratios.hpp"
#include "korvalinde/dist/shape_variate.hpp"
#include "korvalinde/dist/special.hpp"
#include "korvalinde/dist/support.hpp"

namespace korvalinde::dist {

struct Gno {
  double loc = 0, scale = 1, shape = 0;
};

namespace detail_gno {
inline double y(const Gno& d, double x) { return shape_variate(d.shape, (x - d.loc) / d.scale); }
// y on the far side of the support's end point, or NaN for a NaN x.
inline double outside(const Gno& d, double x) {
  return std::isnan(x) ? x : d.shape > 0 ? -special::kInf : special::kInf;
}
inline double y_or_end(const Gno& d, double x) {
  const double v = y(d, x);
  return std::isnan(v) ? outside(d, x) : v;
}
}  // namespace detail_gno

inline double cdf(const Gno& d, double x) { return special::norm_cdf(detail_gno::y_or_end(d, x)); }
inline double sf(const Gno& d, double x) { return special::norm_sf(detail_gno::y_or_end(d, x)); }
inline double log_cdf(const Gno& d, double x) { return special::norm_log_cdf(detail_gno::y_or_end(d, x)); }
inline double log_sf(const Gno& d, double x) { return special::norm_log_sf(detail_gno::y_or_end(d, x)); }

// ln f = -ln scale - shape y + ln phi(y), since dy/dx = e^(-shape y) / scale.
inline double log_pdf(const Gno& d, double x) {
  const double v = detail_gno::y(d, x);
  if (std::isnan(v)) return std::isnan(x) ? x : -special::kInf;
  return -std::log(d.scale) - d.shape * v + special::norm_log_pdf(v);
}
inline double pdf(const Gno& d, double x) { return std::exp(log_pdf(d, x)); }

inline double quantile(const Gno& d, double p) {
  return d.loc + d.scale * shape_variate_inverse(d.shape, special::norm_quantile(p));
}
inline double quantile_complement(const Gno& d, double q) {
  return d.loc + d.scale * shape_variate_inverse(d.shape, special::norm_quantile_complement(q));
}
inline Support support(const Gno& d) { return shape_support(d.loc, d.scale, d.shape); }

// tau3 from Hosking's integral, tau4 and tau5 by quadrature (lmoments.cpp).
LmomentRatios lmoment_ratios(const Gno& d);
// tau3 of the shape alone, odd in it.
double gno_tau3(double shape);
// tau4 alone, as lmoment_ratios gives it (without the costly tau5).
double gno_tau4(double shape);

}  // namespace korvalinde::dist
