// The inverse of the regularised incomplete gamma functions for the shapes
// the Pearson III meets in practice (a from about 0.04 to 1000): a start from
// the tail's leading term or the Wilson-Hilferty cube, then Halley steps on
// ln P in ln x (lower tail) or on ln Q in x (upper tail), with P and Q summed
// in double (series below a + 1, continued fraction above). Each is solved
// in the smaller of its two tails, where 1 - p is exact. NaN where this does
// not settle quickly (far tails, very small or very large shapes): the caller
// then takes the general inverse.
#pragma once

#include <algorithm>
#include <cmath>
#include <numbers>

namespace korvalinde::dist::special {

namespace detail_gamma_variate {

// ln(1 + m) - m without cancelling near 0: with r = m / (2 + m),
// ln(1 + m) = 2 atanh r and m = 2 r + m r.
inline double log1pmx(double m) {
  if (!(std::fabs(m) < 0.5)) return std::log1p(m) - m;
  const double r = m / (2 + m), s = r * r;
  double sum = 0, power = 1;
  for (int k = 0; k < 40; ++k) {
    const double term = power / (2 * k + 3);
    sum += term;
    if (term < 1e-17 * sum) break;
    power *= s;
  }
  return 2 * r * s * sum - m * r;
}

// x^a e^-x / Gamma(a); lead is 1 / Gamma(a) for a < 10 (unused above).
inline double prefix(double a, double x, double lead) {
  if (a < 10) {
    if (x < 600) return std::pow(x, a) * std::exp(-x) * lead;
    return std::exp(a * std::log(x) - x) * lead;
  }
  // sqrt(a / 2 pi) (x / a)^a e^(a - x) / Gamma*(a), Gamma*(a) from Stirling's series.
  const double t = 1 / (a * a);
  const double stirling =
      (1.0 / 12 +
       t * (-1.0 / 360 +
            t * (1.0 / 1260 +
                 t * (-1.0 / 1680 +
                      t * (1.0 / 1188 + t * (-691.0 / 360360 + t * (1.0 / 156 + t * (-3617.0 / 122400)))))))) /
      a;
  return std::sqrt(a / (2 * std::numbers::pi)) * std::exp(a * log1pmx((x - a) / a) - stirling);
}

// {T, D}: T the tail asked for (P when `lower`, else Q) and D = x^a e^-x / Gamma(a).
struct Tail {
  double t, d;
};
inline Tail tail(double a, double x, double lead, bool lower) {
  const double d = prefix(a, x, lead);
  if (x < a + 1) {
    double term = 1, sum = 1;
    for (int n = 1; n < 2000; ++n) {
      term *= x / (a + n);
      sum += term;
      if (term < 1e-17 * sum) break;
    }
    const double p = d / a * sum;
    return {lower ? p : 1 - p, d};
  }
  // Q = D / (b0 + a1 / (b1 + a2 / (b2 + ...))), a_n = n (a - n), b_n = x + 2 n + 1 - a:
  // the convergents A / B by their three-term recurrences (no division per
  // term), rescaled at each look at convergence.
  double a0 = 1, a1 = x + 1 - a, b0 = 0, b1 = 1, f = a1;
  for (int n = 1; n < 2000; n += 4) {
    for (int k = n; k < n + 4; k += 2) {
      // Two terms at once from the pair before them: half the dependent steps.
      const double ak = k * (a - k), bk = x + 2 * k + 1 - a;
      const double al = (k + 1) * (a - k - 1), bl = bk + 2;
      const double u = bl * bk + al, v = bl * ak;
      const double a2 = bk * a1 + ak * a0, b2 = bk * b1 + ak * b0;
      const double a3 = u * a1 + v * a0, b3 = u * b1 + v * b0;
      a0 = a2, a1 = a3, b0 = b2, b1 = b3;
    }
    const double scale = 1 / b1, next = a1 * scale;
    a0 *= scale, a1 = next, b0 *= scale, b1 = 1;
    const bool done = std::fabs(next - f) <= 4e-16 * std::fabs(next);
    f = next;
    if (done) break;
  }
  const double q = d / f;
  return {lower ? 1 - q : q, d};
}

// Phi^-1(p) for 0 < p <= 1/2 to about 5e-4, from ln p: a start only.
inline double rough_norm_quantile(double log_p) {
  const double t = std::sqrt(-2 * log_p);
  return -(t - (2.515517 + t * (0.802853 + t * 0.010328)) / (1 + t * (1.432788 + t * (0.189269 + t * 0.001308))));
}

}  // namespace detail_gamma_variate

// x with P(a, x) = p (`lower`) or Q(a, x) = p; NaN where the caller should
// use the general inverse.
inline double gamma_variate(double a, double p, bool lower) {
  namespace d = detail_gamma_variate;
  if (!(a >= 0.04 && a <= 1000 && p > 0 && p < 1)) return std::nan("");
  if (p > 0.5) {
    p = 1 - p;  // exact
    lower = !lower;
  }
  if (p < 1e-200) return std::nan("");
  // 1 / Gamma(a), kept for the next call: a fit asks for its levels at one shape.
  thread_local double last_a = 0, last_lead = 0;
  if (a != last_a) last_a = a, last_lead = a < 170 ? 1 / std::tgamma(a) : 0;
  const double lead = last_lead;
  const double log_p = std::log(p);
  // Wilson-Hilferty: x ~ a (1 - c + y sqrt(c))^3, c = 1 / (9 a), y the normal
  // deviate; near 0, where it fails, P ~ x^a / Gamma(a + 1).
  const double c = 1 / (9 * a), y = d::rough_norm_quantile(log_p) * (lower ? 1 : -1);
  const double base = 1 - c + y * std::sqrt(c);
  double x = a * base * base * base;
  if (lead > 0 && (a < 1 || !(base > 0.2))) {
    const double near0 = std::exp(((lower ? log_p : std::log1p(-p)) - std::log(a * lead)) / a);
    if (lower || near0 < 1 || !(base > 0)) x = std::min(near0, a + 1);
  }
  if (!(x > 1e-280 && x < 1e280)) return std::nan("");
  // Lower tail: Halley on h(u) = ln P(a, e^u) - ln p, concave in u. Upper:
  // on h(x) = ln Q(a, x) - ln p, concave in x for a >= 1; in u below.
  const bool in_log = lower || a < 1;
  for (int it = 0; it < 30; ++it) {
    const d::Tail t = d::tail(a, x, lead, lower);
    if (!(t.t > 0 && t.d > 1e-290)) return std::nan("");
    const double h = std::log(t.t) - log_p;
    // r: d ln T / d ln x in magnitude; its derivative follows from dD/dx = D ((a - 1) / x - 1).
    const double r = t.d / t.t;
    double h1, h2;
    if (in_log) {
      h1 = lower ? r : -r;
      h2 = lower ? r * (a - x) - r * r : -r * (a - x) - r * r;
    } else {
      const double rx = r / x;
      h1 = -rx;
      h2 = -rx * ((a - 1) / x - 1) - rx * rx;
    }
    const double newton = -h / h1, bend = newton * h2 / (2 * h1);
    const bool halley = std::fabs(bend) < 0.5;
    double step = halley ? newton / (1 + bend) : newton;
    if (!std::isfinite(step)) return std::nan("");
    double next;
    if (in_log) {
      step = std::clamp(step, -5.0, 5.0);
      next = x * std::exp(step);
    } else {
      next = x + step;
      if (!(next > 0)) next = x / 4;
    }
    const double size = std::fabs(next - x) / next;
    x = next;
    if (size < (halley ? 1e-7 : 1e-10)) return x;
  }
  return std::nan("");
}

}  // namespace korvalinde::dist::special
