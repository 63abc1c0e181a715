#include "korvalinde/stats/gof_limit.hpp"

#include <boost/math/quadrature/gauss_kronrod.hpp>
#include <cmath>
#include <numbers>

namespace korvalinde::stats {

namespace {

constexpr double kPi = std::numbers::pi;

// W^2 and A^2 are both sums lambda_j Z_j^2 of independent squared normals.
// Their upper tail is the alternating sum over k of integrals between the
// (2k-1)th and (2k)th reciprocal eigenvalues of e^(-x u / 2) / (u sqrt(-D(u)))
// du / pi, D(u) = prod_j (1 - lambda_j u), whose roots are those
// eigenvalues. Each integral is taken in an angle theta in (-pi/2, pi/2)
// that opens the interval as c + h sin(theta): the inverse square roots at
// its ends cancel against cos(theta), and the integrand is smooth.

// cos(pi/2 sin(theta)), accurate where it vanishes (|theta| near pi/2).
double cos_half_pi_sin(double theta) {
  const double s = std::sin(theta);
  if (std::fabs(s) < 0.5) return std::cos(kPi / 2 * s);
  const double c = std::cos(theta);
  return std::sin(kPi / 2 * (c * c / (1 + std::fabs(s))));
}

// cos(theta) / sqrt(cos(pi/2 sin(theta))): 2 / sqrt(pi) at the ends.
double end_factor(double theta) {
  const double w = cos_half_pi_sin(theta);
  return w > 0 ? std::cos(theta) / std::sqrt(w) : 2 / std::sqrt(kPi);
}

// The alternating sum of term(k), k = 1, 2, ..., until bound(k) (an upper
// bound of |term(k)| and all the later ones) is negligible.
template <class Term, class Bound>
double alternating(const Term& term, const Bound& bound) {
  double sum = 0;
  for (int k = 1; k <= 2000; ++k) {
    if (bound(k) <= 1e-17 * std::fabs(sum)) break;  // at once where every term underflows
    sum += (k % 2 == 1 ? 1 : -1) * term(k);
  }
  return sum;
}

template <class F>
double integral(const F& f) {
  return boost::math::quadrature::gauss_kronrod<double, 31>::integrate(f, -kPi / 2, kPi / 2, 12,
                                                                        1e-14);
}

}  // namespace

double kolmogorov_upper(double x) {
  if (std::isnan(x)) return x;
  if (x <= 0.2) return 1;  // the lower tail is below 1e-40
  if (x < 1) {
    // P(K <= x) = sqrt(2 pi) / x sum_k exp(-(2k - 1)^2 pi^2 / (8 x^2)).
    double sum = 0;
    for (int k = 1; k <= 20; ++k) {
      const double j = 2 * k - 1;
      sum += std::exp(-j * j * kPi * kPi / (8 * x * x));
    }
    return 1 - std::sqrt(2 * kPi) / x * sum;
  }
  // P(K > x) = 2 sum_k (-1)^(k-1) exp(-2 k^2 x^2).
  double sum = 0;
  for (int k = 20; k >= 1; --k) sum += (k % 2 == 1 ? 1 : -1) * std::exp(-2.0 * k * k * x * x);
  return 2 * sum;
}

double cramer_von_mises_upper(double x) {
  if (std::isnan(x)) return x;
  if (x <= 0.002) return 1;  // the lower tail is below 1e-40
  // Eigenvalues 1 / (j pi)^2, D(u) = sin(sqrt u) / sqrt u. In v = sqrt u the
  // kth integral is 2 e^(-x v^2 / 2) / sqrt(-v sin v) dv over v in
  // ((2k - 1) pi, 2k pi); there v = (2k - 1/2) pi + pi/2 sin(theta) and
  // -sin v = cos(pi/2 sin(theta)).
  const auto term = [x](int k) {
    return integral([x, k](double theta) {
      const double v = (2 * k - 0.5) * kPi + kPi / 2 * std::sin(theta);
      return 2 * std::exp(-x * v * v / 2) / std::sqrt(v) * end_factor(theta) * (kPi / 2);
    });
  };
  const auto bound = [x](int k) {
    const double v = (2 * k - 1) * kPi;
    return 8 * std::exp(-x * v * v / 2);
  };
  return std::fmin(1.0, alternating(term, bound) / kPi);
}

double anderson_darling_upper(double x) {
  if (std::isnan(x)) return x;
  if (x <= 0.02) return 1;  // the lower tail is below 1e-40
  // Eigenvalues 1 / (j (j + 1)), D(u) = -cos(pi/2 sqrt(1 + 4u)) / (pi u). In
  // s = sqrt(1 + 4u) the kth integral is e^(-x u / 2) s sqrt(pi) /
  // (2 sqrt(u) sqrt(cos(pi s / 2))) ds over s in (4k - 1, 4k + 1); there
  // s = 4k + sin(theta) and cos(pi s / 2) = cos(pi/2 sin(theta)).
  const auto term = [x](int k) {
    return integral([x, k](double theta) {
      const double s = 4 * k + std::sin(theta);
      const double u = (s * s - 1) / 4;
      return std::exp(-x * u / 2) * s * std::sqrt(kPi) / (2 * std::sqrt(u)) * end_factor(theta);
    });
  };
  const auto bound = [x](int k) {
    const double s = 4 * k - 1;
    return 8 * std::exp(-x * (s * s - 1) / 8);
  };
  return std::fmin(1.0, alternating(term, bound) / kPi);
}

std::string limit_gof_p_method() {
  return "asymptotic laws of known parameters, approximate (high) for fitted ones";
}

void limit_gof_p_values(std::size_t n, Gof& g) {
  g.ks_p = kolmogorov_upper(std::sqrt(static_cast<double>(n)) * g.ks);
  g.cvm_p = cramer_von_mises_upper(g.cvm);
  g.ad_p = anderson_darling_upper(g.ad);
  g.p_method = limit_gof_p_method();
}

}  // namespace korvalinde::stats
