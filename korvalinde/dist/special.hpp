// The special functions the distributions are written in: the standard
// normal and the regularised incomplete gamma functions with their
// logarithms far into the tails, where the functions themselves underflow,
// and the policy under which Boost.Math returns inf or NaN instead of
// throwing.
#pragma once

#include <boost/math/policies/policy.hpp>
#include <boost/math/special_functions/erf.hpp>
#include <boost/math/special_functions/gamma.hpp>
#include <cmath>
#include <limits>
#include <numbers>

namespace korvalinde::dist {

namespace special {

using Policy = boost::math::policies::policy<
    boost::math::policies::domain_error<boost::math::policies::ignore_error>,
    boost::math::policies::pole_error<boost::math::policies::ignore_error>,
    boost::math::policies::overflow_error<boost::math::policies::ignore_error>,
    boost::math::policies::evaluation_error<boost::math::policies::ignore_error>>;
// The same, evaluating in double instead of long double: several times
// faster, a few units in the last place less accurate.
using DoublePolicy = boost::math::policies::normalise<Policy, boost::math::policies::promote_double<false>>::type;

inline constexpr double kInf = std::numeric_limits<double>::infinity();
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// ln sqrt(2 pi)
inline constexpr double kLogSqrt2Pi = 0.91893853320467274178032973640562;

// Phi(y) and 1 - Phi(y), each accurate to its own smallest value.
inline double norm_cdf(double y) { return 0.5 * boost::math::erfc(-y / std::numbers::sqrt2, Policy()); }
inline double norm_sf(double y) { return norm_cdf(-y); }

// ln Phi(y): below y = -35 (Phi near 1e-270) the asymptotic series
// ln Phi = -y^2/2 - ln(-y) - ln sqrt(2 pi) + ln(1 - 1/y^2 + 3/y^4 - ...),
// whose twelfth term is below 1e-22 there; above 0, log1p of the upper tail.
inline double norm_log_cdf(double y) {
  if (std::isnan(y)) return y;
  if (y > 0) return std::log1p(-norm_sf(y));
  if (y > -35) return std::log(norm_cdf(y));
  if (y == -kInf) return -kInf;
  const double t = 1 / (y * y);
  double sum = 1, term = 1;
  for (int k = 1; k <= 12; ++k) {
    term *= -(2 * k - 1) * t;
    sum += term;
  }
  return -0.5 * y * y - std::log(-y) - kLogSqrt2Pi + std::log(sum);
}
inline double norm_log_sf(double y) { return norm_log_cdf(-y); }

inline double norm_log_pdf(double y) { return -0.5 * y * y - kLogSqrt2Pi; }

// Phi^-1(p) for p in [0, 1], -inf and inf at the ends, NaN outside.
inline double norm_quantile(double p) {
  if (!(p >= 0 && p <= 1)) return kNaN;
  if (p == 0) return -kInf;
  if (p == 1) return kInf;
  return -std::numbers::sqrt2 * boost::math::erfc_inv(2 * p, Policy());
}
// Phi^-1(1 - q) without forming 1 - q.
inline double norm_quantile_complement(double q) {
  const double y = norm_quantile(q);
  return -y;
}

// A pair {ln P, ln Q} (or {ln F, ln(1 - F)}).
struct LogPQ {
  double p, q;
};

// ln P(a, x), the regularised lower incomplete gamma function. Where P is
// below 1e-290 its series x^a e^-x / Gamma(a + 1) sum x^n / ((a+1)...(a+n))
// (then x is well below a, and the series converges fast) in logs; above 1/2
// log1p of Q.
template <class P = Policy>
inline double log_gamma_p(double a, double x) {
  if (std::isnan(x)) return x;
  if (!(x > 0)) return -kInf;
  if (x == kInf) return 0;
  const double p = boost::math::gamma_p(a, x, P());
  if (p > 0.5) return std::log1p(-boost::math::gamma_q(a, x, P()));
  if (p > 1e-290) return std::log(p);
  double sum = 1, term = 1;
  for (int n = 1; n < 10000; ++n) {
    term *= x / (a + n);
    sum += term;
    if (term < 1e-17 * sum) break;
  }
  return a * std::log(x) - x - boost::math::lgamma(a + 1, P()) + std::log(sum);
}

// ln Q(a, x), the regularised upper incomplete gamma function. Where Q is
// below 1e-290 (x well above a) its continued fraction
// Q = x^a e^-x / Gamma(a) / (x + 1 - a - 1 (1 - a) / (x + 3 - a - ...)),
// evaluated by the modified Lentz method, in logs; above 1/2 log1p of P.
template <class P = Policy>
inline double log_gamma_q(double a, double x) {
  if (std::isnan(x)) return x;
  if (!(x > 0)) return 0;
  if (x == kInf) return -kInf;
  const double q = boost::math::gamma_q(a, x, P());
  if (q > 0.5) return std::log1p(-boost::math::gamma_p(a, x, P()));
  if (q > 1e-290) return std::log(q);
  constexpr double tiny = 1e-300;
  double b = x + 1 - a, c = 1 / tiny, d = 1 / b, h = d;
  for (int i = 1; i < 10000; ++i) {
    const double an = -i * (i - a);
    b += 2;
    d = an * d + b;
    if (std::fabs(d) < tiny) d = tiny;
    c = b + an / c;
    if (std::fabs(c) < tiny) c = tiny;
    d = 1 / d;
    const double del = d * c;
    h *= del;
    if (std::fabs(del - 1) < 1e-17) break;
  }
  return a * std::log(x) - x - boost::math::lgamma(a, P()) + std::log(h);
}

// {ln P(a, x), ln Q(a, x)} as log_gamma_p and log_gamma_q give them, from
// one evaluation of the smaller of P and Q (the first tried being Q above
// the mean a): the larger is log1p of it.
template <class P = Policy>
inline LogPQ log_gamma_pq(double a, double x) {
  if (std::isnan(x)) return {x, x};
  if (!(x > 0)) return {-kInf, 0};
  if (x == kInf) return {0, -kInf};
  const auto upper = [&](double q) {
    return LogPQ{std::log1p(-q), q > 1e-290 ? std::log(q) : log_gamma_q<P>(a, x)};
  };
  if (x > a) {
    const double q = boost::math::gamma_q(a, x, P());
    if (q < 0.5) return upper(q);
  }
  const double p = boost::math::gamma_p(a, x, P());
  if (p > 0.5) return upper(boost::math::gamma_q(a, x, P()));
  return {p > 1e-290 ? std::log(p) : log_gamma_p<P>(a, x), std::log1p(-p)};
}

// P(a, x) and Q(a, x) for a large shape a, given mu = x / a - 1, by Temme's
// uniform expansion: with eta = sign(mu) sqrt(2 (mu - ln(1 + mu))) and
// s = eta sqrt(a / 2),
//   Q = erfc(s) / 2 + R,  P = erfc(-s) / 2 - R,
//   R = e^(-s^2) / sqrt(2 pi a) (C0(eta) + C1(eta) / a),
// C0 = 1/mu - 1/eta (its series where that cancels), C1 = -1/540 - eta/288.
// The terms left out are below 1e-16 relative for a >= 1e6, where Boost's
// own incomplete gamma functions (and ibeta) lose digits: at a = 4e12 they
// are wrong in the first digit. Returns {ln P, ln Q}; NaN for mu <= -1.
inline LogPQ log_gamma_pq_large(double a, double mu) {
  if (std::isnan(mu) || !(mu > -1)) return {kNaN, kNaN};
  if (mu == kInf) return {0, -kInf};
  const double lm = -boost::math::log1pmx(mu, Policy());  // mu - ln(1 + mu) >= 0
  const double eta = std::copysign(std::sqrt(2 * lm), mu);
  double c0;
  if (std::fabs(eta) < 0.02) {
    const double e = eta;
    c0 = -1.0 / 3 + e * (1.0 / 12 + e * (-2.0 / 135 + e * (1.0 / 864 + e * (1.0 / 2835 - e * 139.0 / 777600))));
  } else {
    c0 = 1 / mu - 1 / eta;
  }
  const double r = (c0 + (-1.0 / 540 - eta / 288) / a) / std::sqrt(2 * std::numbers::pi * a);
  const double s = eta * std::sqrt(a / 2);
  // ln(erfc(t) / 2 +- r e^(-t^2)) as -t^2 + ln(erfcx(t) / 2 +- r) where erfc
  // would underflow; erfcx(t) = e^(t^2) erfc(t) from its asymptotic series.
  auto log_side = [&](double t, double sign) {
    if (t < 25) return std::log(0.5 * boost::math::erfc(t, Policy()) + sign * r * std::exp(-t * t));
    const double u = 1 / (2 * t * t);
    double sum = 1, term = 1;
    for (int k = 1; k <= 10; ++k) {
      term *= -(2 * k - 1) * u;
      sum += term;
    }
    const double erfcx = sum / (t * std::sqrt(std::numbers::pi));
    return -t * t + std::log(0.5 * erfcx + sign * r);
  };
  return {log_side(-s, -1), log_side(s, 1)};
}

}  // namespace special

}  // namespace korvalinde::dist
