// L-moments of the families without closed forms for every ratio: the GEV
// family's sums, Hosking's integral for the generalized normal's tau3, the
// incomplete beta function for the Pearson III's, and quadrature for the
// rest.
//
// The quadratures integrate by parts: with F and S = 1 - F,
//   l_(r+1) = integral of F S w_r(F) dx,
//   w_1 = 1, w_2 = F - S, w_3 = 1 - 5 F S, w_4 = (F - S)(1 - 7 F S),
// whose integrands vanish in both tails and are written in F and S alike, so
// neither tail loses precision to 1 - F. Double-exponential quadrature
// (Boost.Math's tanh-sinh and exp-sinh) converges to rounding on these
// smooth integrands, also at the singular end point of a gamma law of small
// shape.
#include <array>
#include <boost/math/quadrature/exp_sinh.hpp>
#include <boost/math/quadrature/gauss.hpp>
#include <boost/math/quadrature/tanh_sinh.hpp>
#include <boost/math/special_functions/beta.hpp>
#include <boost/math/special_functions/gamma.hpp>
#include <cmath>
#include <numbers>

#include "korvalinde/dist/gev.hpp"
#include "korvalinde/dist/gno.hpp"
#include "korvalinde/dist/lognormal.hpp"
#include "korvalinde/dist/normal.hpp"
#include "korvalinde/dist/pe3.hpp"
#include "korvalinde/dist/weibull.hpp"

namespace korvalinde::dist {

namespace {

constexpr double kNaN = special::kNaN;
constexpr double kTol = 1e-15;

double w_r(int r, double f, double s) {
  switch (r) {
    case 2: return f - s;
    case 3: return 1 - 5 * f * s;
    default: return (f - s) * (1 - 7 * f * s);
  }
}

// One integrator per thread: they extend their tables as they go.
boost::math::quadrature::exp_sinh<double>& half_line() {
  thread_local boost::math::quadrature::exp_sinh<double> q;
  return q;
}
boost::math::quadrature::tanh_sinh<double>& interval() {
  thread_local boost::math::quadrature::tanh_sinh<double> q;
  return q;
}

// tau3, tau4, tau5 of the GEV of shape xi from e_j = ln(j+1) expm1_ratio(xi
// ln(j+1)) / (j+1): l_(r+1) / (scale Gamma(1 - xi)) = sum_j p*_(r,j) e_j.
std::array<double, 3> gev_taus(double xi) {
  std::array<double, 5> e{};
  for (int j = 1; j < 5; ++j) {
    const double lj = std::log(j + 1.0);
    e[j] = lj * expm1_ratio(xi * lj) / (j + 1);
  }
  const double l2 = 2 * e[1];
  const double l3 = -6 * e[1] + 6 * e[2];
  const double l4 = 12 * e[1] - 30 * e[2] + 20 * e[3];
  const double l5 = -20 * e[1] + 90 * e[2] - 140 * e[3] + 70 * e[4];
  return {l3 / l2, l4 / l2, l5 / l2};
}

}  // namespace

LmomentRatios lmoment_ratios(const Gev& d) {
  const double xi = d.shape;
  if (!(xi < 1)) return {kNaN, kNaN, kNaN, kNaN, kNaN};
  const double gm1 = boost::math::tgamma1pm1(-xi, special::Policy());
  const double m = xi == 0 ? std::numbers::egamma : gm1 / xi;
  const auto t = gev_taus(xi);
  const double l2 = d.scale * (1 + gm1) * std::numbers::ln2 * expm1_ratio(xi * std::numbers::ln2);
  return {d.loc + d.scale * m, l2, t[0], t[1], t[2]};
}

LmomentRatios lmoment_ratios(const Gumbel& d) { return lmoment_ratios(Gev{d.loc, d.scale, 0}); }

// -x is a GEV of shape -1/shape: the odd ratios change sign.
LmomentRatios lmoment_ratios(const Weibull& d) {
  if (!(d.shape > 0)) return {kNaN, kNaN, kNaN, kNaN, kNaN};
  const double delta = 1 / d.shape;
  const double g = boost::math::tgamma(1 + delta, special::Policy());
  const auto t = gev_taus(-delta);
  return {d.loc + d.scale * g, -d.scale * g * std::expm1(-delta * std::numbers::ln2), -t[0], t[1], -t[2]};
}

// Hosking's tau3 = 6 / (sqrt(pi) erf(s/2)) int_0^(s/2) erf(x / sqrt 3) e^(-x^2) dx;
// the integrand is entire and below 1e-19 beyond x = 6.5, so a 30-point
// Gauss rule over [0, min(s/2, 6.5)] is exact to rounding.
double gno_tau3(double shape) {
  const double s = std::fabs(shape);
  if (s == 0) return 0;
  if (std::isinf(s)) return std::copysign(1.0, shape);
  const double h = std::min(s / 2, 6.5);
  const double inv_sqrt3 = 1 / std::sqrt(3.0);
  // In halves: the Gauss rule on each stays far from its convergence limit.
  auto f = [&](double x) { return std::erf(x * inv_sqrt3) * std::exp(-x * x); };
  using G = boost::math::quadrature::gauss<double, 30>;
  const double v = G::integrate(f, 0.0, h / 2) + G::integrate(f, h / 2, h);
  const double t = 6 / (std::sqrt(std::numbers::pi) * std::erf(s / 2)) * v;
  return std::copysign(t, shape);
}

namespace {

// l2 / scale = e^(s^2/2) erf(s/2) / s.
double gno_l2(double s) {
  const double as = std::fabs(s);
  const double erf_ratio = s == 0 ? 1 / std::sqrt(std::numbers::pi) : std::erf(as / 2) / as;
  return erf_ratio * std::exp(s * s / 2);
}

// l_(r+1) / scale by quadrature over the normal variate y >= 0, folding y and
// -y (x = (e^(s y) - 1) / s, dx = e^(s y) dy):
//   l_(r+1) / scale = int_0^inf Phi(y) Phi(-y) w_r(Phi(y)) (e^(s y) +- e^(-s y)) dy,
// the sum for even w_r, the difference for odd, in logs so that nothing
// overflows far out.
double gno_lr(double s, int r) {
  const double as = std::fabs(s);
  const bool odd = r % 2 == 0;  // w_2, w_4 change sign with y
  if (odd && s == 0) return 0.0;
  auto f = [&](double y) {
    const double lf = special::norm_log_cdf(y), ls = special::norm_log_sf(y);
    const double base = std::exp(lf + ls + as * y);
    if (!(base > 0) || !std::isfinite(base)) return 0.0;  // far out, where ls + as y is -inf + inf
    const double fold = odd ? -std::expm1(-2 * as * y) : 1 + std::exp(-2 * as * y);
    return base * fold * w_r(r, std::exp(lf), std::exp(ls));
  };
  const double v = half_line().integrate(f, 0.0, special::kInf, kTol);
  return odd ? std::copysign(v, s) : v;
}

}  // namespace

double gno_tau4(double shape) {
  if (!std::isfinite(shape)) return kNaN;
  return gno_lr(shape, 3) / gno_l2(shape);
}

// tau4 and tau5 by quadrature (see gno_lr).
LmomentRatios lmoment_ratios(const Gno& d) {
  const double s = d.shape;
  if (!std::isfinite(s)) return {kNaN, kNaN, kNaN, kNaN, kNaN};
  const double l2 = gno_l2(s);
  // l1 = loc + scale expm1(s^2/2) / s
  const double l1 = d.loc + d.scale * (s == 0 ? 0 : std::expm1(s * s / 2) / s);
  return {l1, d.scale * l2, gno_tau3(s), gno_lr(s, 3) / l2, gno_lr(s, 4) / l2};
}

LmomentRatios lmoment_ratios(const Lognormal& d) {
  const double m = std::exp(d.meanlog);
  return lmoment_ratios(Gno{m, d.sdlog * m, d.sdlog});
}

namespace {

// l_(r+1) / sd of the Pearson III of skew g > 0 by quadrature over the
// standardised variate t, from the lower end point (or t = -40, below which
// F underflows) to 0 and from 0 on.
double pe3_lr(double g, int r) {
  const Pe3 d{0, 1, g};
  auto f = [&](double t) {
    const auto v = detail_pe3::fs(d, t);
    const double f = v.p * v.q * w_r(r, v.p, v.q);
    return std::isfinite(f) ? f : 0.0;
  };
  // The negative half as [0, -lo] in -t: with the interval's left end at 0
  // the quadrature never places an abscissa that rounds onto an end point.
  const double lo = std::max(-2 / g, -40.0);
  const auto reflected = [&](double u) { return f(-u); };
  return interval().integrate(reflected, 0.0, -lo, kTol) + half_line().integrate(f, 0.0, special::kInf, kTol);
}

// l2 / sd = Gamma(a + 1/2) / (sqrt(pi a) Gamma(a)).
double pe3_l2(double a) {
  return 1 / (std::sqrt(std::numbers::pi * a) * boost::math::tgamma_delta_ratio(a, 0.5, special::Policy()));
}

}  // namespace

// 6 I_{1/3}(a, 2a) - 3 while Boost's ibeta is exact (a <= 1e4, |skew| >= 0.02:
// beyond a = 1e6 it loses digits); by quadrature for smaller skews.
double pe3_tau3(double skew) {
  if (skew == 0) return 0;
  if (std::isinf(skew)) return std::copysign(1.0, skew);
  const double a = 4 / (skew * skew);
  if (a > 1e4) return std::copysign(pe3_lr(std::fabs(skew), 2) / pe3_l2(a), skew);
  const double t = 6 * boost::math::ibeta(a, 2 * a, 1.0 / 3, special::Policy()) - 3;
  return std::copysign(t, skew);
}

double pe3_tau4(double skew) {
  if (!std::isfinite(skew)) return kNaN;
  if (std::fabs(skew) < detail_pe3::kNormalSkew) return lmoment_ratios(Normal{0, 1}).t4;
  return pe3_lr(std::fabs(skew), 3) / pe3_l2(4 / (skew * skew));
}

// tau4 and tau5 by quadrature; a negative skew reflects the positive one.
LmomentRatios lmoment_ratios(const Pe3& d) {
  const double g = d.skew;
  if (!std::isfinite(g) || !(d.sd > 0)) return {kNaN, kNaN, kNaN, kNaN, kNaN};
  if (std::fabs(g) < detail_pe3::kNormalSkew) {
    LmomentRatios r = lmoment_ratios(Normal{d.mean, d.sd});
    r.t3 = pe3_tau3(g);
    return r;
  }
  const double ag = std::fabs(g), l2 = pe3_l2(4 / (g * g));
  const double t5 = pe3_lr(ag, 4) / l2;
  return {d.mean, d.sd * l2, pe3_tau3(g), pe3_lr(ag, 3) / l2, g > 0 ? t5 : -t5};
}

}  // namespace korvalinde::dist
