#include "korvalinde/stats/estimate.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <numbers>

#include "korvalinde/detail/reduce.hpp"
#include "korvalinde/detail/sum.hpp"
#include "korvalinde/detail/vmath.hpp"

namespace korvalinde::stats {

bool Covariance::valid() const {
  return std::isfinite(aa) && std::isfinite(ab) && std::isfinite(bb) && aa > 0 && bb > 0 &&
         ab * ab <= aa * bb;
}

namespace {

// The covariance unit^2 [[aa, ab], [ab, bb]]: in plain numbers when they
// are normal doubles, else with its unit.
Covariance in_unit(double aa, double ab, double bb, double unit) {
  const Covariance plain{aa * unit * unit, ab * unit * unit, bb * unit * unit};
  if (std::isnormal(plain.aa) && std::isnormal(plain.bb) && (ab == 0 || std::isnormal(plain.ab)))
    return plain;
  const Covariance scaled{aa, ab, bb, unit};
  return scaled.valid() ? scaled : Covariance{};
}

Estimation failure(std::string message) {
  Estimation e;
  e.error = std::move(message);
  return e;
}

// The sums of w, d w and d^2 w, w = e^(-d r), over values x[0..n) with
// d = (h x - hlo) inv: in eight fixed lanes combined in a fixed order, in a
// loop that vectorises (the same bits at every vector width).
KORVALINDE_HOT_CLONES void weight_sums(const double* x, std::size_t n, double h, double hlo,
                                       double inv, double r, std::array<double, 3>& out) {
  constexpr std::size_t kLanes = 8;
  double acc[3][kLanes] = {};
  std::size_t i = 0;
  for (; i + kLanes <= n; i += kLanes) {
    for (std::size_t l = 0; l < kLanes; ++l) {
      const double d = (h * x[i + l] - hlo) * inv;
      const double w = detail::vexp(-d * r);
      acc[0][l] += w;
      acc[1][l] += d * w;
      acc[2][l] += d * d * w;
    }
  }
  for (std::size_t l = 0; i < n; ++i, ++l) {
    const double d = (h * x[i] - hlo) * inv;
    const double w = detail::vexp(-d * r);
    acc[0][l] += w;
    acc[1][l] += d * w;
    acc[2][l] += d * d * w;
  }
  for (int k = 0; k < 3; ++k)
    out[k] = ((acc[k][0] + acc[k][1]) + (acc[k][2] + acc[k][3])) +
             ((acc[k][4] + acc[k][5]) + (acc[k][6] + acc[k][7]));
}

}  // namespace

Estimation fit_mle(std::span<const double> x, unsigned threads) {
  const std::size_t n = x.size();
  if (n < 2) return failure("maximum likelihood needs at least 2 distinct values");
  double lo = x[0], hi = x[0];
  for (double v : x) {
    if (!std::isfinite(v)) return failure("maximum likelihood needs finite values");
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  if (!(lo < hi)) return failure("maximum likelihood needs at least 2 distinct values");

  // Work with d = (x - lo) / range in [0, 1], so that exp(-d/b) <= 1 never
  // overflows and the smallest values carry the sums as they should. Scale
  // by an exact power of 2 h first: 1/2 when the range overflows, 2^600 when
  // 1 / range would (the values are then tiny too: the range is at least an
  // ulp of them).
  const double h = !std::isfinite(hi - lo) ? 0.5 : hi - lo < 0x1p-1000 ? 0x1p600 : 1.0;
  const double hlo = h * lo;
  const double span = h * hi - hlo;  // the range, times h
  const double inv = 1.0 / span;
  const auto nd = static_cast<double>(n);

  const auto m = detail::block_sums<2>(n, threads, [&](std::size_t i, std::size_t e, auto& p) {
    for (; i < e; ++i) {
      const double d = (h * x[i] - hlo) * inv;
      p[0] += d;
      p[1] += d * d;
    }
  });
  const double dbar = m[0] / nd;
  const double dvar = std::max(0.0, m[1] / nd - dbar * dbar);

  // g(b) = b - dbar + T1/T0 with Tk = sum d^k e^(-d/b) rises with b
  // (g' = 1 + weighted variance / b^2), from -dbar at 0+ to g(dbar) >= 0:
  // one root, bracketed by (0, dbar].
  double blo = 0, bhi = dbar;
  bool bhi_tried = false;  // g(bhi) is only known to be >= 0 until evaluated
  double b = std::sqrt(6 * dvar) / std::numbers::pi;  // moment estimate
  if (!(b > blo && b < bhi)) b = 0.5 * dbar;
  double t0 = 0, mean_w = 0, var_w = 0;
  int iterations = 0;
  for (;;) {
    if (++iterations > 200) return failure("maximum likelihood did not converge");
    const double r = 1.0 / b;
    const auto t = detail::block_sums<3>(n, threads, [&](std::size_t i, std::size_t e, auto& p) {
      weight_sums(x.data() + i, e - i, h, hlo, inv, r, p);
    });
    t0 = t[0];  // >= 1: the minimum has weight 1
    mean_w = t[1] / t0;
    var_w = std::max(0.0, t[2] / t0 - mean_w * mean_w);
    const double g = b - dbar + mean_w;
    if (g == 0) break;
    if (g < 0) {
      blo = b;
    } else {
      bhi = b;
      bhi_tried = true;
    }
    const double step = g / (1 + var_w / (b * b));
    // Newton converges quadratically: a step this small is the remaining error.
    if (std::fabs(step) <= 1e-12 * b || bhi - blo <= 4 * std::numeric_limits<double>::epsilon() * b)
      break;
    double next = b - step;
    if (next >= bhi && !bhi_tried) {
      next = bhi;  // the root may sit at dbar itself (one value far from the rest)
      bhi_tried = true;
    } else if (!(next > blo && next < bhi)) {
      next = 0.5 * (blo + bhi);
    }
    b = next;
  }

  // At the maximum: a = -b ln(T0/n), so sum e^-z = n and sum z (1 - e^-z) = n.
  const double a_s = -b * (std::log(t0) - std::log(nd));
  Estimation est;
  est.iterations = iterations;
  est.a = lo + a_s * span / h;
  est.b = b * span / h;
  if (!std::isfinite(est.a) || !std::isfinite(est.b) || !(est.b > 0))
    return failure("maximum likelihood estimates are out of range");
  // l = -n ln b - sum z - sum e^-z with sum e^-z = n; in original units the
  // scaling adds -n ln(span / h).
  est.loglik = -nd * (std::log(b) + (dbar - a_s) / b + 1 + std::log(span) - std::log(h));

  // Observed information (n / b^2) [[1, u], [u, 1 + v]] with u = mean(z e^-z),
  // v = mean(z^2 e^-z) (means over the sample), from the weighted moments.
  const double c = (mean_w - a_s) / b;
  const double u = c;
  const double v = var_w / (b * b) + c * c;
  const double det = 1 + var_w / (b * b);  // (1 + v) - u^2
  // In units of b, so that it exists at any scale of the data.
  const double scale = 1 / nd / det;
  est.cov = in_unit(scale * (1 + v), -scale * u, scale, est.b);
  est.ok = true;
  return est;
}

std::string lmom_fault(std::span<const double> sorted, double l2, std::string_view what) {
  std::string why(what);
  if (sorted.empty() || sorted.front() == sorted.back()) return why + " need at least 2 distinct values";
  char range[64];
  std::snprintf(range, sizeof range, "%.6g to %.6g", sorted.front(), sorted.back());
  return why + (l2 == 0 ? " underflow: the values lie too close together (" : " overflow: the values spread too widely (") +
         range + ")";
}

Estimation fit_lmom(std::span<const double> sorted) {
  const std::size_t n = sorted.size();
  if (n < 2) return failure("L-moments need at least 2 distinct values");
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(sorted[i])) return failure("L-moments need finite values");
    if (i > 0 && sorted[i] < sorted[i - 1]) return failure("L-moments need a sorted sample");
  }
  const double x0 = sorted[0];
  const auto nd = static_cast<double>(n);
  // l1 = mean, shifted to the minimum so all terms are >= 0.
  detail::Sum s1;
  for (double v : sorted) s1.add(v - x0);
  const double l1 = x0 + s1.value() / nd;
  // l2 = 2 b1 - b0 = sum_{i<j} (x_(j) - x_(i)) / (n (n - 1))
  //    = sum_k k (n - k) (x_(k+1) - x_(k)) / (n (n - 1)): no cancellation.
  detail::Sum s2;
  for (std::size_t k = 1; k < n; ++k) {
    const auto kd = static_cast<double>(k);
    s2.add(kd * (nd - kd) * (sorted[k] - sorted[k - 1]));
  }
  const double l2 = s2.value() / (nd * (nd - 1));
  if (!(l2 > 0) || !std::isfinite(l1) || !std::isfinite(l2))
    return failure(lmom_fault(sorted, l2, "L-moments"));
  Estimation est;
  est.b = l2 / std::numbers::ln2;
  est.a = l1 - std::numbers::egamma * est.b;
  // Asymptotic covariance, from the influence functions of l1 and l2 at the
  // Gumbel model. With t = e^-z ~ Exp(1): IF(l1) = b (-ln t - gamma) and
  // IF(l2) = b (2 E1(t) + gamma + ln t - 2 ln 2), since E|x - X| = b (2 E1(t)
  // + gamma + ln t) for X ~ Gumbel(0, 1), x = -ln t. Their second moments
  // (quadrature): Var l1 = pi^2/6, Cov = (ln 2)^2, Var l2 = 0.38658251731910684
  // (times b^2 / n); the delta method through b = l2 / ln 2 and
  // a = l1 - gamma b gives the factors below.
  const double unit = est.b * est.b / nd;
  est.cov.aa = 1.1128251530813387 * unit;
  est.cov.ab = 0.22870741577652133 * unit;
  est.cov.bb = 0.80462086014705213 * unit;
  if (!est.cov.valid()) est.cov = Covariance{};  // b^2 / n overflows
  est.ok = true;
  return est;
}

bool refit_mle(std::span<const double> sample, double& a, double& b) {
  const Estimation e = fit_mle(sample);
  a = e.a;
  b = e.b;
  return e.ok;
}

bool refit_lmom(std::span<const double> sorted, double& a, double& b) {
  const Estimation e = fit_lmom(sorted);
  a = e.a;
  b = e.b;
  return e.ok;
}

Covariance ls_covariance(std::span<const double> x, std::span<const double> y, double a, double b) {
  Covariance cov;
  const std::size_t m = x.size();
  if (m <= 2 || y.size() != m || !(b > 0)) return cov;
  // f = e^-z F / b; df/da = f (1 - e^-z) / b, df/db = f (z (1 - e^-z) - 1) / b.
  // The residuals' Jacobian is minus these; the sign drops out of J^T J.
  // All are taken times b (residuals) and b^2 (derivatives): the covariance
  // then comes out in units of b, finite at any scale of the data.
  detail::Sum jaa, jab, jbb, rss;
  for (std::size_t i = 0; i < m; ++i) {
    const double z = (x[i] - a) / b;
    const double t = std::exp(-z);
    // Far below a the density underflows to 0 along with its derivatives.
    const bool zero = !std::isfinite(t);
    const double f = zero ? 0.0 : t * std::exp(-t);
    const double ga = zero ? 0.0 : f * (1 - t);
    const double gb = zero ? 0.0 : f * (z * (1 - t) - 1);
    const double r = y[i] * b - f;
    jaa.add(ga * ga);
    jab.add(ga * gb);
    jbb.add(gb * gb);
    rss.add(r * r);
  }
  const double s2 = rss.value() / static_cast<double>(m - 2);
  const double det = jaa.value() * jbb.value() - jab.value() * jab.value();
  if (!(det > 0) || !std::isfinite(det)) return cov;
  return in_unit(s2 * jbb.value() / det, -s2 * jab.value() / det, s2 * jaa.value() / det, b);
}

}  // namespace korvalinde::stats
