// The five-parameter Wakeby distribution in Hosking's parameters, defined by
// its quantile
//   x(F) = xi + alpha / beta (1 - (1 - F)^beta) - gamma / delta (1 - (1 - F)^-delta).
// It is a proper distribution when gamma >= 0, alpha + gamma > 0 and
// (alpha >= 0 or beta + delta >= 0); beta = 0 and delta = 0 are limits.
//
// Written in t = -ln(1 - F), the exponential variate:
//   x = xi + t (alpha E(-beta t) + gamma E(delta t)),  E(v) = (e^v - 1) / v,
//   dx/dt = alpha e^(-beta t) + gamma e^(delta t) > 0,
// so that the cdf is the root t of x(t) = x (there is no closed form),
// 1 - F = e^-t exactly, and the density is e^-t / (dx/dt).
#pragma once

#include <cmath>
#include <limits>
#include <numbers>

#include "korvalinde/dist/lmoment_ratios.hpp"
#include "korvalinde/dist/ratios.hpp"
#include "korvalinde/dist/support.hpp"

namespace korvalinde::dist {

struct Wakeby {
  double xi = 0, alpha = 1, beta = 0, gamma = 0, delta = 0;
};

namespace detail_wakeby {

inline constexpr double kInf = std::numeric_limits<double>::infinity();
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

inline bool valid(const Wakeby& d) {
  return std::isfinite(d.xi) && std::isfinite(d.alpha) && std::isfinite(d.beta) &&
         std::isfinite(d.gamma) && std::isfinite(d.delta) && d.gamma >= 0 && d.alpha + d.gamma > 0 &&
         (d.alpha >= 0 || d.beta + d.delta >= 0);
}

// x - xi at the exponential variate t >= 0.
inline double excess(const Wakeby& d, double t) {
  return t * (d.alpha * expm1_ratio(-d.beta * t) + d.gamma * expm1_ratio(d.delta * t));
}

// ln(dx/dt) = ln(alpha e^(-beta t) + gamma e^(delta t)), summed in logs so
// that neither exponential overflows alone.
inline double log_slope(const Wakeby& d, double t) {
  const double a = -d.beta * t, g = d.delta * t;
  if (d.gamma == 0) return std::log(d.alpha) + a;
  if (d.alpha == 0) return std::log(d.gamma) + g;
  if (d.alpha < 0) return std::log(d.gamma) + g + std::log1p(d.alpha / d.gamma * std::exp(a - g));
  const double la = std::log(d.alpha) + a, lg = std::log(d.gamma) + g;
  return la > lg ? la + std::log1p(std::exp(lg - la)) : lg + std::log1p(std::exp(la - lg));
}

// The exponential variate t >= 0 at which x - xi = z > 0 and below the upper
// end: Newton's method on ln(x(t) - xi) = ln z, which is close to linear in
// t in both tails, kept inside a bracket that bisection shrinks whenever a
// step would leave it.
inline double variate(const Wakeby& d, double z) {
  const double lz = std::log(z);
  double lo = 0, hi = 1;
  while (excess(d, hi) < z) {
    lo = hi;
    hi *= 2;
    if (std::isinf(hi)) return kInf;
  }
  // Near xi, x - xi is close to (alpha + gamma) t.
  double t = z / (d.alpha + d.gamma);
  if (!(t > lo && t < hi)) t = 0.5 * (lo + hi);
  for (int i = 0; i < 200; ++i) {
    const double e = excess(d, t);
    const double f = std::log(e) - lz;
    if (f == 0) return t;
    (f < 0 ? lo : hi) = t;
    // d ln(x - xi) / dt = (dx/dt) / (x - xi)
    double next = t - f / std::exp(log_slope(d, t) - std::log(e));
    if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
    constexpr double eps = std::numeric_limits<double>::epsilon();
    if (std::fabs(next - t) <= 4 * eps * t || hi - lo <= 4 * eps * hi) return next;
    t = next;
  }
  return t;
}

// t at x: 0 at or below xi, infinite at or above the upper end, NaN for NaN.
inline double variate_at(const Wakeby& d, double x) {
  if (!valid(d) || std::isnan(x)) return kNaN;
  const double z = x - d.xi;
  if (!(z > 0)) return 0;
  if (std::isinf(z)) return kInf;
  return variate(d, z);
}

}  // namespace detail_wakeby

// [xi, upper]: the upper end is finite when neither term grows without
// bound, xi + alpha / beta (beta > 0) + gamma / -delta (delta < 0).
inline Support support(const Wakeby& d) {
  using detail_wakeby::kInf;
  if (!detail_wakeby::valid(d)) return {detail_wakeby::kNaN, detail_wakeby::kNaN};
  const bool alpha_bounded = d.alpha == 0 || d.beta > 0;
  const bool gamma_bounded = d.gamma == 0 || d.delta < 0;
  if (!alpha_bounded || !gamma_bounded) return {d.xi, kInf};
  return {d.xi, d.xi + (d.alpha == 0 ? 0.0 : d.alpha / d.beta) + (d.gamma == 0 ? 0.0 : d.gamma / -d.delta)};
}

namespace detail_wakeby {
// x at the exponential variate t (t = inf the upper end).
inline double x_of_variate(const Wakeby& d, double t) {
  if (std::isinf(t)) return support(d).upper;
  return d.xi + excess(d, t);
}
}  // namespace detail_wakeby

inline double log_sf(const Wakeby& d, double x) {
  if (!detail_wakeby::valid(d) || std::isnan(x)) return detail_wakeby::kNaN;
  if (x >= support(d).upper) return -detail_wakeby::kInf;
  return -detail_wakeby::variate_at(d, x);
}

inline double sf(const Wakeby& d, double x) { return std::exp(log_sf(d, x)); }

inline double cdf(const Wakeby& d, double x) { return -std::expm1(log_sf(d, x)); }

// ln F = ln(1 - e^-t), by log1p where e^-t is below 1/2.
inline double log_cdf(const Wakeby& d, double x) {
  const double t = -log_sf(d, x);
  return t > std::numbers::ln2 ? std::log1p(-std::exp(-t)) : std::log(-std::expm1(-t));
}

// ln f = -t - ln(dx/dt); -inf outside [xi, upper].
inline double log_pdf(const Wakeby& d, double x) {
  if (!detail_wakeby::valid(d) || std::isnan(x)) return detail_wakeby::kNaN;
  if (x < d.xi || x >= support(d).upper) return -detail_wakeby::kInf;
  const double t = detail_wakeby::variate_at(d, x);
  return -t - detail_wakeby::log_slope(d, t);
}

inline double pdf(const Wakeby& d, double x) { return std::exp(log_pdf(d, x)); }

inline double quantile(const Wakeby& d, double p) {
  if (!detail_wakeby::valid(d) || !(p >= 0 && p <= 1)) return detail_wakeby::kNaN;
  return detail_wakeby::x_of_variate(d, -std::log1p(-p));
}

// The level exceeded with probability q: t = -ln q exactly.
inline double quantile_complement(const Wakeby& d, double q) {
  if (!detail_wakeby::valid(d) || !(q >= 0 && q <= 1)) return detail_wakeby::kNaN;
  return detail_wakeby::x_of_variate(d, -std::log(q));
}

// The L-moments exist for delta < 1 (and beta > -1):
//   l1 = xi + alpha / (1 + beta) + gamma / (1 - delta),
//   l_r = alpha (1 - beta)...(r - 2 - beta) / ((1 + beta)...(r + beta))
//       + gamma (1 + delta)...(r - 2 + delta) / ((1 - delta)...(r - delta)),
// r = 2..5; NaN otherwise.
inline LmomentRatios lmoment_ratios(const Wakeby& d) {
  const double nan = detail_wakeby::kNaN;
  if (!detail_wakeby::valid(d) || !(d.delta < 1) || !(d.beta > -1)) return {nan, nan, nan, nan, nan};
  double l[6];
  double a = d.alpha / (1 + d.beta), g = d.gamma / (1 - d.delta);
  l[1] = d.xi + a + g;
  for (int r = 2; r <= 5; ++r) {
    a *= (r > 2 ? (r - 2 - d.beta) : 1.0) / (r + d.beta);
    g *= (r > 2 ? (r - 2 + d.delta) : 1.0) / (r - d.delta);
    l[r] = a + g;
  }
  return {l[1], l[2], l[3] / l[2], l[4] / l[2], l[5] / l[2]};
}

}  // namespace korvalinde::dist
