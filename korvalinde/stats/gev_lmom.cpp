#include "korvalinde/stats/gev_lmom.hpp"

#include <array>
#include <boost/math/special_functions/gamma.hpp>
#include <cmath>
#include <numbers>
#include <vector>

#include "korvalinde/detail/sum.hpp"
#include "korvalinde/dist/ratios.hpp"
#include "korvalinde/stats/lmoment_influence.hpp"

namespace korvalinde::stats {

namespace {

// The L-moment relations of the GEV in the shape xi:
//   tau3 = 2 (3^xi - 1) / (2^xi - 1) - 3,
//   l2 = sigma K(xi),  K = ln 2 (2^xi - 1) / (xi ln 2) Gamma(1 - xi),
//   l1 = mu + sigma M(xi),  M = (Gamma(1 - xi) - 1) / xi (Euler's gamma at 0).
double tau3_of(double xi) {
  const double a = std::log(3.0), b = std::numbers::ln2;
  if (xi == 0) return 2 * a / b - 3;
  return 2 * std::expm1(xi * a) / std::expm1(xi * b) - 3;
}

double k_of(double xi) {
  const double b = std::numbers::ln2;
  return b * dist::expm1_ratio(xi * b) * (1 + boost::math::tgamma1pm1(-xi));
}

double m_of(double xi) {
  return xi == 0 ? std::numbers::egamma : boost::math::tgamma1pm1(-xi) / xi;
}

// Central difference: the functions are smooth and of order 1 near the
// shapes that have finite L-moment variances, so a step of 1e-4 leaves
// errors near 1e-9, far below the sampling error it serves.
template <class F>
double slope(F f, double x) {
  constexpr double h = 1e-4;
  return (f(x + h) - f(x - h)) / (2 * h);
}

}  // namespace

GevEstimate fit_gev_lmom_with_errors(std::span<const double> sorted) {
  GevEstimate e = fit_gev_lmom(sorted);
  const std::size_t n = sorted.size();
  if (!e.ok || n < 4) return e;
  const double xi = e.d.shape, sigma = e.d.scale;
  const auto nd = static_cast<double>(n);

  std::vector<std::array<double, 3>> inf = lmoment_influence(sorted);  // of (l1, l2, l3)

  // Jacobian of (mu, sigma, xi) in (l1, l2, l3), by implicit
  // differentiation of the relations above.
  const double k = k_of(xi), l2 = sigma * k, tau3 = tau3_of(xi);
  const double dtau = slope(tau3_of, xi), dk = slope(k_of, xi), dm = slope(m_of, xi);
  const double mm = m_of(xi);
  if (!(std::fabs(dtau) > 0) || !std::isfinite(dk) || !std::isfinite(dm)) return e;
  // dxi = (dl3 - tau3 dl2) / (l2 tau3'), dsigma = dl2 / K - sigma K'/K dxi,
  // dmu = dl1 - M dsigma - sigma M' dxi.
  const std::array<double, 3> jx{0, -tau3 / (l2 * dtau), 1 / (l2 * dtau)};
  std::array<double, 3> js{0, 1 / k, 0};
  for (int c = 0; c < 3; ++c) js[c] -= sigma * dk / k * jx[c];
  std::array<double, 3> jm{1, 0, 0};
  for (int c = 0; c < 3; ++c) jm[c] -= mm * js[c] + sigma * dm * jx[c];
  const std::array<std::array<double, 3>, 3> jac{jm, js, jx};

  // The influence values of (mu, sigma, xi), their means, then covariance / n.
  std::array<detail::Sum, 3> mean;
  for (auto& v : inf) {
    std::array<double, 3> t{};
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) t[r] += jac[r][c] * v[c];
      mean[r].add(t[r]);
    }
    v = t;
  }
  std::array<double, 3> mu{};
  for (int r = 0; r < 3; ++r) mu[r] = mean[r].value() / nd;
  std::array<std::array<detail::Sum, 3>, 3> s;
  for (const auto& v : inf)
    for (int r = 0; r < 3; ++r)
      for (int c = r; c < 3; ++c) s[r][c].add((v[r] - mu[r]) * (v[c] - mu[c]));
  Matrix3 cov{};
  for (int r = 0; r < 3; ++r)
    for (int c = r; c < 3; ++c) cov[r][c] = cov[c][r] = s[r][c].value() / ((nd - 1) * nd);
  for (int r = 0; r < 3; ++r)
    if (!std::isfinite(cov[r][r]) || !(cov[r][r] >= 0)) return e;
  e.cov = cov;
  return e;
}

}  // namespace korvalinde::stats
