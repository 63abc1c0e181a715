// The GEV log-density of one standardised value and its derivatives in
// (mu, ln sigma, xi): the series forms near shape 0 and the chunked,
// branch-free term loop shared by the stationary fit (stats/gev.cpp) and the
// fits with covariates (stats/nonstationary.cpp).
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "korvalinde/detail/vmath.hpp"

namespace korvalinde::stats::gev_kernel {

// phi2(u) = (u / (1 + u) - ln(1 + u)) / u^2 and its derivative: dL/dxi =
// z^2 phi2(xi z) and d2L/dxi2 = z^3 phi2'(xi z). The closed forms cancel
// for small |u| (relative errors about 1e-16 / u^2); there the series
// sum_j c_j u^j, c_j = (-1)^(j+1) (j+1)/(j+2) converges fast (|u| < 0.05:
// 15 terms leave less than 1e-18), and ln(1 + u) / u = 1 / (1 + u) - u phi2(u)
// needs no logarithm.
constexpr double kSmallU = 0.05;
constexpr int kPhi2Terms = 15;
constexpr std::array<double, kPhi2Terms> kPhi2 = [] {
  std::array<double, kPhi2Terms> c{};
  for (int j = 0; j < kPhi2Terms; ++j) c[j] = (j % 2 == 0 ? -1.0 : 1.0) * (j + 1) / (j + 2);
  return c;
}();

constexpr std::array<double, kPhi2Terms - 1> kDPhi2 = [] {  // of the derivative
  std::array<double, kPhi2Terms - 1> c{};
  for (int j = 0; j + 1 < kPhi2Terms; ++j) c[j] = (j + 1) * kPhi2[j + 1];
  return c;
}();

// psi1(v) = expm1(v) / v and its first two derivatives: the GEV reduced
// variate is y = y0 psi1(xi y0), dy/dxi = y0^2 psi1', d2y/dxi2 = y0^3 psi1''.
// Series sum_k v^k / (k+1)! and its derivatives where |v| < 1 (the usual
// shapes times the reduced variates of the usual periods).
constexpr int kPsi1Terms = 21;  // below 1e-20 left at |v| = 1, 1e-18 in the second derivative
constexpr std::array<double, kPsi1Terms> kPsi1 = [] {  // 1 / (k + 1)!
  std::array<double, kPsi1Terms> c{};
  double fact = 1;
  for (int k = 0; k < kPsi1Terms; ++k) c[k] = 1 / (fact *= k + 1);
  return c;
}();

constexpr std::array<double, kPsi1Terms - 1> kDPsi1 = [] {  // of the derivative
  std::array<double, kPsi1Terms - 1> c{};
  for (int k = 0; k + 1 < kPsi1Terms; ++k) c[k] = (k + 1) * kPsi1[k + 1];
  return c;
}();
constexpr std::array<double, kPsi1Terms - 2> kDDPsi1 = [] {  // of the second
  std::array<double, kPsi1Terms - 2> c{};
  for (int k = 0; k + 2 < kPsi1Terms; ++k) c[k] = (k + 2) * (k + 1) * kPsi1[k + 2];
  return c;
}();

inline void psi1(double v, double& p, double& dp, double& ddp) {
  if (std::fabs(v) < 1) {
    p = detail::poly(kPsi1, v);
    dp = detail::poly(kDPsi1, v);
    ddp = detail::poly(kDDPsi1, v);
    return;
  }
  const double em1 = std::expm1(v), e = em1 + 1;
  p = em1 / v;
  dp = (v * e - em1) / (v * v);
  ddp = (v * v * e - 2 * v * e + 2 * em1) / (v * v * v);
}

// Which forms a loop over values computes (see gev_terms).
constexpr int kLogOnly = 0, kSeriesOnly = 1, kBoth = 2;

// lr = ln(1 + u) / u, f2 = phi2(u) and (with Hessian) df2 = phi2'(u), for
// u > -1 and iw = 1 / (1 + u), by the series where |u| < kSmallU (Mode as
// for gev_terms below).
template <int Mode, bool Hessian>
[[gnu::always_inline]] inline void log_ratio(double uj, double iw, double& lr, double& f2, double& df2) {
  lr = 0;
  f2 = 0;
  df2 = 0;
  if constexpr (Mode != kLogOnly) {
    const double p = detail::poly(kPhi2, uj);
    lr = iw - uj * p;
    f2 = p;
    if constexpr (Hessian) df2 = detail::poly(kDPhi2, uj);
  }
  if constexpr (Mode != kSeriesOnly) {
    const double lg = detail::vlog1p(uj), iu = 1 / uj;
    const double p = (uj * iw - lg) * iu * iu;
    const double dp = Hessian ? (-iw * iw - 2 * p) * iu : 0.0;
    if constexpr (Mode == kLogOnly) {
      lr = lg * iu;
      f2 = p;
      df2 = dp;
    } else {
      const std::uint64_t small = detail::less_mask(std::fabs(uj), kSmallU);
      lr = detail::pick(small, lr, lg * iu);
      f2 = detail::pick(small, f2, p);
      df2 = detail::pick(small, df2, dp);
    }
  }
}

// The terms of the values z[j] = (x - mu) / sigma with u[j] = xi z[j] > -1,
// j in [begin, end), into t[k][j]: t0 = ln f + ln sigma, and the derivatives
// of ln f: -t1 / sigma in mu, -t2 - 1 in ln sigma, t3 in xi; with Hessian the
// second derivatives t4 / sigma^2 (mu, mu), t5 / sigma (mu, ln sigma),
// t6 / sigma (mu, xi), t7 (ln sigma, ln sigma), t8 (ln sigma, xi) and
// t9 (xi, xi). Mode: kLogOnly where no |u| < kSmallU, kSeriesOnly where
// every one is, kBoth (both forms, chosen value by value) otherwise. No
// branches or calls: the loop vectorises.
constexpr std::size_t kChunk = 128;

template <int Mode, bool Hessian>
[[gnu::always_inline]] inline void gev_terms(const double* z, const double* u, std::size_t begin,
                                             std::size_t end, double xi, double (*t)[kChunk]) {
  for (std::size_t j = begin; j < end; ++j) {
    const double zj = z[j], uj = u[j];
    const double iw = 1 / (1 + uj), iw2 = iw * iw;
    double lr, f2, df2;
    log_ratio<Mode, Hessian>(uj, iw, lr, f2, df2);
    const double l = zj * lr;
    const double e = detail::vexp(-l);
    const double lx = zj * zj * f2;
    const double d1 = e - (1 + xi);
    const double a = d1 * iw;  // -sigma times the term of dl/dmu
    const double w1 = iw2 * (d1 - e * zj), w2 = iw * (e * lx + a * zj + 1);
    t[0][j] = -(1 + xi) * l - e;
    t[1][j] = a;
    t[2][j] = a * zj;
    t[3][j] = -l + d1 * lx;
    if constexpr (!Hessian) continue;
    t[4][j] = iw2 * (-e - xi * d1);
    t[5][j] = w1;
    t[6][j] = w2;
    t[7][j] = w1 * zj;
    t[8][j] = w2 * zj;
    t[9][j] = -e * lx * lx + d1 * (zj * zj * zj * df2) - 2 * lx;
  }
}

// The terms are computed up to a multiple of 8 values, the last value
// repeated, so that no vector loop ends in scalar iterations (each of which
// costs about as much as a vector of 8): the count, for m values in a chunk.
[[gnu::always_inline]] inline std::size_t pad_to_8(double* z, double* u, std::size_t m) {
  const std::size_t m8 = std::min(kChunk, (m + 7) / 8 * 8);
  for (std::size_t j = m; j < m8; ++j) {
    z[j] = z[m - 1];
    u[j] = u[m - 1];
  }
  return m8;
}

// gev_terms over [0, m8) in the form that the m values need, `small` of them
// with |u| < kSmallU.
template <bool Hessian>
[[gnu::always_inline]] inline void gev_terms_of_chunk(const double* z, const double* u, std::size_t m,
                                                      std::size_t m8, std::size_t small, double xi,
                                                      double (*t)[kChunk]) {
  if (small == 0) gev_terms<kLogOnly, Hessian>(z, u, 0, m8, xi, t);
  else if (small == m) gev_terms<kSeriesOnly, Hessian>(z, u, 0, m8, xi, t);
  else gev_terms<kBoth, Hessian>(z, u, 0, m8, xi, t);
}

}  // namespace korvalinde::stats::gev_kernel
