#include "korvalinde/stats/gpd_fit.hpp"

#include <algorithm>
#include <cmath>
#include <array>
#include <limits>
#include <vector>

#include "korvalinde/detail/sum.hpp"
#include "korvalinde/dist/gpd.hpp"
#include "korvalinde/dist/normal.hpp"
#include "korvalinde/stats/profile.hpp"

namespace korvalinde::stats {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Taylor coefficients at 0 of the first and second derivatives of
// log1p(x) / x = sum (-1)^k x^k / (k + 1); 20 terms reach rounding for
// |x| < 0.1.
constexpr int kTerms = 20;
struct RatioSeries {
  double d1[kTerms], d2[kTerms];
  constexpr RatioSeries() : d1{}, d2{} {
    for (int j = 0; j < kTerms; ++j) {
      const double sign = j % 2 == 0 ? 1.0 : -1.0;
      d1[j] = -sign * (j + 1) / (j + 2);
      d2[j] = sign * (j + 2) * (j + 1) / (j + 3);
    }
  }
};
constexpr RatioSeries kRatio;

// First and second derivatives of log1p(x) / x, given lp = log1p(x); a
// series for small |x|, where the closed forms cancel.
void log1p_ratio_derivatives(double x, double lp, double& d1, double& d2) {
  if (std::fabs(x) < 0.1) {
    d1 = kRatio.d1[kTerms - 1];
    d2 = kRatio.d2[kTerms - 1];
    for (int j = kTerms - 2; j >= 0; --j) {
      d1 = d1 * x + kRatio.d1[j];
      d2 = d2 * x + kRatio.d2[j];
    }
    return;
  }
  const double n = x / (1 + x) - lp;
  d1 = n / (x * x);
  d2 = (-x * x / ((1 + x) * (1 + x)) - 2 * n) / (x * x * x);
}

// ln L and its derivatives in (s, xi) with sigma = e^s.
struct Terms {
  double l = 0, gs = 0, gx = 0, hss = 0, hsx = 0, hxx = 0;
};

// Per excess t = y / sigma, x = xi t, w = 1 + x:
//   ln f = -s - F,  F = t log1p(x) / x + log1p(x),
//   F_t = (1 + xi) / w,  F_xi = t^2 L'(x) + t / w,
//   F_tt = -xi (1 + xi) / w^2,  F_txi = (1 - t) / w^2,  F_xixi = t^3 L''(x) - t^2 / w^2,
// with L(x) = log1p(x) / x, and dt/ds = -t.
Terms derivatives(std::span<const double> y, double s, double xi) {
  Terms d;
  const double inv = std::exp(-s);
  detail::Sum l, gs, gx, hss, hsx, hxx;
  for (double v : y) {
    const double t = v * inv;
    const double x = xi * t;
    if (!(x > -1)) {
      d.l = -kInf;
      return d;
    }
    const double w = 1 + x;
    const double lp = std::log1p(x);
    double d1, d2;
    log1p_ratio_derivatives(x, lp, d1, d2);
    const double ft = (1 + xi) / w;
    const double fx = t * t * d1 + t / w;
    const double ftt = -xi * (1 + xi) / (w * w);
    const double ftx = (1 - t) / (w * w);
    const double fxx = t * t * t * d2 - t * t / (w * w);
    l.add(-s - t * (x == 0 ? 1.0 : lp / x) - lp);  // log1p_ratio without a second log1p
    gs.add(-1 + t * ft);
    gx.add(-fx);
    hss.add(-t * ft - t * t * ftt);
    hsx.add(t * ftx);
    hxx.add(-fxx);
  }
  d.l = l.value();
  d.gs = gs.value();
  d.gx = gx.value();
  d.hss = hss.value();
  d.hsx = hsx.value();
  d.hxx = hxx.value();
  return d;
}

double loglik_s(std::span<const double> y, double s, double xi) {
  const double inv = std::exp(-s);
  detail::Sum l;
  for (double v : y) {
    const double t = v * inv;
    const double x = xi * t;
    if (!(x > -1)) return -kInf;
    l.add(-s - t * dist::log1p_ratio(x) - std::log1p(x));
  }
  return l.value();
}

bool feasible(std::span<const double> y, double sigma, double xi) {
  const double top = *std::max_element(y.begin(), y.end());
  return sigma > 0 && xi > -1 && 1 + xi * top / sigma > 0;
}

GpdEstimate failure(std::string why) {
  GpdEstimate e;
  e.error = std::move(why);
  return e;
}

bool distinct_values(std::span<const double> y) {
  if (y.size() < 2) return false;
  const auto [lo, hi] = std::minmax_element(y.begin(), y.end());
  return *lo < *hi;
}

// Sample L-moments l1, l2 of ascending values.
void sample_lmoments(std::span<const double> sorted, double& l1, double& l2) {
  detail::Sum b0, b1;
  const auto n = static_cast<double>(sorted.size());
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    b0.add(sorted[i]);
    b1.add(static_cast<double>(i) / (n - 1) * sorted[i]);
  }
  l1 = b0.value() / n;
  l2 = 2 * b1.value() / n - l1;
}

// E(x) = expm1(x) / x and its first two derivatives; a series for small |x|,
// where the closed forms cancel.
void expm1_ratio_derivatives(double x, double& e, double& d1, double& d2) {
  if (std::fabs(x) < 0.5) {
    // E = sum x^k / (k+1)!, E' = sum k x^(k-1) / (k+1)!, E'' = sum k (k-1) x^(k-2) / (k+1)!
    e = d1 = d2 = 0;
    double fact = 1;  // (k+1)!
    for (int k = 0; k < 30; ++k) {
      fact *= k + 1;
      e += std::pow(x, k) / fact;
      if (k >= 1) d1 += k * std::pow(x, k - 1) / fact;
      if (k >= 2) d2 += k * (k - 1) * std::pow(x, k - 2) / fact;
    }
    return;
  }
  const double ex = std::exp(x);
  e = std::expm1(x) / x;
  d1 = (x * ex - ex + 1) / (x * x);
  d2 = (x * x * ex - 2 * x * ex + 2 * ex - 2) / (x * x * x);
}

// The excess level r = sigma c(xi), c = L E(xi L), L = ln m, and
// s(xi) = ln sigma = ln r - ln c(xi) with s' and s''.
struct LevelMap {
  double lm;
  void at(double xi, double& c, double& s1, double& s2) const {
    double e, d1, d2;
    expm1_ratio_derivatives(xi * lm, e, d1, d2);
    c = lm * e;
    const double q1 = lm * d1 / e, q2 = lm * lm * d2 / e;  // c'/c, c''/c
    s1 = -q1;
    s2 = -q2 + q1 * q1;
  }
};

}  // namespace

double gpd_loglik(std::span<const double> y, double scale, double shape) {
  if (!(scale > 0) || !std::isfinite(shape)) return kUndefined;
  return loglik_s(y, std::log(scale), shape);
}

GpdEstimate fit_gpd_lmom(std::span<const double> sorted) {
  if (!distinct_values(sorted)) return failure("needs 2 distinct excesses");
  double l1, l2;
  sample_lmoments(sorted, l1, l2);
  if (!(l2 > 0) || !(l1 > l2)) return failure("the L-moments give no distribution");
  GpdEstimate e;
  e.shape = 2 - l1 / l2;
  e.scale = l1 * (l1 / l2 - 1);
  e.ok = std::isfinite(e.scale) && e.scale > 0;
  if (!e.ok) return failure("the L-moments give no distribution");
  e.loglik = gpd_loglik(sorted, e.scale, e.shape);
  return e;
}

GpdEstimate fit_gpd_mle(std::span<const double> y) {
  if (!distinct_values(y)) return failure("needs 2 distinct excesses");
  if (*std::min_element(y.begin(), y.end()) < 0) return failure("negative excess");
  detail::Sum total;
  for (double v : y) total.add(v);
  const double mean = total.value() / static_cast<double>(y.size());
  std::vector<double> z(y.begin(), y.end());
  for (double& v : z) v /= mean;

  // Start: the L-moment estimate when it is inside the support, else the
  // exponential distribution with the sample mean.
  double s = 0, xi = 0;
  std::vector<double> sorted = z;
  std::sort(sorted.begin(), sorted.end());
  if (const GpdEstimate l = fit_gpd_lmom(sorted);
      l.ok && l.shape < 1 && feasible(z, l.scale, l.shape) && std::isfinite(l.loglik)) {
    s = std::log(l.scale);
    xi = l.shape;
  }
  // Newton on (s, xi) with damping; xi > -1, where the likelihood is bounded.
  auto f = [&](const std::array<double, 2>& t, Derivs<2>& d) {
    if (!(t[1] > -1)) return false;
    const Terms r = derivatives(z, t[0], t[1]);
    if (!std::isfinite(r.l)) return false;
    d.l = r.l;
    d.g = {r.gs, r.gx};
    d.h = {{{r.hss, r.hsx}, {r.hsx, r.hxx}}};
    return true;
  };
  std::array<double, 2> theta{s, xi};
  Derivs<2> d;
  const MaxResult m = maximize<2>(f, theta, d, 0);
  if (!m.ok) return failure("maximum likelihood did not converge");
  s = theta[0];
  xi = theta[1];
  if (xi <= -1 + 1e-6) return failure("the likelihood has no maximum with shape > -1");
  GpdEstimate e;
  e.iterations = m.iterations;
  e.ok = true;
  e.scale = mean * std::exp(s);
  e.shape = xi;
  e.loglik = d.l - static_cast<double>(y.size()) * std::log(mean);
  // Observed information in (s, xi), inverted, then carried to (sigma, xi).
  std::array<std::array<double, 2>, 2> cov{};
  if (inverse_information<2>(d.h, cov)) {
    e.var_scale = e.scale * e.scale * cov[0][0];
    e.cov_scale_shape = e.scale * cov[0][1];
    e.var_shape = cov[1][1];
  }
  return e;
}

Gof gpd_gof(std::span<const double> sorted, double scale, double shape) {
  Gof g;
  const std::size_t n = sorted.size();
  const dist::Gpd d{scale, shape};
  if (n == 0 || !(scale > 0) || !std::isfinite(shape)) return g;
  const auto nd = static_cast<double>(n);
  double ks = 0;
  detail::Sum w2, ad;
  for (std::size_t i = 0; i < n; ++i) {
    const double f = dist::cdf(d, sorted[i]);
    const auto id = static_cast<double>(i + 1);
    ks = std::max({ks, id / nd - f, f - (id - 1) / nd});
    const double e = f - (2 * id - 1) / (2 * nd);
    w2.add(e * e);
    // ln F and ln(1 - F) floored at the smallest double's log, so that A^2
    // stays finite for a value at the edge of the support.
    constexpr double kFloor = -744.44007192138126;
    const double lc = std::max(dist::log_cdf(d, sorted[i]), kFloor);
    const double ls = std::max(dist::log_sf(d, sorted[i]), kFloor);
    ad.add((2 * id - 1) * lc + (2 * (nd - id) + 1) * ls);
  }
  g.ks = ks;
  g.cvm = 1 / (12 * nd) + w2.value();
  g.ad = -nd - ad.value() / nd;
  return g;
}

ExcessLevel excess_level(double scale, double shape, double m) {
  const double lm = std::log(m);
  double e, d1, d2;
  expm1_ratio_derivatives(shape * lm, e, d1, d2);
  return {scale * lm * e, lm * e, scale * lm * lm * d1};
}

Interval gpd_profile_interval(std::span<const double> y, const GpdEstimate& mle, double m) {
  Interval out;
  if (!mle.ok || !(m > 1) || y.empty()) return out;
  // Parameters (r, xi) with r the excess level in units of the mean excess,
  // sigma = r / c(xi): the level is profiled over xi.
  detail::Sum total;
  for (double v : y) total.add(v);
  const double mean = total.value() / static_cast<double>(y.size());
  std::vector<double> z(y.begin(), y.end());
  for (double& v : z) v /= mean;
  const LevelMap map{std::log(m)};
  auto f = [&](const std::array<double, 2>& t, Derivs<2>& d) {
    if (!(t[0] > 0) || !(t[1] > -1)) return false;
    double c, s1, s2;
    map.at(t[1], c, s1, s2);
    const Terms r = derivatives(z, std::log(t[0] / c), t[1]);
    if (!std::isfinite(r.l)) return false;
    d.l = r.l;
    d.g = {r.gs / t[0], r.gs * s1 + r.gx};
    const double h01 = (r.hss * s1 + r.hsx) / t[0];
    d.h = {{{(r.hss - r.gs) / (t[0] * t[0]), h01},
            {h01, r.hss * s1 * s1 + 2 * r.hsx * s1 + r.hxx + r.gs * s2}}};
    return true;
  };
  // Where a start is outside the support, a shape >= 0 is inside it.
  auto repair = [](std::array<double, 2> t) {
    t[1] = std::max(t[1], 0.0);
    return t;
  };
  const ExcessLevel level = excess_level(mle.scale / mean, mle.shape, m);
  const std::array<double, 2> hat{level.value, mle.shape};
  const double lhat = mle.loglik + static_cast<double>(y.size()) * std::log(mean);
  const double se = std::sqrt(level.d_scale * level.d_scale * mle.var_scale / (mean * mean) +
                              2 * level.d_scale * level.d_shape * mle.cov_scale_shape / mean +
                              level.d_shape * level.d_shape * mle.var_shape);
  const double crit = dist::chi2_1_quantile(0.95);
  out.lower = profile_bound<2>(f, repair, hat, lhat, se, crit, -1, 0.0).value * mean;
  out.upper = profile_bound<2>(f, repair, hat, lhat, se, crit, +1).value * mean;
  return out;
}

}  // namespace korvalinde::stats
