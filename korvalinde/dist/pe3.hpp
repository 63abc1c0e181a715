// The Pearson type III distribution given by its mean, standard deviation
// sd > 0 and skew. For skew != 0 it is a gamma law of shape a = 4 / skew^2
// in g = a + 2 z / skew, z = (x - mean) / sd: F = P(a, g) for a positive
// skew (bounded below at mean - 2 sd / skew), F = Q(a, g) for a negative one
// (bounded above), with Boost.Math's regularised incomplete gamma functions,
// which are accurate for both signs (evaluated in double: within a few units
// in the last place of the long double ones), and gamma_variate.hpp's inverse
// (Boost's where that one declines). Below |skew| = 5e-8
// it is the normal: there the rounding of g (about 2e-16 / |skew| in z) and
// the normal's error (about |skew| / 6 in F) meet near 1e-8, which is how
// close the two sides come at the switch.
#pragma once

#include <array>
#include <boost/math/special_functions/digamma.hpp>
#include <boost/math/special_functions/gamma.hpp>
#include <cmath>

#include "korvalinde/dist/gamma_variate.hpp"
#include "korvalinde/dist/lmoment_ratios.hpp"
#include "korvalinde/dist/special.hpp"
#include "korvalinde/dist/support.hpp"

namespace korvalinde::dist {

struct Pe3 {
  double mean = 0, sd = 1, skew = 0;
};

namespace detail_pe3 {

using P = special::DoublePolicy;

inline constexpr double kNormalSkew = 1e-150;
// Above this gamma shape (|skew| below 2e-3) Temme's expansion replaces Boost.
inline constexpr double kLargeShape = 1e6;

inline bool normal(const Pe3& d) { return std::fabs(d.skew) < kNormalSkew; }
inline double z(const Pe3& d, double x) { return (x - d.mean) / d.sd; }
inline double a(const Pe3& d) { return 4 / (d.skew * d.skew); }
inline double g(const Pe3& d, double x) { return a(d) + 2 * z(d, x) / d.skew; }

// {ln F, ln(1 - F)}: the gamma law's ln P and ln Q of g, swapped for a
// negative skew; Temme's expansion in mu = g / a - 1 = z skew / 2 for a large a.
inline special::LogPQ log_fs(const Pe3& d, double x) {
  const double av = a(d);
  special::LogPQ r;
  if (av > kLargeShape) {
    r = special::log_gamma_pq_large(av, z(d, x) * d.skew / 2);
  } else {
    const double gv = g(d, x);
    if (std::isnan(gv)) return {gv, gv};
    r = special::log_gamma_pq<P>(av, gv);
  }
  if (std::isnan(r.p)) {  // beyond the end point
    if (std::isnan(x)) return r;
    r = {-special::kInf, 0};
  }
  return d.skew > 0 ? r : special::LogPQ{r.q, r.p};
}

// {F, 1 - F}.
inline special::LogPQ fs(const Pe3& d, double x) {
  const double av = a(d);
  if (av > kLargeShape) {
    const auto l = log_fs(d, x);
    return {std::exp(l.p), std::exp(l.q)};
  }
  const double gv = g(d, x);
  if (std::isnan(gv)) return {gv, gv};
  special::LogPQ r{0, 1};
  if (gv == special::kInf) r = {1, 0};
  else if (gv > 0) r = {boost::math::gamma_p(av, gv, P()), boost::math::gamma_q(av, gv, P())};
  return d.skew > 0 ? r : special::LogPQ{r.q, r.p};
}

// x of the gamma variate g.
inline double x_of(const Pe3& d, double gv) { return d.mean + d.sd * (gv - a(d)) * (d.skew / 2); }

// The gamma variate g of shape a with P(a, g) = p (`lower`) or Q(a, g) = p:
// the quick inverse for the usual shapes and tails, Boost's elsewhere.
inline double variate(double a, double p, bool lower) {
  const double g = special::gamma_variate(a, p, lower);
  if (!std::isnan(g)) return g;
  return lower ? boost::math::gamma_p_inv(a, p, P()) : boost::math::gamma_q_inv(a, p, P());
}

// dg/da at fixed P(a, g) (implicitly: -dP/da / f(a, g)) from the series
// P = x^a e^-x / Gamma(a + 1) S, S = sum_n t_n, t_n = prod_{k <= n} x / (a + k):
// d ln P / da = ln x - psi(a + 1) + S' / S, S' = -sum_n t_n sum_{k <= n} 1 / (a + k),
// and f = P a / (x S), so dg/da = -(x / a) ((ln x - psi(a + 1)) S + S').
// Its absolute error is near 1e-16 ln(x) P / f: 1e-12 at an upper tail of
// 1e-3. NaN where the series would need more than a few thousand terms
// (shapes beyond about 1e5) or its terms grow too large (x far above a).
inline double variate_da(double a, double x) {
  if (!(x > 0 && x < special::kInf)) return special::kNaN;
  double t = 1, sum = 1, dsum = 0, harmonic = 0;
  for (int n = 1; n < 5000; ++n) {
    const double ak = a + n;
    t *= x / ak;
    harmonic += 1 / ak;
    sum += t;
    dsum -= t * harmonic;
    if (t > 1e250) break;
    if (ak > x && t * (1 + harmonic) < 1e-17 * sum) {
      return -(x / a) * ((std::log(x) - boost::math::digamma(a + 1, P())) * sum + dsum);
    }
  }
  return special::kNaN;
}

}  // namespace detail_pe3

inline double cdf(const Pe3& d, double x) {
  if (detail_pe3::normal(d)) return special::norm_cdf(detail_pe3::z(d, x));
  return detail_pe3::fs(d, x).p;
}
inline double sf(const Pe3& d, double x) {
  if (detail_pe3::normal(d)) return special::norm_sf(detail_pe3::z(d, x));
  return detail_pe3::fs(d, x).q;
}
inline double log_cdf(const Pe3& d, double x) {
  if (detail_pe3::normal(d)) return special::norm_log_cdf(detail_pe3::z(d, x));
  return detail_pe3::log_fs(d, x).p;
}
inline double log_sf(const Pe3& d, double x) {
  if (detail_pe3::normal(d)) return special::norm_log_sf(detail_pe3::z(d, x));
  return detail_pe3::log_fs(d, x).q;
}

// {ln F, ln(1 - F)} together, at the cost of one of them.
inline special::LogPQ log_cdf_sf(const Pe3& d, double x) {
  if (detail_pe3::normal(d)) {
    const double z = detail_pe3::z(d, x);
    return {special::norm_log_cdf(z), special::norm_log_sf(z)};
  }
  return detail_pe3::log_fs(d, x);
}

// The gamma density of g times |dg/dx| = 2 / (sd |skew|); its logarithm from
// Boost's density where that is representable (it avoids the cancellation of
// the terms of order a in (a - 1) ln g - g - ln Gamma(a)).
inline double log_pdf(const Pe3& d, double x) {
  if (detail_pe3::normal(d)) return special::norm_log_pdf(detail_pe3::z(d, x)) - std::log(d.sd);
  const double gv = detail_pe3::g(d, x), a = detail_pe3::a(d);
  if (std::isnan(gv)) return gv;
  if (a > detail_pe3::kLargeShape) {
    // a ln(1 + mu) - a mu - ln(1 + mu) - ln(sqrt(2 pi) sd Gamma*(a)) with
    // Gamma*(a) = Gamma(a) e^a / (sqrt(2 pi) a^(a - 1/2)) = e^(1/(12 a) - ...).
    const double mu = detail_pe3::z(d, x) * d.skew / 2;
    if (!(mu > -1)) return -special::kInf;
    return a * boost::math::log1pmx(mu, special::Policy()) - std::log1p(mu) - special::kLogSqrt2Pi -
           std::log(d.sd) - 1 / (12 * a);
  }
  if (!(gv > 0) || gv == special::kInf) return -special::kInf;
  const double jac = std::log(2 / (d.sd * std::fabs(d.skew)));
  const double f = boost::math::gamma_p_derivative(a, gv, detail_pe3::P());
  if (f > 1e-290 && std::isfinite(f)) return std::log(f) + jac;
  return (a - 1) * std::log(gv) - gv - boost::math::lgamma(a, special::Policy()) + jac;
}
inline double pdf(const Pe3& d, double x) { return std::exp(log_pdf(d, x)); }

inline double quantile(const Pe3& d, double p) {
  if (detail_pe3::normal(d)) return d.mean + d.sd * special::norm_quantile(p);
  if (!(p >= 0 && p <= 1)) return special::kNaN;
  const double a = detail_pe3::a(d);
  // F = P(a, g) rises with g for a positive skew, F = Q(a, g) falls.
  const bool up = d.skew > 0;
  if (p == 0) return up ? detail_pe3::x_of(d, 0) : -special::kInf;
  if (a > detail_pe3::kLargeShape && p < 1) {
    // Newton on ln F (or ln(1 - F) above the median) from the Cornish-Fisher
    // start y + skew (y^2 - 1) / 6.
    const double y = special::norm_quantile(p);
    const bool upper = p > 0.5;
    const double target = upper ? std::log1p(-p) : std::log(p);
    double x = d.mean + d.sd * (y + d.skew * (y * y - 1) / 6);
    for (int it = 0; it < 50; ++it) {
      const auto l = detail_pe3::log_fs(d, x);
      const double lv = upper ? l.q : l.p;
      const double slope = std::exp(log_pdf(d, x) - lv) * (upper ? -1 : 1);
      const double step = (lv - target) / slope;
      if (!std::isfinite(step)) break;
      x -= step;
      if (std::fabs(step) <= 1e-16 * (std::fabs(x) + d.sd)) break;
    }
    return x;
  }
  if (p == 1) return up ? special::kInf : detail_pe3::x_of(d, 0);
  return detail_pe3::x_of(d, detail_pe3::variate(a, p, up));
}
inline double quantile_complement(const Pe3& d, double q) {
  if (detail_pe3::normal(d)) return d.mean + d.sd * special::norm_quantile_complement(q);
  if (!(q >= 0 && q <= 1)) return special::kNaN;
  return quantile(Pe3{d.mean, -d.sd, -d.skew}, q);
}

// The quantile at lower probability p (upper, with `upper`) and its
// gradient in (mean, sd, skew): 1, the standardized quantile w, and sd dw/dskew
// with, for g the gamma variate, w = (g - a) skew / 2 and a = 4 / skew^2,
//   dw/dskew = (g - a) / 2 + a (1 - dg/da)
// for either sign of the skew (a negative skew mirrors the variate).
// ok false where the analytic form is not accurate to 1e-10 or has none
// (|skew| below 0.1, p at 0 or 1): differentiate the quantile there.
struct QuantileGradient {
  double x = special::kNaN;
  std::array<double, 3> grad{};
  bool ok = false;
};
inline QuantileGradient quantile_gradient(const Pe3& d, double p, bool upper) {
  QuantileGradient r;
  const Pe3 e = upper ? Pe3{d.mean, -d.sd, -d.skew} : d;
  if (detail_pe3::normal(e) || !(p > 0 && p < 1)) return r;
  // Above a = 400 (|skew| below 0.1) the a (1 - dg/da) cancels more than
  // 1e-10 of dw/dskew away (1e-6 at a = 1e5).
  const double a = detail_pe3::a(e);
  if (!(a <= 400)) return r;
  const double g = detail_pe3::variate(a, p, e.skew > 0);
  const double dg = detail_pe3::variate_da(a, g);
  if (!std::isfinite(dg)) return r;
  r.x = detail_pe3::x_of(e, g);
  r.grad = {1, (g - a) * (d.skew / 2), d.sd * ((g - a) / 2 + a * (1 - dg))};
  r.ok = std::isfinite(r.x) && std::isfinite(r.grad[1]) && std::isfinite(r.grad[2]);
  return r;
}

inline Support support(const Pe3& d) {
  if (detail_pe3::normal(d)) return {-special::kInf, special::kInf};
  const double end = d.mean - 2 * d.sd / d.skew;
  return d.skew > 0 ? Support{end, special::kInf} : Support{-special::kInf, end};
}

// l1 = mean, l2 = sd Gamma(a + 1/2) / (sqrt(pi a) Gamma(a)),
// tau3 = sign(skew) (6 I_{1/3}(a, 2a) - 3), tau4 and tau5 by quadrature
// (lmoments.cpp).
LmomentRatios lmoment_ratios(const Pe3& d);
// tau3 of the skew alone, odd in it.
double pe3_tau3(double skew);
// tau4 alone, as lmoment_ratios gives it (without the costly tau5).
double pe3_tau4(double skew);

}  // namespace korvalinde::dist
