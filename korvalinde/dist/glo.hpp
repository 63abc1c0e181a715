// The generalized logistic distribution with location, scale > 0 and shape:
// F(x) = 1 / (1 + e^-y), y = ln(1 + shape z) / shape, z = (x - loc) / scale;
// shape > 0 is the heavy upper tail, bounded below at loc - scale / shape
// (Hosking's k = -shape), shape 0 the logistic, reached continuously.
#pragma once

#include <cmath>
#include <numbers>

#include "korvalinde/dist/lmoment_ratios.hpp"
#include "korvalinde/dist/shape_variate.hpp"
#include "korvalinde/dist/special.hpp"
#include "korvalinde/dist/support.hpp"

namespace korvalinde::dist {

struct Glo {
  double loc = 0, scale = 1, shape = 0;
};

namespace detail_glo {
inline double y_or_end(const Glo& d, double x) {
  const double v = shape_variate(d.shape, (x - d.loc) / d.scale);
  if (!std::isnan(v) || std::isnan(x)) return v;
  return d.shape > 0 ? -special::kInf : special::kInf;
}
// ln(1 / (1 + e^-y)) without overflow on either side.
inline double log_logistic(double y) { return y < 0 ? y - std::log1p(std::exp(y)) : -std::log1p(std::exp(-y)); }
}  // namespace detail_glo

inline double cdf(const Glo& d, double x) { return 1 / (1 + std::exp(-detail_glo::y_or_end(d, x))); }
inline double sf(const Glo& d, double x) { return 1 / (1 + std::exp(detail_glo::y_or_end(d, x))); }
inline double log_cdf(const Glo& d, double x) { return detail_glo::log_logistic(detail_glo::y_or_end(d, x)); }
inline double log_sf(const Glo& d, double x) { return detail_glo::log_logistic(-detail_glo::y_or_end(d, x)); }

// ln f = -ln scale - shape y + ln F + ln(1 - F).
inline double log_pdf(const Glo& d, double x) {
  const double v = shape_variate(d.shape, (x - d.loc) / d.scale);
  if (std::isnan(v)) return std::isnan(x) ? x : -special::kInf;
  return -std::log(d.scale) - d.shape * v + detail_glo::log_logistic(v) + detail_glo::log_logistic(-v);
}
inline double pdf(const Glo& d, double x) { return std::exp(log_pdf(d, x)); }

// y = ln(p / (1 - p)), from whichever of p and 1 - p is given exactly.
inline double quantile(const Glo& d, double p) {
  if (!(p >= 0 && p <= 1)) return special::kNaN;
  return d.loc + d.scale * shape_variate_inverse(d.shape, std::log(p) - std::log1p(-p));
}
inline double quantile_complement(const Glo& d, double q) {
  if (!(q >= 0 && q <= 1)) return special::kNaN;
  return d.loc + d.scale * shape_variate_inverse(d.shape, std::log1p(-q) - std::log(q));
}
inline Support support(const Glo& d) { return shape_support(d.loc, d.scale, d.shape); }

// Closed forms (k = -shape in Hosking's): l1 = loc + scale (pi s / sin(pi s) - 1) / s,
// l2 = scale pi s / sin(pi s), tau3 = s, tau4 = (1 + 5 s^2) / 6,
// tau5 = s (5 + 7 s^2) / 12; finite for |s| < 1.
inline LmomentRatios lmoment_ratios(const Glo& d) {
  const double s = d.shape;
  if (!(std::fabs(s) < 1)) return {special::kNaN, special::kNaN, special::kNaN, special::kNaN, special::kNaN};
  // g = pi s / sin(pi s); (g - 1) / s = (pi s - sin(pi s)) / (s sin(pi s)),
  // with x - sin x summed as its series where it cancels.
  const double ps = std::numbers::pi * s;
  const double g = s == 0 ? 1 : ps / std::sin(ps);
  double xs = ps - std::sin(ps);
  if (std::fabs(ps) < 1.5) {
    double term = ps, sum = 0;
    for (int k = 1; k <= 20; ++k) {
      term *= ps * ps / ((2 * k) * (2 * k + 1));
      sum += k % 2 == 1 ? term : -term;
    }
    xs = sum;
  }
  const double m = s == 0 ? 0 : xs / (s * std::sin(ps));
  return {d.loc + d.scale * m, d.scale * g, s, (1 + 5 * s * s) / 6, s * (5 + 7 * s * s) / 12};
}

}  // namespace korvalinde::dist
