#include "korvalinde/stats/lmoments.hpp"

#include <boost/math/special_functions/erf.hpp>
#include <boost/math/special_functions/gamma.hpp>
#include <boost/math/tools/roots.hpp>
#include <cmath>
#include <exception>
#include <limits>
#include <numbers>

#include "korvalinde/detail/sum.hpp"
#include "korvalinde/dist/exponential.hpp"
#include "korvalinde/dist/gev.hpp"
#include "korvalinde/dist/glo.hpp"
#include "korvalinde/dist/gno.hpp"
#include "korvalinde/dist/gpa.hpp"
#include "korvalinde/dist/lmoment_curves.hpp"
#include "korvalinde/dist/lognormal.hpp"
#include "korvalinde/dist/lp3.hpp"
#include "korvalinde/dist/normal.hpp"
#include "korvalinde/dist/pe3.hpp"
#include "korvalinde/dist/weibull.hpp"
#include "korvalinde/stats/gev.hpp"

namespace korvalinde::stats {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// l2 > 0 and l1 finite: every fit needs them.
bool scale_ok(const dist::LmomentRatios& r) { return std::isfinite(r.l1) && r.l2 > 0 && std::isfinite(r.l2); }
bool skew_ok(const dist::LmomentRatios& r) { return scale_ok(r) && r.t3 > -1 && r.t3 < 1; }

// The s > 0 with tau3(s) = t for an odd tau3 rising from 0 to 1 (t in (0, 1)):
// a bracket doubled outward from 1, then TOMS 748 to the last bit.
template <class Tau>
double odd_root(Tau tau, double t) {
  if (t == 0) return 0;
  const double target = std::fabs(t);
  auto f = [&](double s) { return tau(s) - target; };
  double lo = 1, hi = 1;
  const double f1 = f(1);
  if (f1 == 0) return std::copysign(1.0, t);
  if (f1 > 0) {
    while (f(lo) > 0) {
      hi = lo;
      lo /= 2;
      if (lo < 1e-300) return kNaN;
    }
  } else {
    while (f(hi) < 0) {
      lo = hi;
      hi *= 2;
      if (hi > 1e300) return kNaN;
    }
  }
  if (f(lo) == 0) return std::copysign(lo, t);
  if (f(hi) == 0) return std::copysign(hi, t);
  std::uintmax_t iters = 200;
  try {
    const auto [a, b] = boost::math::tools::toms748_solve(f, lo, hi, boost::math::tools::eps_tolerance<double>(53), iters);
    return std::copysign(0.5 * (a + b), t);
  } catch (const std::exception&) {
    return kNaN;
  }
}

}  // namespace

// The unbiased probability-weighted moments b_r = n^-1 sum_i C(i-1, r) / C(n-1, r) x_(i)
// folded into the weights of l1..l5 (shifted Legendre polynomials of the
// ratios c_r = C(i-1, r) / C(n-1, r)), over values shifted to the median so
// that the compensated sums stay small.
SampleLmoments sample_lmoments(std::span<const double> sorted) {
  const std::size_t n = sorted.size();
  SampleLmoments out{n, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN};
  if (n == 0) return out;
  const auto nd = static_cast<double>(n);
  const double shift = sorted[n / 2];
  detail::Sum s[5];
  for (std::size_t k = 0; k < n; ++k) {
    const auto i = static_cast<double>(k);
    const double v = sorted[k] - shift;
    const double c1 = n > 1 ? i / (nd - 1) : 0;
    const double c2 = n > 2 ? c1 * (i - 1) / (nd - 2) : 0;
    const double c3 = n > 3 ? c2 * (i - 2) / (nd - 3) : 0;
    const double c4 = n > 4 ? c3 * (i - 3) / (nd - 4) : 0;
    s[0].add(v);
    s[1].add((2 * c1 - 1) * v);
    s[2].add((6 * c2 - 6 * c1 + 1) * v);
    s[3].add((20 * c3 - 30 * c2 + 12 * c1 - 1) * v);
    s[4].add((70 * c4 - 140 * c3 + 90 * c2 - 20 * c1 + 1) * v);
  }
  out.l1 = shift + s[0].value() / nd;
  if (n < 2) return out;
  out.l2 = s[1].value() / nd;
  out.t = out.l2 / out.l1;
  if (n >= 3) out.t3 = s[2].value() / nd / out.l2;
  if (n >= 4) out.t4 = s[3].value() / nd / out.l2;
  if (n >= 5) out.t5 = s[4].value() / nd / out.l2;
  return out;
}

bool fit_lmom(const dist::LmomentRatios& r, dist::Gev& out) {
  if (!skew_ok(r)) return false;
  dist::Gev d;
  if (!gev_from_lmoments(r.l1, r.l2, r.t3, d)) return false;
  out = d;
  return true;
}

// scale = l2 / ln 2, loc = l1 - Euler's gamma scale.
bool fit_lmom(const dist::LmomentRatios& r, dist::Gumbel& out) {
  if (!scale_ok(r)) return false;
  const double b = r.l2 / std::numbers::ln2;
  out = {r.l1 - std::numbers::egamma * b, b};
  return true;
}

// s = (3 t3 - 1) / (1 + t3), scale = l2 (1 - s)(2 - s), loc = l1 - l2 (2 - s).
bool fit_lmom(const dist::LmomentRatios& r, dist::Gpa& out) {
  if (!skew_ok(r)) return false;
  const double s = (3 * r.t3 - 1) / (1 + r.t3);
  out = {r.l1 - r.l2 * (2 - s), r.l2 * (1 - s) * (2 - s), s};
  return true;
}

// shape = t3, scale = l2 sin(pi s) / (pi s), loc from l1.
bool fit_lmom(const dist::LmomentRatios& r, dist::Glo& out) {
  if (!skew_ok(r)) return false;
  const dist::LmomentRatios unit = dist::lmoment_ratios(dist::Glo{0, 1, r.t3});
  const double scale = r.l2 / unit.l2;
  out = {r.l1 - scale * unit.l1, scale, r.t3};
  return true;
}

bool fit_lmom(const dist::LmomentRatios& r, dist::Gno& out) {
  if (!skew_ok(r)) return false;
  const dist::CurvePoint c = dist::gno_curve(r.t3);
  const double s = c.ok ? c.shape : odd_root(dist::gno_tau3, r.t3);
  if (!std::isfinite(s)) return false;
  // l2 = scale e^(s^2/2) erf(s/2) / s, l1 = loc + scale expm1(s^2/2) / s.
  const double as = std::fabs(s);
  const double ratio = s == 0 ? 1 / std::sqrt(std::numbers::pi) : std::erf(as / 2) / as;
  const double scale = r.l2 / (ratio * std::exp(s * s / 2));
  const double loc = r.l1 - scale * (s == 0 ? 0 : std::expm1(s * s / 2) / s);
  if (!(scale > 0) || !std::isfinite(scale) || !std::isfinite(loc)) return false;
  out = {loc, scale, s};
  return true;
}

// skew the root of 6 I_{1/3}(a, 2a) - 3 = t3 (a = 4 / skew^2), mean = l1,
// sd = l2 sqrt(pi a) Gamma(a) / Gamma(a + 1/2).
bool fit_lmom(const dist::LmomentRatios& r, dist::Pe3& out) {
  if (!skew_ok(r)) return false;
  const dist::CurvePoint c = dist::pe3_curve(r.t3);
  const double g = c.ok ? c.shape : odd_root(dist::pe3_tau3, r.t3);
  if (!std::isfinite(g)) return false;
  double sd = r.l2 * std::sqrt(std::numbers::pi);
  if (std::fabs(g) >= dist::detail_pe3::kNormalSkew) {
    const double a = 4 / (g * g);
    sd = r.l2 * std::sqrt(std::numbers::pi * a) * boost::math::tgamma_delta_ratio(a, 0.5, dist::special::Policy());
  }
  if (!(sd > 0) || !std::isfinite(sd)) return false;
  out = {r.l1, sd, g};
  return true;
}

bool fit_lmom(const dist::LmomentRatios& r, dist::Lp3& out) {
  dist::Pe3 p;
  if (!fit_lmom(r, p)) return false;
  out = {p.mean, p.sd, p.skew};
  return true;
}

// -x is a GEV of shape xi = -1/shape with L-skewness -t3: shape = -1/xi
// needs xi < 0, i.e. t3 above the Gumbel's -0.1699.
bool fit_lmom(const dist::LmomentRatios& r, dist::Weibull& out) {
  if (!skew_ok(r)) return false;
  dist::Gev g;
  if (!gev_from_lmoments(-r.l1, r.l2, -r.t3, g) || !(g.shape < 0)) return false;
  const double delta = -g.shape;
  const dist::LmomentRatios unit = dist::lmoment_ratios(dist::Weibull{0, 1, 1 / delta});
  const double scale = r.l2 / unit.l2;
  const double loc = r.l1 - scale * unit.l1;
  if (!(scale > 0) || !std::isfinite(scale) || !std::isfinite(loc)) return false;
  out = {loc, scale, 1 / delta};
  return true;
}

bool fit_lmom(const dist::LmomentRatios& r, dist::Exponential& out) {
  if (!scale_ok(r)) return false;
  out = {r.l1 - 2 * r.l2, 2 * r.l2};
  return true;
}

bool fit_lmom(const dist::LmomentRatios& r, dist::Normal& out) {
  if (!scale_ok(r)) return false;
  out = {r.l1, r.l2 * std::sqrt(std::numbers::pi)};
  return true;
}

// l2 / l1 = erf(sdlog / 2), l1 = e^(meanlog + sdlog^2 / 2).
bool fit_lmom(const dist::LmomentRatios& r, dist::Lognormal& out) {
  if (!scale_ok(r) || !(r.l1 > 0) || !(r.l2 < r.l1)) return false;
  const double s = 2 * boost::math::erf_inv(r.l2 / r.l1, dist::special::Policy());
  if (!(s > 0) || !std::isfinite(s)) return false;
  out = {std::log(r.l1) - s * s / 2, s};
  return true;
}

}  // namespace korvalinde::stats
