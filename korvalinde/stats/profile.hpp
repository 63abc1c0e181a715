// Maximising a smooth log-likelihood of K parameters and profiling it.
//
// The caller writes the log-likelihood in the parametrisation it wants
// profiled: the parameter of interest first, the nuisance parameters after
// it. `maximize` is a Newton iteration with Levenberg-Marquardt damping (a
// trust region in effect) over the free parameters; `profile_bound` finds
// where 2 (l_max - l_p(psi)) reaches a critical value, outward from the
// maximum, with the derivative of the profile (the gradient of l in psi at
// the constrained maximum) and a bracket: Newton steps inside the bracket,
// bisection when a step leaves it. It first tries Newton on the joint
// system that defines the end point (bound_newton), one evaluation per step.
#pragma once

#include <array>
#include <cmath>
#include <algorithm>
#include <cstddef>
#include <limits>
#include <string>
#include <type_traits>

#include "korvalinde/records/result.hpp"

namespace korvalinde::stats {

template <std::size_t K>
struct Derivs {
  double l = 0;
  std::array<double, K> g{};
  std::array<std::array<double, K>, K> h{};
};

// The Cholesky factor of the symmetric positive definite trailing block of A
// from index `first`, in place in its lower triangle; false when that block
// is not positive definite.
template <std::size_t K>
bool cholesky(std::array<std::array<double, K>, K>& a, std::size_t first) {
  for (std::size_t j = first; j < K; ++j) {
    double d = a[j][j];
    for (std::size_t k = first; k < j; ++k) d -= a[j][k] * a[j][k];
    if (!(d > 0) || !std::isfinite(d)) return false;
    a[j][j] = std::sqrt(d);
    for (std::size_t i = j + 1; i < K; ++i) {
      double s = a[i][j];
      for (std::size_t k = first; k < j; ++k) s -= a[i][k] * a[j][k];
      a[i][j] = s / a[j][j];
    }
  }
  return true;
}

// Solves L L^T x = b on the block from `first` for the factor L of cholesky.
template <std::size_t K>
void cholesky_solve(const std::array<std::array<double, K>, K>& a, std::array<double, K> b,
                    std::size_t first, std::array<double, K>& x) {
  for (std::size_t i = first; i < K; ++i) {
    double s = b[i];
    for (std::size_t k = first; k < i; ++k) s -= a[i][k] * b[k];
    b[i] = s / a[i][i];
  }
  for (std::size_t i = K; i-- > first;) {
    double s = b[i];
    for (std::size_t k = i + 1; k < K; ++k) s -= a[k][i] * b[k];
    b[i] = s / a[i][i];
  }
  x = b;
}

// The same for two right-hand sides at once, with the diagonal's
// reciprocals: the divisions, independent, no longer chain the steps.
template <std::size_t K>
void cholesky_solve2(const std::array<std::array<double, K>, K>& a, std::array<double, K> b,
                     std::array<double, K> c, std::size_t first, std::array<double, K>& x,
                     std::array<double, K>& y) {
  std::array<double, K> inv{};
  for (std::size_t i = first; i < K; ++i) inv[i] = 1 / a[i][i];
  for (std::size_t i = first; i < K; ++i) {
    double s = b[i], t = c[i];
    for (std::size_t k = first; k < i; ++k) {
      s -= a[i][k] * b[k];
      t -= a[i][k] * c[k];
    }
    b[i] = s * inv[i];
    c[i] = t * inv[i];
  }
  for (std::size_t i = K; i-- > first;) {
    double s = b[i], t = c[i];
    for (std::size_t k = i + 1; k < K; ++k) {
      s -= a[k][i] * b[k];
      t -= a[k][i] * c[k];
    }
    b[i] = s * inv[i];
    c[i] = t * inv[i];
  }
  x = b;
  y = c;
}

// Solves A x = b for the symmetric positive definite block of A from index
// `first`; false when that block is not positive definite.
template <std::size_t K>
bool solve_spd(std::array<std::array<double, K>, K> a, const std::array<double, K>& b, std::size_t first,
               std::array<double, K>& x) {
  if (!cholesky<K>(a, first)) return false;
  cholesky_solve<K>(a, b, first, x);
  return true;
}

// Inverse of -H (the observed information) when it is positive definite.
template <std::size_t K>
bool inverse_information(const std::array<std::array<double, K>, K>& h,
                         std::array<std::array<double, K>, K>& cov) {
  std::array<std::array<double, K>, K> a{};
  for (std::size_t i = 0; i < K; ++i)
    for (std::size_t j = 0; j < K; ++j) a[i][j] = -h[i][j];
  if (!cholesky<K>(a, 0)) return false;
  for (std::size_t c = 0; c < K; ++c) {
    std::array<double, K> e{}, x{};
    e[c] = 1;
    cholesky_solve<K>(a, e, 0, x);
    for (std::size_t r = 0; r < K; ++r) cov[r][c] = x[r];
  }
  for (std::size_t i = 0; i < K; ++i)
    for (std::size_t j = 0; j < i; ++j) cov[i][j] = cov[j][i] = 0.5 * (cov[i][j] + cov[j][i]);
  return true;
}

struct MaxResult {
  bool ok = false;
  int iterations = 0;
};

// Maximises f over theta[first..K) from a point where f is defined (f
// returns false where it is not). Converged when the undamped Newton step is
// below tol in every free coordinate (the parameters should be of order 1);
// that last step is taken, without evaluating f there, unless `last_step` is
// false (where l matters more than the point). d holds the derivatives at
// the last point evaluated, within tol of the returned theta: l there is
// below the maximum by about g.step / 2, of order tol^2. A step to a point
// where f is undefined is halved up to `halvings` times before it counts as
// rejected: where the maximum lies near an end of the support, the damping
// alone would zig-zag along it.
template <std::size_t K, class F>
MaxResult maximize(const F& f, std::array<double, K>& theta, Derivs<K>& d, std::size_t first,
                   double tol = 1e-11, int max_iterations = 200, bool last_step = true, int halvings = 0) {
  MaxResult r;
  if (!f(theta, d)) return r;
  double lambda = 0;
  while (r.iterations < max_iterations) {
    ++r.iterations;
    std::array<std::array<double, K>, K> a{};
    for (std::size_t i = first; i < K; ++i)
      for (std::size_t j = first; j < K; ++j) a[i][j] = -d.h[i][j];
    std::array<double, K> step{};
    // Converged when the undamped Newton step is within tol: take it.
    if (solve_spd<K>(a, d.g, first, step)) {
      double largest = 0;
      for (std::size_t i = first; i < K; ++i) largest = std::max(largest, std::fabs(step[i]));
      if (largest <= tol) {
        r.ok = true;
        if (last_step)
          for (std::size_t i = first; i < K; ++i) theta[i] += step[i];
        return r;
      }
    }
    bool solved = false;
    for (int tries = 0; tries < 60 && !solved; ++tries) {
      auto damped = a;
      for (std::size_t i = first; i < K; ++i)
        damped[i][i] += lambda * std::max(std::fabs(a[i][i]), 1e-12);
      solved = solve_spd<K>(damped, d.g, first, step);
      if (!solved) lambda = lambda == 0 ? 1e-6 : lambda * 10;
    }
    if (!solved) return r;
    auto next = theta;
    for (std::size_t i = first; i < K; ++i) next[i] += step[i];
    Derivs<K> dn;
    bool defined = f(next, dn);
    double alpha = 1;
    for (int h = 0; h < halvings && !defined; ++h) {
      alpha *= 0.5;
      for (std::size_t i = first; i < K; ++i) next[i] = theta[i] + alpha * step[i];
      defined = f(next, dn);
    }
    double predicted = 0;
    for (std::size_t i = first; i < K; ++i) predicted += d.g[i] * step[i];
    predicted *= alpha;
    // Below this the change of l is rounding: accept an undamped step that
    // keeps l within it.
    const double noise = 1e-13 * (std::fabs(d.l) + 1);
    const bool small = predicted < noise;
    if (defined && (dn.l - d.l >= 0.25 * 0.5 * predicted || (small && dn.l >= d.l - noise))) {
      theta = next;
      d = dn;
      lambda = lambda < 1e-7 ? 0 : lambda / 10;
    } else {
      lambda = lambda == 0 ? 1e-4 : lambda * 10;
      if (lambda > 1e30) return r;
    }
  }
  return r;
}

// Solves A x = b by Gaussian elimination with partial pivoting; false when A
// is singular to working precision.
template <std::size_t K>
bool solve_general(std::array<std::array<double, K>, K> a, std::array<double, K> b,
                   std::array<double, K>& x) {
  for (std::size_t c = 0; c < K; ++c) {
    std::size_t p = c;
    for (std::size_t r = c + 1; r < K; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
    if (!(std::fabs(a[p][c]) > 0) || !std::isfinite(a[p][c])) return false;
    std::swap(a[p], a[c]);
    std::swap(b[p], b[c]);
    for (std::size_t r = c + 1; r < K; ++r) {
      const double m = a[r][c] / a[c][c];
      for (std::size_t k = c; k < K; ++k) a[r][k] -= m * a[c][k];
      b[r] -= m * b[c];
    }
  }
  for (std::size_t i = K; i-- > 0;) {
    double s = b[i];
    for (std::size_t k = i + 1; k < K; ++k) s -= a[i][k] * x[k];
    x[i] = s / a[i][i];
    if (!std::isfinite(x[i])) return false;
  }
  return true;
}

// Whether f(theta, d, false) evaluates l and the gradient alone (leaving d.h).
template <class F, std::size_t K>
inline constexpr bool kCanSkipHessian =
    std::is_invocable_r_v<bool, const F&, const std::array<double, K>&, Derivs<K>&, bool>;

// The end point of a profile interval as the root of the joint system
// {dl/dtheta_i = 0 for the nuisance parameters, l = lhat - crit / 2}, one
// evaluation per step instead of a maximisation per trial value of psi. Each
// step goes to the end point of the local quadratic model of l: from the
// model's maximum along the first column of its covariance until the model
// has dropped to the target (where the model has no such point, to its
// maximum; where -H is not positive definite, a Newton step on the joint
// system). At the end point the step is 0, and near it the steps shrink
// quadratically; the last one is taken without evaluating again. The first point is `start` when given (a neighbouring
// solution), else the quadratic approximation at the maximum. The root is
// accepted only where it is the end point sought: on the search side of the
// maximum, within psi_limit, the nuisance parameters at a maximum (their
// Hessian block negative definite) and the profile falling outward. NaN when
// this fails; the caller then brackets. A `hasty` search (from a start that
// extrapolates) gives up as soon as it stops converging.
template <std::size_t K, class F>
double bound_newton(const F& f, const std::array<double, K>& theta_hat, double lhat, double se,
                    double crit, int dir, double psi_limit, double rel_tol,
                    const std::array<double, K>* start = nullptr,
                    std::array<double, K>* solution = nullptr, bool hasty = false) {
  Derivs<K> d;
  auto theta = theta_hat;
  if (start != nullptr) {
    theta = *start;
  } else {
    if (!f(theta_hat, d)) return NAN;
    std::array<std::array<double, K>, K> cov{};
    if (!inverse_information<K>(d.h, cov) || !(cov[0][0] > 0)) return NAN;
    // Quadratic approximation: theta moves along the first column of the
    // covariance until l has dropped by crit / 2.
    const double scale = dir * std::sqrt(crit / cov[0][0]);
    for (std::size_t i = 0; i < K; ++i) theta[i] += scale * cov[i][0];
  }
  const double target = lhat - 0.5 * crit;
  const double psi0 = theta_hat[0];
  const double room = std::isfinite(psi_limit) ? std::fabs(psi_limit - psi0) : INFINITY;
  // Where f is undefined, or l far below the target (where its quadratic
  // model is poor), go back halfway towards the last point (or the maximum)
  // where it was neither.
  auto last = theta_hat;
  int halvings = 0, pullbacks = 0, drops = 0;
  double rho_before = 0;  // the scaled size of the last step, when it was taken in full
  bool full_before = false;
  // The Cholesky factor of -H and the first column of (-H)^-1 at the last
  // evaluation with the Hessian, when -H was positive definite there.
  std::array<std::array<double, K>, K> a{};
  std::array<double, K> col{};
  bool factored = false;
  for (int it = 0; it < 40; ++it) {
    // Within 1e-5 of the end point the last Hessian serves (a step with it
    // leaves an error some 1e-5 times its size): where f can, it evaluates l
    // and the gradient alone, which costs less.
    bool light = false;
    if constexpr (kCanSkipHessian<F, K>) light = factored && full_before && rho_before <= 1e-5;
    bool defined;
    if constexpr (kCanSkipHessian<F, K>) defined = light ? f(theta, d, false) : f(theta, d);
    else defined = f(theta, d);
    if (!defined) {
      if (hasty || ++halvings > 30) return NAN;
      for (std::size_t i = 0; i < K; ++i) theta[i] = 0.5 * (theta[i] + last[i]);
      full_before = false;
      continue;
    }
    if (!hasty && d.l < target - crit) {
      if (++drops > 30) return NAN;
      for (std::size_t i = 0; i < K; ++i) theta[i] = 0.5 * (theta[i] + last[i]);
      full_before = false;
      continue;
    }
    last = theta;
    std::array<double, K> step{};  // (-H)^-1 g, then the step
    bool definite = light;
    if (light) {
      cholesky_solve<K>(a, d.g, 0, step);
    } else {
      for (std::size_t i = 0; i < K; ++i)
        for (std::size_t j = 0; j < K; ++j) a[i][j] = -d.h[i][j];
      definite = cholesky<K>(a, 0);
      if (definite) {
        std::array<double, K> e{};
        e[0] = 1;
        cholesky_solve2<K>(a, e, d.g, 0, col, step);
        definite = col[0] > 0;
      }
      factored = definite;
    }
    if (definite) {
      double gcg = 0;
      for (std::size_t i = 0; i < K; ++i) gcg += d.g[i] * step[i];
      const double gap = d.l + 0.5 * gcg - target;  // the model's maximum above the target
      if (gap > 0) {
        const double t = dir * std::sqrt(2 * gap / col[0]);
        for (std::size_t i = 0; i < K; ++i) step[i] += t * col[i];
      }
    } else {
      std::array<std::array<double, K>, K> jac{};
      std::array<double, K> res{};
      for (std::size_t i = 1; i < K; ++i) {
        jac[i - 1] = d.h[i];
        res[i - 1] = -d.g[i];
      }
      jac[K - 1] = d.g;
      res[K - 1] = target - d.l;
      if (!solve_general<K>(jac, res, step)) return NAN;
    }
    // Converged when the step is at rounding level in psi and below 1e-9 in
    // the nuisance parameters: the end point then does not depend on the
    // path that led to it (nor on the last bits of the library functions).
    // Or when the steps shrink quadratically (rho_k = kappa rho_(k-1)^2) and
    // the error left after this step, kappa rho^2, is below 1e-14: that saves
    // the evaluation that would only confirm it. (After a step with the last
    // Hessian, the error left is about kappa rho rho_(k-1) instead.)
    bool done = std::fabs(step[0]) <= rel_tol * (std::fabs(theta[0]) + se);
    for (std::size_t i = 1; i < K; ++i) done = done && std::fabs(step[i]) <= 1e-9;
    double rho = std::fabs(step[0]) / (std::fabs(theta[0]) + se);
    for (std::size_t i = 1; i < K; ++i) rho = std::max(rho, std::fabs(step[i]));
    // The steps' sizes are scaled by psi and 1 only: on a likelihood ridge
    // far narrower than that in some direction, a step that small can still
    // move l by much. The early stop also asks that the step's curvature
    // term, the change of l it makes beyond the linear one, be negligible.
    const bool settled = light ? rho * rho <= 1e-14 * rho_before
                               : rho * rho * rho <= 1e-14 * rho_before * rho_before;
    if (!done && full_before && rho <= 1e-4 && settled) {
      double quad = 0;
      for (std::size_t i = 0; i < K; ++i)
        for (std::size_t j = 0; j < K; ++j) quad += step[i] * d.h[i][j] * step[j];
      done = std::fabs(quad) <= 1e-10;
    }
    // A hasty search gives up as soon as the steps stop shrinking, or where
    // l is far below the target: its start was poor.
    if (hasty && ((full_before && !(rho < rho_before)) || !(std::fabs(d.l - target) < 0.25 * crit))) return NAN;
    // Keep psi on the search side and within its domain.
    if (!(dir * (theta[0] + step[0] - psi0) > 0)) {
      // Far beyond the bound, where the quadratic approximation is poor:
      // restart halfway back towards the maximum.
      if (++pullbacks > 8) return NAN;
      for (std::size_t i = 0; i < K; ++i) theta[i] = 0.5 * (theta[i] + theta_hat[i]);
      full_before = false;
      continue;
    }
    double t = 1;
    for (int h = 0;; ++h, t *= 0.5) {
      if (h == 60) return NAN;
      if (dir * (theta[0] + t * step[0] - psi0) < room) break;
    }
    if (done) {
      // The profile must fall outward, at a maximum over the nuisance, and
      // the point must be on the target (the step moves l by far less).
      if (t != 1 || !(dir * d.g[0] < 0)) return NAN;
      std::array<std::array<double, K>, K> a{};
      for (std::size_t i = 1; i < K; ++i)
        for (std::size_t j = 1; j < K; ++j) a[i][j] = -d.h[i][j];
      std::array<double, K> x{};
      if (!solve_spd<K>(a, d.g, 1, x)) return NAN;
      if (!(std::fabs(d.l - target) <= 1e-6 * (std::fabs(lhat) + 1))) return NAN;
      for (std::size_t i = 0; i < K; ++i) theta[i] += step[i];
      if (solution != nullptr) *solution = theta;
      return theta[0];
    }
    for (std::size_t i = 0; i < K; ++i) theta[i] += t * step[i];
    rho_before = rho;
    full_before = t == 1;
  }
  return NAN;
}

// The end points found so far for a family of profiles indexed by y (the
// last three), to predict the end point at the next y: by the cubic through
// the last two and their slopes in y where both have one, else by the
// polynomial through all. A search started there begins well inside its
// region of quadratic convergence, where one started at the last end point
// would not.
template <std::size_t K>
class EndTrail {
 public:
  void clear() { count_ = 0; }
  bool empty() const { return count_ == 0; }
  const std::array<double, K>& last() const { return ends_[count_ - 1]; }  // when not empty
  // `slope`: the end point's derivative in y, when known (else nullptr).
  void add(double y, const std::array<double, K>& end, const std::array<double, K>* slope = nullptr) {
    // A level next to the last one (the same level computed another way)
    // replaces it: nodes that close would make the polynomial's weights
    // huge, and the prediction the rounding noise of their end points.
    if (count_ > 0 && std::fabs(y - ys_[count_ - 1]) <= 1e-6 * (1 + std::fabs(y))) --count_;
    if (count_ == 3) {
      std::rotate(ys_.begin(), ys_.begin() + 1, ys_.end());
      std::rotate(ends_.begin(), ends_.begin() + 1, ends_.end());
      std::rotate(slopes_.begin(), slopes_.begin() + 1, slopes_.end());
      std::rotate(sloped_.begin(), sloped_.begin() + 1, sloped_.end());
      count_ = 2;
    }
    ys_[count_] = y;
    ends_[count_] = end;
    sloped_[count_] = slope != nullptr;
    if (slope != nullptr) slopes_[count_] = *slope;
    ++count_;
  }
  // The count of end points the prediction rests on (0: out unchanged).
  int predict(double y, std::array<double, K>& out) const {
    if (count_ == 0) return 0;
    if (count_ >= 2 && sloped_[count_ - 1] && sloped_[count_ - 2]) {
      const int a = count_ - 2, b = count_ - 1;
      const double h = ys_[b] - ys_[a], t = (y - ys_[a]) / h, t2 = t * t, t3 = t2 * t;
      const double h00 = 2 * t3 - 3 * t2 + 1, h10 = t3 - 2 * t2 + t, h01 = 3 * t2 - 2 * t3, h11 = t3 - t2;
      for (std::size_t i = 0; i < K; ++i)
        out[i] = h00 * ends_[a][i] + h10 * h * slopes_[a][i] + h01 * ends_[b][i] + h11 * h * slopes_[b][i];
      return 2;
    }
    out.fill(0);
    for (int j = 0; j < count_; ++j) {
      double w = 1;
      for (int m = 0; m < count_; ++m)
        if (m != j) w *= (y - ys_[m]) / (ys_[j] - ys_[m]);
      for (std::size_t i = 0; i < K; ++i) out[i] += w * ends_[j][i];
    }
    return count_;
  }

 private:
  std::array<double, 3> ys_{};
  std::array<std::array<double, K>, 3> ends_{}, slopes_{};
  std::array<bool, 3> sloped_{};
  int count_ = 0;
};

// The last point where a log-likelihood was evaluated, and its derivatives.
template <std::size_t K>
struct Evaluated {
  std::array<double, K> theta{};
  Derivs<K> d;
  bool valid = false;
};

// The derivative in y of a profile end point theta(y) of the quantity
// q(theta; y), whose derivative in theta[0] is 1. The end point solves
// grad l = lambda grad q, l = target; differentiated in y,
// (H - lambda Q) theta' - lambda' grad q = lambda d(grad q)/dy and
// grad l . theta' = 0, Q the Hessian of q, lambda = dl/dtheta[0]. From the
// derivatives at the last point evaluated with its Hessian (`at`), when that
// is within 1e-4 of the end point `end` (the error of the slope is then of
// that order, small for a prediction); false otherwise.
template <std::size_t K>
bool end_point_slope(const Evaluated<K>& at, const std::array<double, K>& end,
                     const std::array<double, K>& grad_q, const std::array<std::array<double, K>, K>& hess_q,
                     const std::array<double, K>& dgrad_q, std::array<double, K>& out) {
  if (!at.valid) return false;
  for (std::size_t i = 0; i < K; ++i)
    if (!(std::fabs(at.theta[i] - end[i]) <= 1e-4)) return false;
  const double lambda = at.d.g[0];
  std::array<std::array<double, K + 1>, K + 1> m{};
  std::array<double, K + 1> rhs{}, x{};
  for (std::size_t i = 0; i < K; ++i) {
    for (std::size_t k = 0; k < K; ++k) m[i][k] = at.d.h[i][k] - lambda * hess_q[i][k];
    m[i][K] = -grad_q[i];
    m[K][i] = at.d.g[i];
    rhs[i] = lambda * dgrad_q[i];
  }
  if (!solve_general<K + 1>(m, rhs, x)) return false;
  std::copy_n(x.begin(), K, out.begin());
  return true;
}

// The reasons of profile_bound for an end point it did not find although
// one may exist (the others say that none does).
inline constexpr const char* kNoMaximumNearBound = "the profile likelihood has no maximum near the bound";
inline constexpr const char* kUndefinedBeforeBound =
    "the profile likelihood is undefined before it reaches the critical level";
inline bool search_failed(const ProfileLimit& b) {
  return b.reason == kNoMaximumNearBound || b.reason == kUndefinedBeforeBound;
}

// One end of a profile-likelihood interval (records/result.hpp): psi where
// 2 (l_max - l_p(psi)) = crit, or NaN and the reason it has none.
// Searches from the maximum theta_hat (l_max = lhat) in direction dir (+1 or
// -1) along theta[0]. `se` guesses the scale of theta[0] (its standard
// error); the first trial point is the quadratic approximation's root.
// psi_limit bounds the search (the end of psi's domain, may be infinite).
// Converges to rel_tol relative to max(|psi|, se). The maximisation over the
// nuisance starts from their values at the previous point, else at the
// maximum; where f is undefined at such a start, repair(t) moves the
// nuisance parameters of t to a point where it is defined (or returns t).
// `start`, when given, is a guess of the end point (the solution of a
// neighbouring problem); `solution` receives the end point found.
template <std::size_t K, class F, class R>
ProfileLimit profile_bound(const F& f, const R& repair, const std::array<double, K>& theta_hat,
                           double lhat, double se, double crit, int dir,
                           double psi_limit = INFINITY, double rel_tol = 1e-12,
                           const std::array<double, K>* start = nullptr,
                           std::array<double, K>* solution = nullptr) {
  ProfileLimit out;
  const double psi0 = theta_hat[0];
  if (!(se > 0) || !std::isfinite(se)) se = 0.1 * (std::fabs(psi0) + 1);
  if (const double fast =
          bound_newton<K>(f, theta_hat, lhat, se, crit, dir, psi_limit, rel_tol, start, solution);
      !std::isnan(fast)) {
    out.value = fast;
    return out;
  }
  auto nuisance = theta_hat;
  // g(psi) = 2 (lhat - lp) - crit with g' = -2 dl/dpsi; false when lp fails.
  auto eval = [&](double psi, double& g, double& dg) {
    Derivs<K> d;
    std::array<double, K> t;
    bool found = false;
    for (int attempt = 0; attempt < 4 && !found; ++attempt) {
      t = attempt < 2 ? nuisance : theta_hat;
      t[0] = psi;
      if (attempt % 2 == 1) t = repair(t);
      found = maximize<K>(f, t, d, 1, 1e-9, 200, false).ok;
    }
    if (!found) return false;
    nuisance = t;
    g = 2 * (lhat - d.l) - crit;
    dg = -2 * d.g[0] * dir;  // along the search direction
    return true;
  };
  // Distance from psi0 along dir: the bracket [lo, hi] has g(lo) < 0 <= g(hi).
  double lo = 0, hi = INFINITY;
  const double room = std::isfinite(psi_limit) ? std::fabs(psi_limit - psi0) : INFINITY;
  double x = std::min(std::sqrt(crit) * se, 0.5 * room);
  for (int it = 0; it < 300; ++it) {
    double g = 0, dg = 0;
    if (!eval(psi0 + dir * x, g, dg)) {
      // No maximum there: step back towards the bracketed side.
      if (std::isfinite(hi) || hi - lo < 1e-15 * (x + se)) {
        out.reason = kNoMaximumNearBound;
        return out;
      }
      hi = x;  // treat as beyond the bound, but remember it is undefined
      x = 0.5 * (lo + hi);
      if (hi - lo <= rel_tol * (std::fabs(psi0 + dir * x) + se)) {
        out.reason = kUndefinedBeforeBound;
        return out;
      }
      continue;
    }
    if (g >= 0) hi = x; else lo = x;
    if (g == 0) break;
    double next;
    if (std::isfinite(hi)) {
      next = dg > 0 ? x - g / dg : NAN;
      if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
      if (std::fabs(next - x) <= rel_tol * (std::fabs(psi0 + dir * x) + se) ||
          hi - lo <= rel_tol * (std::fabs(psi0 + dir * x) + se)) {
        x = next;
        break;
      }
    } else {
      // Not bracketed: a Newton step, at least 1.05 and at most 4 times as far.
      next = dg > 0 ? x - g / dg : 4 * x;
      next = std::clamp(next, 1.05 * x, 4 * x);
      if (next >= room) {
        if (x >= room * (1 - 1e-12)) {
          out.reason = "the profile likelihood stays above the critical level up to the end of the parameter's range";
          return out;
        }
        next = 0.5 * (x + room);
      }
      if (next * 1e-12 > std::fabs(psi0) + se * 1e6) {
        out.reason = "the profile likelihood does not fall to the critical level: the bound does not exist";
        return out;
      }
    }
    x = next;
  }
  if (!std::isfinite(hi)) {
    out.reason = "the profile likelihood does not fall to the critical level: the bound does not exist";
    return out;
  }
  out.value = psi0 + dir * x;
  if (solution != nullptr) {
    *solution = nuisance;
    (*solution)[0] = out.value;
  }
  return out;
}

// One side (dir) of the profile intervals of a family of parameters psi(y)
// (the quantiles at reduced variates y, taken in ascending order): the end
// points found so far, in coordinates common to the family.
template <std::size_t K>
struct FamilySide {
  EndTrail<K> trail;
  bool extrapolate = true;  // false for the level after an extrapolated start failed
};

// profile_bound for the member y of a family (its f, repair, theta_hat,
// lhat, se, crit and dir as there). The search starts from the end point
// extrapolated from the last ones (a hasty search), else from the last end
// point, else from `first` (when finite). to_member and to_family convert
// between the member's coordinates and the family's; slope(end, d) gives the
// derivative d of the end point `end` (family coordinates) in y, or false.
template <std::size_t K, class F, class R, class ToMember, class ToFamily, class Slope>
ProfileLimit family_bound(FamilySide<K>& side, double y, const F& f, const R& repair,
                          const std::array<double, K>& theta_hat, double lhat, double se, double crit,
                          int dir, std::array<double, K> first, const ToMember& to_member,
                          const ToFamily& to_family, const Slope& slope) {
  std::array<double, K> predicted{}, found{};
  const int known = side.trail.predict(y, predicted);
  ProfileLimit b;
  const bool extrapolate = side.extrapolate;
  side.extrapolate = true;
  if (known > 1 && extrapolate && se > 0 && std::isfinite(se)) {
    predicted = to_member(predicted);
    b.value = bound_newton<K>(f, theta_hat, lhat, se, crit, dir, INFINITY, 1e-12, &predicted, &found,
                              true);
    side.extrapolate = !std::isnan(b.value);
  }
  if (known > 0) first = to_member(side.trail.last());
  if (std::isnan(b.value))
    b = profile_bound<K>(f, repair, theta_hat, lhat, se, crit, dir, INFINITY, 1e-12,
                         std::isfinite(first[0]) ? &first : nullptr, &found);
  if (b.reason.empty()) {
    const std::array<double, K> end = to_family(found);
    std::array<double, K> d{};
    side.trail.add(y, end, slope(end, d) ? &d : nullptr);
  } else {
    side.trail.clear();
  }
  return b;
}

}  // namespace korvalinde::stats
