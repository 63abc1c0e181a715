#include "korvalinde/stats/gpd_fit.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "korvalinde/detail/sum.hpp"
#include "korvalinde/dist/gpd.hpp"

namespace korvalinde::stats {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kHalfChi2 = 1.9207294103470103;  // chi2(1) 0.95 quantile / 2

// First and second derivatives of log1p(x) / x; a series for small |x|,
// where the closed forms cancel.
void log1p_ratio_derivatives(double x, double& d1, double& d2) {
  if (std::fabs(x) < 0.1) {
    d1 = d2 = 0;
    double p = 1;  // x^(k-1) for d1, then x^(k-2) for d2
    for (int k = 1; k < 28; ++k) {
      const double sign = k % 2 == 0 ? 1.0 : -1.0;
      d1 += sign * k * p / (k + 1);
      if (k >= 2) d2 += sign * k * (k - 1) * (p / x) / (k + 1);
      p *= x;
    }
    if (x == 0) d2 = 2.0 / 3;
    return;
  }
  const double l = std::log1p(x);
  const double n = x / (1 + x) - l;
  d1 = n / (x * x);
  d2 = (-x * x / ((1 + x) * (1 + x)) - 2 * n) / (x * x * x);
}

// ln L and its derivatives in (s, xi) with sigma = e^s.
struct Derivs {
  double l = 0, gs = 0, gx = 0, hss = 0, hsx = 0, hxx = 0;
};

// Per excess t = y / sigma, x = xi t, w = 1 + x:
//   ln f = -s - F,  F = t log1p(x) / x + log1p(x),
//   F_t = (1 + xi) / w,  F_xi = t^2 L'(x) + t / w,
//   F_tt = -xi (1 + xi) / w^2,  F_txi = (1 - t) / w^2,  F_xixi = t^3 L''(x) - t^2 / w^2,
// with L(x) = log1p(x) / x, and dt/ds = -t.
Derivs derivatives(std::span<const double> y, double s, double xi) {
  Derivs d;
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
    log1p_ratio_derivatives(x, d1, d2);
    const double ft = (1 + xi) / w;
    const double fx = t * t * d1 + t / w;
    const double ftt = -xi * (1 + xi) / (w * w);
    const double ftx = (1 - t) / (w * w);
    const double fxx = t * t * t * d2 - t * t / (w * w);
    l.add(-s - t * dist::log1p_ratio(x) - lp);
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

// d/dx [expm1(x) / x] = (e^x (x - 1) + 1) / x^2; a series for small |x|.
double expm1_ratio_derivative(double x) {
  if (std::fabs(x) < 0.1) {
    double sum = 0, term = 0.5;  // k x^(k-1) / (k+1)! from k = 1
    double p = 1, fact = 2;
    for (int k = 1; k < 20; ++k) {
      term = k * p / fact;
      sum += term;
      p *= x;
      fact *= k + 2;
    }
    return sum;
  }
  return (std::exp(x) * (x - 1) + 1) / (x * x);
}

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
  Derivs d = derivatives(z, s, xi);
  GpdEstimate e;
  bool converged = false;
  for (int it = 0; it < 200 && !converged; ++it) {
    e.iterations = it + 1;
    // Ascent direction from the negated Hessian, shifted to be positive
    // definite where it is not.
    double a11 = -d.hss, a12 = -d.hsx, a22 = -d.hxx;
    const double mean_diag = 0.5 * (a11 + a22);
    const double root = std::sqrt(0.25 * (a11 - a22) * (a11 - a22) + a12 * a12);
    const double low = mean_diag - root;  // smallest eigenvalue
    const double big = std::max(std::fabs(a11), std::fabs(a22)) + std::fabs(a12);
    if (!(low > 1e-10 * big)) {
      const double shift = std::max(0.0, -low) + 1e-6 * (1 + big);
      a11 += shift;
      a22 += shift;
    }
    const double det = a11 * a22 - a12 * a12;
    const double ds = (a22 * d.gs - a12 * d.gx) / det;
    const double dx = (a11 * d.gx - a12 * d.gs) / det;
    const double slope = d.gs * ds + d.gx * dx;
    if (!std::isfinite(slope)) return failure("maximum likelihood failed");
    if (slope <= 1e-26 * static_cast<double>(y.size())) {
      converged = true;
      break;
    }
    double step = 1;
    Derivs next;
    bool moved = false;
    for (int h = 0; h < 60; ++h, step *= 0.5) {
      const double s1 = s + step * ds, x1 = xi + step * dx;
      if (!(x1 > -1)) continue;
      const double l1 = loglik_s(z, s1, x1);
      if (!(l1 >= d.l + 1e-4 * step * slope)) continue;
      next = derivatives(z, s1, x1);
      s = s1;
      xi = x1;
      moved = true;
      break;
    }
    if (!moved) {
      converged = slope < 1e-12 * static_cast<double>(y.size());
      break;
    }
    d = next;
    if (std::max(std::fabs(step * ds), std::fabs(step * dx)) < 1e-14) converged = true;
  }
  if (!converged || !std::isfinite(d.l)) return failure("maximum likelihood did not converge");
  if (xi <= -1 + 1e-6) return failure("the likelihood has no maximum with shape > -1");
  e.ok = true;
  e.scale = mean * std::exp(s);
  e.shape = xi;
  e.loglik = d.l - static_cast<double>(y.size()) * std::log(mean);
  // Observed information in (s, xi), inverted, then carried to (sigma, xi).
  const double i11 = -d.hss, i12 = -d.hsx, i22 = -d.hxx;
  const double det = i11 * i22 - i12 * i12;
  if (i11 > 0 && i22 > 0 && det > 0) {
    e.var_scale = e.scale * e.scale * i22 / det;
    e.cov_scale_shape = -e.scale * i12 / det;
    e.var_shape = i11 / det;
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
  const double c = lm * dist::expm1_ratio(shape * lm);
  return {scale * c, c, scale * lm * lm * expm1_ratio_derivative(shape * lm)};
}

Interval gpd_profile_interval(std::span<const double> y, const GpdEstimate& mle, double m) {
  Interval out;
  if (!mle.ok || !(m > 1) || y.empty()) return out;
  const double lm = std::log(m);
  const double top = *std::max_element(y.begin(), y.end());
  const double target = mle.loglik - kHalfChi2;
  const double best = excess_level(mle.scale, mle.shape, m).value;
  double warm = mle.shape;

  // ln L maximised over xi with sigma = r / c(xi): Newton on xi with the
  // derivative of ln L(s(xi), xi), s = ln r - ln c(xi), backtracking.
  auto profile = [&](double r) {
    auto s_of = [&](double xi) { return std::log(r) - std::log(lm * dist::expm1_ratio(xi * lm)); };
    auto ok = [&](double xi) { return xi > -1 && 1 + xi * top / std::exp(s_of(xi)) > 0; };
    double xi = ok(warm) ? warm : std::max(warm, 0.0);
    double l = loglik_s(y, s_of(xi), xi);
    for (int it = 0; it < 100; ++it) {
      auto s1 = [&](double x) { return -lm * expm1_ratio_derivative(x * lm) / dist::expm1_ratio(x * lm); };
      const Derivs d = derivatives(y, s_of(xi), xi);
      const double sp = s1(xi);
      const double h = 1e-6 * (1 + std::fabs(xi));
      const double spp = (s1(xi + h) - s1(xi - h)) / (2 * h);
      const double g = d.gs * sp + d.gx;
      const double hh = d.hss * sp * sp + 2 * d.hsx * sp + d.hxx + d.gs * spp;
      double step = hh < 0 ? -g / hh : (g > 0 ? 0.1 : -0.1);
      bool moved = false;
      for (int k = 0; k < 50; ++k, step *= 0.5) {
        const double x1 = xi + step;
        if (!ok(x1)) continue;
        const double l1 = loglik_s(y, s_of(x1), x1);
        if (l1 >= l) {
          moved = l1 > l || step != 0;
          xi = x1;
          l = l1;
          break;
        }
      }
      if (!moved || std::fabs(step) < 1e-12 * (1 + std::fabs(xi))) break;
    }
    if (std::isfinite(l)) warm = xi;
    return l;
  };

  // Each end by bisection between the estimate and a level whose profile is
  // below the target.
  auto end = [&](double far) {
    warm = mle.shape;
    double inside = best, outside = far;
    for (int it = 0; it < 200 && std::fabs(outside - inside) > 1e-11 * best; ++it) {
      const double mid = 0.5 * (inside + outside);
      (profile(mid) >= target ? inside : outside) = mid;
    }
    return 0.5 * (inside + outside);
  };
  if (profile(best * 1e-12) < target) out.lower = end(best * 1e-12);
  warm = mle.shape;
  for (double far = 2 * best; far < best * 1e12; far *= 2) {
    if (profile(far) < target) {
      out.upper = end(far);
      break;
    }
  }
  return out;
}

}  // namespace korvalinde::stats
