// The four-parameter Kappa distribution with location xi, scale alpha > 0 and
// the shapes k and h, in Hosking's parametrisation and signs:
//   F(x) = [1 - h (1 - k z)^(1/k)]^(1/h),   z = (x - xi) / alpha,
//   x(F) = xi + alpha / k [1 - ((1 - F^h) / h)^k].
// h = 0 is the GEV with shape -k, h = 1 the generalized Pareto, h = -1 the
// generalized logistic; k = 0 and h = 0 are limits, reached continuously.
//
// Everything is written in w = ln(1 - k z) / k (-z at k = 0) and y = e^w,
// with ln F = ln(1 - h y) / h (-y at h = 0). log1p and expm1 keep w, ln F and
// the quantile exact for every small k and h, and ln(1 - F) is taken from w
// where y underflows.
#pragma once

#include <cmath>
#include <limits>
#include <numbers>

#include "korvalinde/dist/lmoment_ratios.hpp"
#include "korvalinde/dist/ratios.hpp"
#include "korvalinde/dist/support.hpp"

namespace korvalinde::dist {

struct Kappa {
  double loc = 0, scale = 1, k = 0, h = 0;
};

// The L-moment ratio diagram's bounds of the Kappa: (t3, t4) is attained by
// some Kappa exactly when it lies strictly below the generalized logistic's
// curve (h = -1) and strictly above the lower bound of every distribution,
// which the Kappa approaches as k and h grow without bound.
inline double tau4_glo(double t3) { return (1 + 5 * t3 * t3) / 6; }
inline double tau4_lower_bound(double t3) { return (5 * t3 * t3 - 1) / 4; }
inline bool kappa_region_contains(double t3, double t4) {
  return std::fabs(t3) < 1 && t4 < tau4_glo(t3) && t4 > tau4_lower_bound(t3);
}

namespace detail_kappa {

inline constexpr double kInf = std::numeric_limits<double>::infinity();
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

inline bool valid(const Kappa& d) {
  return d.scale > 0 && std::isfinite(d.scale) && std::isfinite(d.loc) && std::isfinite(d.k) &&
         std::isfinite(d.h);
}

// Where x lies: inside the support with w set, or beyond one of its ends.
enum class Place { inside, below, above, nan };

inline Place place_w(const Kappa& d, double x, double& w) {
  if (!valid(d) || std::isnan(x)) return Place::nan;
  if (std::isinf(x)) return x > 0 ? Place::above : Place::below;
  const double z = (x - d.loc) / d.scale;
  const double u = -d.k * z;
  if (!(u > -1)) return d.k > 0 ? Place::above : Place::below;
  w = -z * log1p_ratio(u);
  if (d.h > 0 && !(d.h * std::exp(w) < 1)) return Place::below;
  return Place::inside;
}

// ln F at w inside the support. For h > 0 next to the lower end, where
// h y nears 1, 1 - h y = -expm1(w + ln h); for h < 0 and y near overflow,
// ln F = -(ln(-h) + w + ln(1 + e^-w / -h)) / -h.
inline double log_cdf_w(const Kappa& d, double w) {
  const double y = std::exp(w);
  if (d.h == 0) return -y;
  if (d.h > 0 && d.h * y > 0.5) return std::log(-std::expm1(w + std::log(d.h))) / d.h;
  if (d.h < 0 && w > 700) return -(std::log(-d.h) + w + std::log1p(std::exp(-w) / -d.h)) / -d.h;
  return -y * log1p_ratio(-d.h * y);
}

// ln(-ln F) = w + ln(ln(1 - h y) / (-h y)), exact where y underflows; only
// called where F >= 1/2, so that h y is small.
inline double log_minus_log_cdf_w(const Kappa& d, double w) {
  return d.h == 0 ? w : w + std::log(log1p_ratio(-d.h * std::exp(w)));
}

// x at ln F = l in (-inf, 0): ln y = ln(-l) + ln((e^(h l) - 1) / (h l)),
// or h l - ln(-h) where e^(h l) overflows (h < 0), or ln(1 - F^h) - ln h in
// the lower tail for h > 0, then x = xi - alpha ln y (e^(k ln y) - 1) / (k ln y).
inline double x_of_log_cdf(const Kappa& d, double l) {
  const double v = d.h * l;
  const double lny = v > 700                ? v - std::log(-d.h)
                     : v < -std::numbers::ln2 ? std::log1p(-std::exp(v)) - std::log(d.h)
                                              : std::log(-l) + std::log(expm1_ratio(v));
  return d.loc - d.scale * lny * expm1_ratio(d.k * lny);
}

// (ln Gamma(a + e) - ln Gamma(a)) / e for a > 0 and a + e > 0, psi(a) at
// e = 0, accurate relative to its value for every e: the difference of two
// log-gammas would cancel where e is small. The recurrence moves both
// arguments to A = a + n >= 15, less ln(1 + e / (a + j)) / e for j < n; there
// Stirling's series gives
//   (A - 1/2) ln(1 + e/A) / e + ln(A + e) - 1
//     + sum_m B_2m / (2m (2m - 1)) ((A + e)^(1-2m) - A^(1-2m)) / e,
// every term a log1p or expm1 of e / A; six terms leave less than 1e-17.
// Returned less ln(A + e), with A + e in `arg`, so that differences at large
// arguments take the log of a ratio rather than cancel.
inline double lgamma_slope_rest(double a, double e, double& arg) {
  static constexpr double kStirling[6] = {1.0 / 12, -1.0 / 360, 1.0 / 1260, -1.0 / 1680, 1.0 / 1188,
                                          -691.0 / 360360};
  double shift = 0;
  for (int n = 0; n < 15 && std::fmin(a, a + e) < 15; ++n) {
    shift += log1p_ratio(e / a) / a;
    a += 1;
  }
  const double u = e / a, lr = log1p_ratio(u), l = std::log1p(u);
  double sum = (a - 0.5) / a * lr - 1;
  double power = 1 / a;  // A^(1-2m)
  for (int m = 1; m <= 6; ++m) {
    const double c = 1 - 2 * m;
    sum += kStirling[m - 1] * power * c * lr / a * expm1_ratio(c * l);
    power /= a * a;
  }
  arg = a + e;
  return sum - shift;
}

inline double lgamma_slope(double a, double e) {
  double arg = 0;
  const double rest = lgamma_slope_rest(a, e, arg);
  return std::log(arg) + rest;
}

// lgamma_slope(a, e) - lgamma_slope(b, e).
inline double lgamma_slope_diff(double a, double b, double e) {
  double arg_a = 0, arg_b = 0;
  const double ra = lgamma_slope_rest(a, e, arg_a), rb = lgamma_slope_rest(b, e, arg_b);
  return std::log(arg_a / arg_b) + (ra - rb);
}

// Below |h| = 1e-15 the L-moments equal the GEV's (h = 0) to about 1e-15,
// closer than the terms of the general formula (ln h cancels in them) reach.
inline constexpr double kHZero = 1e-15;

// With g_r = r B(1 + k, r / h) / h^(1 + k) for h > 0 (r Gamma(1 + k) r^-(1+k)
// at h = 0, and r B(1 + k, -k - r / h) / (-h)^(1 + k) for h < 0), the
// L-moments are l1 = xi + alpha (1 - g_1) / k and differences of the g_r:
// l_2 = alpha (g_1 - g_2) / k, ... Here q(r) = ln(g_r) / k, exact at k = 0.
// ln |h| and the log in lgamma_slope are taken together, as the log of
// their product, which is near 1 for small h.
inline double log_g_over_k(double k, double h, int r) {
  const double base = lgamma_slope(1, k);
  if (std::fabs(h) < kHZero) return base - std::log(static_cast<double>(r));
  double arg = 0;
  const double rest = h > 0 ? lgamma_slope_rest(r / h + 1, k, arg) : lgamma_slope_rest(-r / h, -k, arg);
  return base - std::log(std::fabs(h) * arg) - rest;
}

// e_r = (g_r - g_1) / (k g_1) for r = 2..n (n <= 5), from q(r) - q(1), in
// which lgamma_slope(1, k) and ln |h| cancel exactly; the L-moment ratios
// are fixed combinations of them. False where the L-moments do not exist
// (k <= -1, or k >= -1/h for h < 0).
inline bool ratio_terms(double k, double h, int n, double* e) {
  if (!(k > -1) || !std::isfinite(k) || !std::isfinite(h) || (h < 0 && !(k * -h < 1))) return false;
  for (int r = 2; r <= n; ++r) {
    const double dq = std::fabs(h) < kHZero ? -std::log(static_cast<double>(r))
                      : h > 0                ? lgamma_slope_diff(1 / h + 1, r / h + 1, k)
                                             : lgamma_slope_diff(-1 / h, -r / h, -k);
    e[r] = dq * expm1_ratio(k * dq);
  }
  return true;
}

// t3, t4 and t5 from e_2..e_5 (e_1 = 0):
//   t3 = (2 e3 - 3 e2) / e2, t4 = (6 e2 - 10 e3 + 5 e4) / e2,
//   t5 = (-10 e2 + 30 e3 - 35 e4 + 14 e5) / e2.
inline double tau3_of(const double* e) { return (2 * e[3] - 3 * e[2]) / e[2]; }
inline double tau4_of(const double* e) { return (6 * e[2] - 10 * e[3] + 5 * e[4]) / e[2]; }
inline double tau5_of(const double* e) {
  return (-10 * e[2] + 30 * e[3] - 35 * e[4] + 14 * e[5]) / e[2];
}

// l1 = xi + alpha m1 and l2 = alpha m2 for the Kappa of unit scale at xi = 0:
// m1 = -(g_1 - 1) / k = -q(1) (e^(k q(1)) - 1) / (k q(1)), m2 = -g_1 e_2.
inline void location_scale_terms(double k, double h, double e2, double& m1, double& m2) {
  const double q1 = log_g_over_k(k, h, 1);
  m1 = -q1 * expm1_ratio(k * q1);
  m2 = -std::exp(k * q1) * e2;
}

}  // namespace detail_kappa

inline Support support(const Kappa& d) {
  if (!detail_kappa::valid(d)) return {detail_kappa::kNaN, detail_kappa::kNaN};
  double lower = -detail_kappa::kInf;
  if (d.h > 0) {
    const double lh = std::log(d.h);  // xi + alpha (1 - h^-k) / k
    lower = d.loc + d.scale * lh * expm1_ratio(-d.k * lh);
  } else if (d.k < 0) {
    lower = d.loc + d.scale / d.k;
  }
  const double upper = d.k > 0 ? d.loc + d.scale / d.k : detail_kappa::kInf;
  return {lower, upper};
}

inline double log_cdf(const Kappa& d, double x) {
  using detail_kappa::Place;
  double w = 0;
  switch (detail_kappa::place_w(d, x, w)) {
    case Place::nan: return detail_kappa::kNaN;
    case Place::below: return -detail_kappa::kInf;
    case Place::above: return 0;
    case Place::inside: break;
  }
  return detail_kappa::log_cdf_w(d, w);
}

inline double cdf(const Kappa& d, double x) { return std::exp(log_cdf(d, x)); }

// ln(1 - F): log1p(-F) where F < 1/2; above, ln(-ln F) + ln((1 - F) / -ln F)
// with ln(-ln F) from w, so that the far upper tail keeps its digits.
inline double log_sf(const Kappa& d, double x) {
  using detail_kappa::Place;
  double w = 0;
  switch (detail_kappa::place_w(d, x, w)) {
    case Place::nan: return detail_kappa::kNaN;
    case Place::below: return 0;
    case Place::above: return -detail_kappa::kInf;
    case Place::inside: break;
  }
  const double l = detail_kappa::log_cdf_w(d, w);
  if (l < -std::numbers::ln2) return std::log1p(-std::exp(l));
  return detail_kappa::log_minus_log_cdf_w(d, w) + std::log(expm1_ratio(l));
}

inline double sf(const Kappa& d, double x) { return std::exp(log_sf(d, x)); }

// ln f = -ln alpha + (1 - k) w + (1 - h) ln F.
inline double log_pdf(const Kappa& d, double x) {
  using detail_kappa::Place;
  double w = 0;
  const Place p = detail_kappa::place_w(d, x, w);
  if (p == Place::nan) return detail_kappa::kNaN;
  if (p != Place::inside) return -detail_kappa::kInf;
  const double l = detail_kappa::log_cdf_w(d, w);
  return -std::log(d.scale) + (1 - d.k) * w + (1 - d.h) * l;
}

inline double pdf(const Kappa& d, double x) { return std::exp(log_pdf(d, x)); }

inline double quantile(const Kappa& d, double p) {
  if (!detail_kappa::valid(d) || !(p >= 0 && p <= 1)) return detail_kappa::kNaN;
  if (p == 0) return support(d).lower;
  if (p == 1) return support(d).upper;
  return detail_kappa::x_of_log_cdf(d, std::log(p));
}

// The level exceeded with probability q, with ln F = log1p(-q) unrounded.
inline double quantile_complement(const Kappa& d, double q) {
  if (!detail_kappa::valid(d) || !(q >= 0 && q <= 1)) return detail_kappa::kNaN;
  if (q == 0) return support(d).upper;
  if (q == 1) return support(d).lower;
  return detail_kappa::x_of_log_cdf(d, std::log1p(-q));
}

// l1, l2, t3, t4, t5 where they exist (k > -1, and k < -1/h for h < 0);
// NaN otherwise.
inline LmomentRatios lmoment_ratios(const Kappa& d) {
  const double nan = detail_kappa::kNaN;
  double e[6];
  if (!detail_kappa::valid(d) || !detail_kappa::ratio_terms(d.k, d.h, 5, e)) return {nan, nan, nan, nan, nan};
  double m1 = 0, m2 = 0;
  detail_kappa::location_scale_terms(d.k, d.h, e[2], m1, m2);
  return {d.loc + d.scale * m1, d.scale * m2, detail_kappa::tau3_of(e), detail_kappa::tau4_of(e),
          detail_kappa::tau5_of(e)};
}

}  // namespace korvalinde::dist
