// L-moment fits of the Kappa (a root of two equations in k and h) and of the
// Wakeby (an exact solution of linear equations and a quadratic).
#include <array>
#include <cmath>
#include <initializer_list>
#include <limits>

#include "korvalinde/detail/bracket.hpp"
#include "korvalinde/dist/kappa.hpp"
#include "korvalinde/dist/wakeby.hpp"
#include "korvalinde/stats/lmoments.hpp"

namespace korvalinde::stats {

namespace {

namespace dk = dist::detail_kappa;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Where the iteration may go: the L-moments exist and the parameters stay
// representable (beyond k = 1e3 or h = 1e6 the scale overflows for the
// (t3, t4) that would need them, next to the lower bound).
struct Point {
  double k, h, r3, r4;  // r = tau(k, h) - target
  double size() const { return std::fmax(std::fabs(r3), std::fabs(r4)); }
};

bool evaluate(double k, double h, double t3, double t4, Point& p) {
  double e[6];
  if (!(k < 1e3 && h < 1e6 && h >= -1) || !dk::ratio_terms(k, h, 4, e)) return false;
  p = {k, h, dk::tau3_of(e) - t3, dk::tau4_of(e) - t4};
  return std::isfinite(p.r3) && std::isfinite(p.r4);
}

// The k with tau3(k, h) = t3 at fixed h, by a root on a bracket: tau3 falls
// from 1 at k = -1 towards -1 as k grows (to -1/h for h < 0). NaN when no k
// up to the iteration's limit brackets t3.
double solve_k(double t3, double h) {
  Point p{};
  auto f = [&](double k) { return evaluate(k, h, t3, 0, p) ? p.r3 : kNaN; };
  double lo = -1 + 1e-6, hi = h < 0 ? std::fmin(1e3, -1 / h) * (1 - 1e-6) : 1.0;
  double flo = f(lo), fhi = f(hi);
  while (h >= 0 && fhi > 0 && hi < 500) {
    lo = hi;
    flo = fhi;
    hi *= 2;
    fhi = f(hi);
  }
  if (!(flo > 0 && fhi < 0)) return kNaN;
  return detail::illinois_root(f, lo, hi, flo, fhi, 1e-12);
}

// The h of a start: where t4 lies between the curves of the generalized
// logistic (h = -1), the generalized Pareto (h = 1) and the lower bound
// (h -> inf), in proportion.
double start_h(double t3, double t4) {
  const double glo = dist::tau4_glo(t3), lb = dist::tau4_lower_bound(t3);
  const double gpa = t3 * (1 + 5 * t3) / (5 + t3);
  return t4 >= gpa ? -1 + 2 * (glo - t4) / (glo - gpa) : 1 + 2 * (gpa - t4) / (t4 - lb);
}

// A start on the contour tau3 = t3 at h, or nearer h = 0 where the contour
// does not reach that far.
bool start(double t3, double t4, double h, Point& p) {
  for (int i = 0; i < 20; ++i, h *= 0.5) {
    const double k = solve_k(t3, h);
    if (!std::isnan(k) && evaluate(k, h, t3, t4, p)) return true;
  }
  return false;
}

// Newton's method in (k, h) with the Jacobian by central differences and the
// step halved until the residual falls, to the rounding level of tau3 and
// tau4.
bool newton(double t3, double t4, double h0, Point& p) {
  if (!start(t3, t4, h0, p)) return false;
  for (int it = 0; it < 100 && p.size() > 0; ++it) {
    std::array<std::array<double, 2>, 2> jac{};
    for (int c = 0; c < 2; ++c) {
      const double x = c == 0 ? p.k : p.h;
      const double s = 1e-6 * (1 + std::fabs(x));
      Point a{}, b{};
      const double dk_ = c == 0 ? s : 0, dh = c == 1 ? s : 0;
      const bool up = evaluate(p.k + dk_, p.h + dh, t3, t4, a);
      const bool down = evaluate(p.k - dk_, p.h - dh, t3, t4, b);
      if (up && down) {
        jac[0][c] = (a.r3 - b.r3) / (2 * s), jac[1][c] = (a.r4 - b.r4) / (2 * s);
      } else if (up || down) {
        const Point& o = up ? a : b;
        const double sign = up ? 1 : -1;
        jac[0][c] = sign * (o.r3 - p.r3) / s, jac[1][c] = sign * (o.r4 - p.r4) / s;
      } else {
        return false;
      }
    }
    const double det = jac[0][0] * jac[1][1] - jac[0][1] * jac[1][0];
    if (!(std::fabs(det) > 0) || !std::isfinite(det)) return false;
    const double step_k = -(jac[1][1] * p.r3 - jac[0][1] * p.r4) / det;
    const double step_h = -(jac[0][0] * p.r4 - jac[1][0] * p.r3) / det;
    bool moved = false;
    double lambda = 1;
    for (int i = 0; i < 60; ++i, lambda *= 0.5) {
      Point q{};
      if (evaluate(p.k + lambda * step_k, p.h + lambda * step_h, t3, t4, q) && q.size() < p.size()) {
        p = q;
        moved = true;
        break;
      }
    }
    if (!moved) break;  // at the rounding level of the residual
    constexpr double eps = std::numeric_limits<double>::epsilon();
    if (std::fabs(lambda * step_k) <= eps * (1 + std::fabs(p.k)) &&
        std::fabs(lambda * step_h) <= eps * (1 + std::fabs(p.h)))
      break;
  }
  return p.size() <= 1e-12;
}

// Newton's method from the proportional start, and where it fails from
// starts at h = 0, 1 and 3: for heavy tails (t3 above about 0.3) tau4 along
// a contour of tau3 first rises above the GLO curve as h leaves -1, so that
// a start next to h = -1 sees the slope of the wrong sign.
bool solve_kappa(double t3, double t4, double& k, double& h) {
  for (const double h0 : {start_h(t3, t4), 0.0, 1.0, 3.0}) {
    Point p{};
    if (newton(t3, t4, h0, p)) {
      k = p.k;
      h = p.h;
      return true;
    }
  }
  return false;
}

}  // namespace

bool fit_lmom(const dist::LmomentRatios& r, dist::Kappa& out) {
  if (!std::isfinite(r.l1) || !(r.l2 > 0) || !std::isfinite(r.l2) || !dist::kappa_region_contains(r.t3, r.t4))
    return false;
  double k = 0, h = 0;
  if (!solve_kappa(r.t3, r.t4, k, h)) return false;
  double e[6];
  if (!dk::ratio_terms(k, h, 2, e)) return false;
  double m1 = 0, m2 = 0;
  dk::location_scale_terms(k, h, e[2], m1, m2);
  const double scale = r.l2 / m2, loc = r.l1 - scale * m1;
  if (!(scale > 0) || !std::isfinite(scale) || !std::isfinite(loc)) return false;
  // Next to the lower bound k grows into the hundreds, and loc and scale / k
  // cancel in every value of the distribution: such a Kappa is refused.
  const dist::Kappa d{loc, scale, k, h};
  const dist::LmomentRatios back = dist::lmoment_ratios(d);
  if (!(std::fabs(back.l1 - r.l1) <= 1e-9 * r.l2 && std::fabs(back.l2 - r.l2) <= 1e-9 * r.l2)) return false;
  out = d;
  return true;
}

namespace {

// With u = 1 - F, the probability-weighted moments m_s = s E[x u^(s-1)] of
// the Wakeby are m_s = xi + alpha / (s + beta) + gamma / (s - delta), so that
// m_s (s + beta)(s - delta) = m_s (s^2 + p s + q) is a quadratic in s
// (p = beta - delta, q = -beta delta): its third differences over s = 1..4
// and 2..5 vanish, two linear equations in p and q; beta and -delta are
// the roots of z^2 - p z + q. With xi known, m_s - xi times the same factor
// is linear in s and second differences over s = 1..3 and 2..4 serve.
// From the L-moments, m_1 = l1, m_2 = l1 - l2, m_3 = l1 - 3/2 l2 + 1/2 l3,
// m_4 = l1 - 9/5 l2 + l3 - 1/5 l4, m_5 = l1 - 2 l2 + 10/7 l3 - 1/2 l4 + 1/14 l5;
// the constant l1 drops out of the differences, so they are taken of
// m_s - l1 (less xi - l1 for the second differences).
bool wakeby_shapes(const std::array<double, 6>& m, int order, double& beta, double& delta) {
  // Weights of the differences of order 3 (or 2) over s0..s0+order.
  static constexpr std::array<double, 4> w3{-1, 3, -3, 1}, w2{-1, 2, -1, 0};
  const auto& w = order == 3 ? w3 : w2;
  double a[2][3]{};  // rows: p coefficient, q coefficient, minus the s^2 term
  for (int row = 0; row < 2; ++row) {
    for (int j = 0; j <= order; ++j) {
      const int s = row + 1 + j;
      const double v = w[static_cast<std::size_t>(j)] * m[static_cast<std::size_t>(s)];
      a[row][0] += v * s;
      a[row][1] += v;
      a[row][2] -= v * s * s;
    }
  }
  const double det = a[0][0] * a[1][1] - a[0][1] * a[1][0];
  if (!(std::fabs(det) > 0)) return false;
  const double p = (a[0][2] * a[1][1] - a[0][1] * a[1][2]) / det;
  const double q = (a[0][0] * a[1][2] - a[0][2] * a[1][0]) / det;
  const double disc = p * p - 4 * q;
  if (!(disc > 0)) return false;
  const double big = 0.5 * (p + std::copysign(std::sqrt(disc), p));  // the root of larger magnitude
  const double other = q / big;
  beta = std::fmax(big, other);
  delta = -std::fmin(big, other);
  return std::isfinite(beta) && std::isfinite(delta);
}

// alpha and gamma from two of the linear relations l = alpha A + gamma C,
// then the checks that make a Wakeby with finite L-moments.
bool wakeby_complete(double beta, double delta, double a1, double c1, double v1, double a2, double c2,
                     double v2, dist::Wakeby& w) {
  const double det = a1 * c2 - a2 * c1;
  if (!(std::fabs(det) > 0)) return false;
  w.alpha = (v1 * c2 - v2 * c1) / det;
  w.gamma = (a1 * v2 - a2 * v1) / det;
  w.beta = beta;
  w.delta = delta;
  return std::isfinite(w.alpha) && std::isfinite(w.gamma) && w.gamma >= 0 && w.alpha + w.gamma > 0 &&
         beta + delta > 0 && delta < 1 && beta > -1;
}

}  // namespace

// The exact solution from l1..l5; where it is not a Wakeby (complex roots,
// gamma < 0, alpha + gamma <= 0, delta >= 1), the solution from l1..l4 with
// xi = 0, the lower end of a positive variable such as a flood or a growth
// curve (taken only when l1 > 0).
bool fit_lmom(const dist::LmomentRatios& r, dist::Wakeby& out) {
  if (!std::isfinite(r.l1) || !(r.l2 > 0) || !std::isfinite(r.l2) || !std::isfinite(r.t3) ||
      !std::isfinite(r.t4) || !std::isfinite(r.t5))
    return false;
  const double l2 = r.l2, l3 = r.t3 * l2, l4 = r.t4 * l2, l5 = r.t5 * l2;
  // m_s - l1
  const std::array<double, 6> d{0,
                                0,
                                -l2,
                                -1.5 * l2 + 0.5 * l3,
                                -1.8 * l2 + l3 - 0.2 * l4,
                                -2 * l2 + 10.0 / 7 * l3 - 0.5 * l4 + l5 / 14};
  double beta = 0, delta = 0;
  dist::Wakeby w{};
  if (wakeby_shapes(d, 3, beta, delta)) {
    const double a2 = 1 / ((1 + beta) * (2 + beta)), c2 = 1 / ((1 - delta) * (2 - delta));
    const double a3 = a2 * (1 - beta) / (3 + beta), c3 = c2 * (1 + delta) / (3 - delta);
    if (wakeby_complete(beta, delta, a2, c2, l2, a3, c3, l3, w)) {
      w.xi = r.l1 - w.alpha / (1 + beta) - w.gamma / (1 - delta);
      if (std::isfinite(w.xi)) {
        out = w;
        return true;
      }
    }
  }
  if (!(r.l1 > 0)) return false;
  std::array<double, 6> m{};
  for (std::size_t s = 1; s <= 4; ++s) m[s] = d[s] + r.l1;
  if (!wakeby_shapes(m, 2, beta, delta)) return false;
  const double a1 = 1 / (1 + beta), c1 = 1 / (1 - delta);
  const double a2 = a1 / (2 + beta), c2 = c1 / (2 - delta);
  if (!wakeby_complete(beta, delta, a1, c1, r.l1, a2, c2, l2, w)) return false;
  w.xi = 0;
  out = w;
  return true;
}

}  // namespace korvalinde::stats
