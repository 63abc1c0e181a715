#include "korvalinde/stats/nonstationary.hpp"

#include <algorithm>
#include <array>
#include <boost/math/special_functions/erf.hpp>
#include <boost/math/special_functions/gamma.hpp>
#include <cmath>
#include <limits>
#include <numeric>
#include <type_traits>
#include <utility>

#include "korvalinde/detail/parallel.hpp"
#include "korvalinde/dist/normal.hpp"
#include "korvalinde/stats/gev.hpp"
#include "korvalinde/stats/gev_terms.hpp"
#include "korvalinde/stats/gof.hpp"
#include "korvalinde/stats/gpd_fit.hpp"
#include "korvalinde/stats/profile.hpp"

namespace korvalinde::stats {

using namespace gev_kernel;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::size_t kMaxK = 1 + 2 * (1 + kMaxCovariates);

// The layout of theta: xi, the location block from loc0 (nloc values: the
// intercept and, with a trend, one slope per covariate), the scale block from
// sc0 (nsc values).
struct Layout {
  std::size_t nloc = 0, nsc = 0, loc0 = 1, sc0 = 1, k = 1;
};

Layout layout(const NsModel& m, std::size_t p) {
  Layout l;
  const bool disp = m.dispersion && m.family != NsFamily::gpd;
  l.nloc = m.family == NsFamily::gpd ? 0 : (m.loc || disp ? 1 + p : 1);
  l.nsc = m.scale && !disp ? 1 + p : 1;
  l.loc0 = 1;
  l.sc0 = 1 + l.nloc;
  l.k = 1 + l.nloc + l.nsc;
  return l;
}

// Calls f(std::integral_constant<std::size_t, K>) for the K = k at run time.
template <class F>
auto with_k(std::size_t k, F&& f) {
  switch (k) {
    case 2: return f(std::integral_constant<std::size_t, 2>{});
    case 3: return f(std::integral_constant<std::size_t, 3>{});
    case 4: return f(std::integral_constant<std::size_t, 4>{});
    case 5: return f(std::integral_constant<std::size_t, 5>{});
    case 6: return f(std::integral_constant<std::size_t, 6>{});
    case 7: return f(std::integral_constant<std::size_t, 7>{});
    case 8: return f(std::integral_constant<std::size_t, 8>{});
    default: return f(std::integral_constant<std::size_t, kMaxK>{});
  }
}

NsFit failure(NsFit f, std::string message) {
  f.ok = false;
  f.error = std::move(message);
  return f;
}

// The log-likelihood's sums over a stretch of the values.
struct Sums {
  double l = 0;
  std::array<double, kMaxK> g{};
  std::array<std::array<double, kMaxK>, kMaxK> h{};
};

// The values summed apart (fixed, whatever the thread count) in long series,
// and the length from which their blocks run on several threads.
constexpr std::size_t kBlock = 4096;
constexpr std::size_t kParallelValues = 65536;

// The sums of ns_loglik over the values [from, to) where mu is linear in the
// first Q covariates and the scale is constant (the GEV and the Gumbel with
// a location trend, and their stationary versions): straight loops over
// chunks that vectorise, the terms of stats/gev_terms.hpp, each sum added in
// four fixed lanes (the same bits at every vector width). s[0] = sum t0;
// s[1 + r] = sum t1 row_r (row = (1, c_1 .. c_Q)); then sum t2, sum t3; with
// Hessian sum t4 row_r row_q (r <= q), sum t5 row_r, sum t6 row_r, sum t7,
// sum t8, sum t9. False when a value is outside the support.
template <std::size_t Q>
constexpr std::size_t kTrendSums = 1 + (Q + 1) + 2 + (Q + 1) * (Q + 2) / 2 + 2 * (Q + 1) + 3;

// acc[l] += v[j] (times w[j], times x[j]) over j = l mod 4 in [0, m4).
[[gnu::always_inline]] inline void add_lanes(double (&acc)[4], std::size_t m4, const double* v) {
  for (std::size_t j = 0; j < m4; j += 4)
    for (std::size_t l = 0; l < 4; ++l) acc[l] += v[j + l];
}
[[gnu::always_inline]] inline void add_lanes(double (&acc)[4], std::size_t m4, const double* v, const double* w) {
  for (std::size_t j = 0; j < m4; j += 4)
    for (std::size_t l = 0; l < 4; ++l) acc[l] += v[j + l] * w[j + l];
}
[[gnu::always_inline]] inline void add_lanes(double (&acc)[4], std::size_t m4, const double* v, const double* w,
                                             const double* x) {
  for (std::size_t j = 0; j < m4; j += 4)
    for (std::size_t l = 0; l < 4; ++l) acc[l] += v[j + l] * w[j + l] * x[j + l];
}
// sum v row_r for r = 0 .. Q into acc[k ..], row 0 being 1.
template <std::size_t Q>
[[gnu::always_inline]] inline void add_rows(double (*acc)[4], std::size_t& k, std::size_t m4, const double* v,
                                            const double (*row)[kChunk]) {
  add_lanes(acc[k++], m4, v);
  for (std::size_t a = 1; a <= Q; ++a) add_lanes(acc[k++], m4, v, row[a]);
}

template <std::size_t Q, bool Hessian>
[[gnu::always_inline]] inline bool trend_block(const double* y, const double* c, std::size_t n, std::size_t from,
                                               std::size_t to, const double* beta, double is, double xi,
                                               double* s) {
  constexpr std::size_t kSums = Hessian ? kTrendSums<Q> : 4 + Q;
  alignas(64) double z[kChunk], u[kChunk], t[10][kChunk], row[Q + 1][kChunk];
  double acc[kTrendSums<Q>][4] = {};
  for (std::size_t b = from; b < to; b += kChunk) {
    const std::size_t m = std::min(kChunk, to - b);
    int outside = 0, small = 0;
    for (std::size_t a = 0; a < Q; ++a)
      for (std::size_t j = 0; j < m; ++j) row[1 + a][j] = c[a * n + b + j];
    for (std::size_t j = 0; j < m; ++j) {
      double mu = beta[0];
      for (std::size_t a = 0; a < Q; ++a) mu += beta[1 + a] * row[1 + a][j];
      const double zj = (y[b + j] - mu) * is;
      z[j] = zj;
      u[j] = xi * zj;
      outside += !(u[j] > -1) || !std::isfinite(zj);
      small += std::fabs(u[j]) < kSmallU;
    }
    if (outside > 0) return false;
    gev_terms_of_chunk<Hessian>(z, u, m, pad_to_8(z, u, m), static_cast<std::size_t>(small), xi, t);
    // The copies past m weigh nothing: their terms and rows are 0.
    const std::size_t m4 = (m + 3) / 4 * 4;
    for (std::size_t j = m; j < m4; ++j) {
      for (auto& tk : t) tk[j] = 0;
      for (std::size_t a = 0; a < Q; ++a) row[1 + a][j] = 0;
    }
    std::size_t k = 0;
    add_lanes(acc[k++], m4, t[0]);
    add_rows<Q>(acc, k, m4, t[1], row);
    add_lanes(acc[k++], m4, t[2]);
    add_lanes(acc[k++], m4, t[3]);
    if constexpr (Hessian) {
      for (std::size_t r = 0; r <= Q; ++r)
        for (std::size_t q = r; q <= Q; ++q) {
          if (r == 0 && q == 0) add_lanes(acc[k++], m4, t[4]);
          else if (r == 0) add_lanes(acc[k++], m4, t[4], row[q]);
          else add_lanes(acc[k++], m4, t[4], row[r], row[q]);
        }
      add_rows<Q>(acc, k, m4, t[5], row);
      add_rows<Q>(acc, k, m4, t[6], row);
      add_lanes(acc[k++], m4, t[7]);
      add_lanes(acc[k++], m4, t[8]);
      add_lanes(acc[k++], m4, t[9]);
    }
  }
  for (std::size_t k = 0; k < kSums; ++k) s[k] = (acc[k][0] + acc[k][1]) + (acc[k][2] + acc[k][3]);
  return true;
}

// trend_block for the Q and the Hessian at run time, built for each vector
// width (clones cannot be templates).
KORVALINDE_HOT_CLONES bool trend_sums(std::size_t q, bool hessian, const double* y, const double* c, std::size_t n,
                                      std::size_t from, std::size_t to, const double* beta, double is, double xi,
                                      double* s) {
  // Direct calls: a lambda here would be built for the baseline alone.
  if (hessian) {
    switch (q) {
      case 0: return trend_block<0, true>(y, c, n, from, to, beta, is, xi, s);
      case 1: return trend_block<1, true>(y, c, n, from, to, beta, is, xi, s);
      case 2: return trend_block<2, true>(y, c, n, from, to, beta, is, xi, s);
      default: return trend_block<3, true>(y, c, n, from, to, beta, is, xi, s);
    }
  }
  switch (q) {
    case 0: return trend_block<0, false>(y, c, n, from, to, beta, is, xi, s);
    case 1: return trend_block<1, false>(y, c, n, from, to, beta, is, xi, s);
    case 2: return trend_block<2, false>(y, c, n, from, to, beta, is, xi, s);
    default: return trend_block<3, false>(y, c, n, from, to, beta, is, xi, s);
  }
}

double chi2_upper(double statistic, int df) {
  if (!std::isfinite(statistic) || df < 1) return kNaN;
  return boost::math::gamma_q(0.5 * df, 0.5 * std::max(0.0, statistic));
}

}  // namespace

bool ns_loglik(const NsFit& fit, const double* theta, double& l, double* g, double* h) {
  const Layout lay = layout(fit.model, fit.p);
  const std::size_t n = fit.n, p = fit.p, k = lay.k;
  const double xi = theta[0];
  for (std::size_t i = 0; i < k; ++i)
    if (!std::isfinite(theta[i])) return false;
  if (!(xi > -1)) return false;
  const bool gpd = fit.model.family == NsFamily::gpd;
  const bool disp = fit.model.dispersion && !gpd && p > 0;
  const bool loc_trend = lay.nloc > 1 && !disp, scale_trend = lay.nsc > 1;
  const bool hessian = h != nullptr;
  // Without a scale trend 1 / sigma is one number.
  const bool one_scale = !scale_trend && !disp;
  const double is0 = std::exp(-theta[lay.sc0]);
  const double* y = fit.y.data();
  const double* c = fit.cs.data();
  // The sums over the values [from, to), added to acc; false outside the support.
  // mu linear in the covariates (or constant) and one scale: the fast sums.
  const std::size_t q = loc_trend ? p : 0;
  const bool straight = !gpd && !disp && !scale_trend && q <= kMaxCovariates;
  auto trend = [&](std::size_t from, std::size_t to, Sums& acc) {
    std::array<double, kTrendSums<kMaxCovariates>> s{};
    if (!trend_sums(q, hessian, y, c, n, from, to, theta + lay.loc0, is0, xi, s.data())) return false;
    const std::size_t rows = q + 1, sc = lay.sc0;
    acc.l += s[0] - static_cast<double>(to - from) * theta[sc];
    acc.g[0] += s[q + 3];
    for (std::size_t r = 0; r < rows; ++r) acc.g[lay.loc0 + r] += -s[1 + r] * is0;
    acc.g[sc] += -s[q + 2] - static_cast<double>(to - from);
    if (!hessian) return true;
    auto& h = acc.h;
    std::size_t i = q + 4;
    for (std::size_t r = 0; r < rows; ++r)
      for (std::size_t m = r; m < rows; ++m) h[lay.loc0 + r][lay.loc0 + m] += s[i++] * is0 * is0;
    for (std::size_t r = 0; r < rows; ++r) h[lay.loc0 + r][sc] += s[i++] * is0;
    for (std::size_t r = 0; r < rows; ++r) h[0][lay.loc0 + r] += s[i++] * is0;
    h[sc][sc] += s[i++];
    h[0][sc] += s[i++];
    h[0][0] += s[i];
    return true;
  };
  auto sums = [&](std::size_t from, std::size_t to, Sums& acc) {
    if (straight) return trend(from, to, acc);
    double es[kChunk];  // the dispersion model: exp(b'c)
    double is[kChunk];  // 1 / sigma of each value
    double& sl = acc.l;
    auto& sg = acc.g;
    auto& sh = acc.h;
    alignas(64) double z[kChunk], u[kChunk], ls[kChunk], t[10][kChunk];
    // The design rows of value j: (1, c_j) for a block with a trend, (1) else.
    std::array<double, 1 + kMaxCovariates> row{};
    for (std::size_t b = from; b < to; b += kChunk) {
      const std::size_t m = std::min(kChunk, to - b);
      int outside = 0, small = 0;
      for (std::size_t j = 0; j < m; ++j) {
        double mu = gpd ? 0 : theta[lay.loc0], s = theta[lay.sc0];
        for (std::size_t a = 0; a < p; ++a) {
          const double ca = c[a * n + b + j];
          if (loc_trend) mu += theta[lay.loc0 + 1 + a] * ca;
          if (scale_trend) s += theta[lay.sc0 + 1 + a] * ca;
        }
        if (disp) {
          double eb = 0;
          for (std::size_t a = 0; a < p; ++a) eb += theta[lay.loc0 + 1 + a] * c[a * n + b + j];
          es[j] = std::exp(eb);
          mu *= es[j];
          s += eb;
        }
        ls[j] = s;
        is[j] = one_scale ? is0 : std::exp(-s);
        const double zj = (y[b + j] - mu) * is[j];
        z[j] = zj;
        u[j] = xi * zj;
        outside += !(u[j] > -1) || !std::isfinite(zj);
        small += std::fabs(u[j]) < kSmallU;
      }
      if (outside > 0) return false;
      const std::size_t m8 = pad_to_8(z, u, m);
      if (!gpd) {
        const auto ms = static_cast<std::size_t>(small);
        if (hessian) gev_terms_of_chunk<true>(z, u, m, m8, ms, xi, t);
        else gev_terms_of_chunk<false>(z, u, m, m8, ms, xi, t);
      } else {
        // The GPD's terms in the same layout, with z = y / sigma and
        // ln f = -ln sigma - (1 + xi) z lr(u), lr(u) = ln(1 + u) / u (its
        // derivative phi2): t3 = d/dxi = -z lr - (1 + xi) z^2 phi2, d/d ln sigma
        // = -1 + (1 + xi) z / (1 + u), held as -t2 - 1; the second derivatives
        // t7 (ln sigma twice), t8 (ln sigma, xi) and t9 (xi twice).
        for (std::size_t j = 0; j < m; ++j) {
          const double zj = z[j], uj = u[j], iw = 1 / (1 + uj), iw2 = iw * iw;
          double lr, f2, df2;
          log_ratio<kBoth, true>(uj, iw, lr, f2, df2);
          t[0][j] = -(1 + xi) * zj * lr;
          t[1][j] = 0;
          t[2][j] = -(1 + xi) * zj * iw;
          t[3][j] = -zj * lr - (1 + xi) * zj * zj * f2;
          t[7][j] = -(1 + xi) * zj * iw2;
          t[8][j] = zj * iw2 * (1 - zj);
          t[9][j] = -(2 * zj * zj * f2 + (1 + xi) * zj * zj * zj * df2);
        }
      }
      for (std::size_t j = 0; j < m; ++j) {
        const double isg = is[j];
        sl += t[0][j] - ls[j];
        const double gm = -t[1][j] * isg, gs = -t[2][j] - 1, gx = t[3][j];
        if (disp) {
          // mu = m0 E, ln sigma = ln s0 + b'c with E = exp(b'c): the chain
          // rule over d mu and d ln sigma of each parameter, and mu's own
          // second derivatives (E c_a in m0 and b_a, mu c_a c_b in b_a, b_b).
          const double e = es[j], muj = theta[lay.loc0] * e;
          std::array<double, kMaxK> dm{}, dsg{};
          dm[lay.loc0] = e;
          for (std::size_t a = 0; a < p; ++a) {
            const double ca = c[a * n + b + j];
            dm[lay.loc0 + 1 + a] = muj * ca;
            dsg[lay.loc0 + 1 + a] = ca;
          }
          dsg[lay.sc0] = 1;
          sg[0] += gx;
          for (std::size_t r = 1; r < k; ++r) sg[r] += gm * dm[r] + gs * dsg[r];
          if (!hessian) continue;
          const double hmm = t[4][j] * isg * isg, hms = t[5][j] * isg, hmx = t[6][j] * isg, hss = t[7][j],
                       hsx = t[8][j], hxx = t[9][j];
          sh[0][0] += hxx;
          for (std::size_t r = 1; r < k; ++r) {
            sh[0][r] += hmx * dm[r] + hsx * dsg[r];
            for (std::size_t q = r; q < k; ++q)
              sh[r][q] += hmm * dm[r] * dm[q] + hms * (dm[r] * dsg[q] + dsg[r] * dm[q]) + hss * dsg[r] * dsg[q];
          }
          for (std::size_t a = 0; a < p; ++a) {
            const double ca = c[a * n + b + j];
            sh[lay.loc0][lay.loc0 + 1 + a] += gm * e * ca;
            for (std::size_t q = a; q < p; ++q) sh[lay.loc0 + 1 + a][lay.loc0 + 1 + q] += gm * muj * ca * c[q * n + b + j];
          }
          continue;
        }
        sg[0] += gx;
        row[0] = 1;
        for (std::size_t a = 0; a < p; ++a) row[1 + a] = c[a * n + b + j];
        for (std::size_t r = 0; r < lay.nloc; ++r) sg[lay.loc0 + r] += gm * row[r];
        for (std::size_t r = 0; r < lay.nsc; ++r) sg[lay.sc0 + r] += gs * row[r];
        if (!hessian) continue;
        const double hmm = gpd ? 0 : t[4][j] * isg * isg, hms = gpd ? 0 : t[5][j] * isg,
                     hmx = gpd ? 0 : t[6][j] * isg, hss = t[7][j], hsx = t[8][j], hxx = t[9][j];
        sh[0][0] += hxx;
        for (std::size_t r = 0; r < lay.nloc; ++r) {
          sh[0][lay.loc0 + r] += hmx * row[r];
          for (std::size_t q = r; q < lay.nloc; ++q) sh[lay.loc0 + r][lay.loc0 + q] += hmm * row[r] * row[q];
          for (std::size_t q = 0; q < lay.nsc; ++q) sh[lay.loc0 + r][lay.sc0 + q] += hms * row[r] * row[q];
        }
        for (std::size_t r = 0; r < lay.nsc; ++r) {
          sh[0][lay.sc0 + r] += hsx * row[r];
          for (std::size_t q = r; q < lay.nsc; ++q) sh[lay.sc0 + r][lay.sc0 + q] += hss * row[r] * row[q];
        }
      }
    }
    return true;
  };
  // Long series: fixed blocks of kBlock values, each summed on its own and
  // the blocks' sums added in their order, on as many threads as there are
  // cores; the result does not depend on the thread count. Shorter series
  // are one block.
  Sums total;
  if (n < 2 * kBlock) {
    if (!sums(0, n, total)) return false;
  } else {
    const std::size_t blocks = (n + kBlock - 1) / kBlock;
    std::vector<Sums> part(blocks);
    std::vector<char> inside(blocks, 0);
    const unsigned threads = n >= kParallelValues ? detail::default_threads() : 1;
    detail::parallel_for(blocks, threads, [&](std::size_t i) {
      inside[i] = sums(i * kBlock, std::min(n, (i + 1) * kBlock), part[i]) ? 1 : 0;
    });
    for (std::size_t i = 0; i < blocks; ++i) {
      if (inside[i] == 0) return false;
      total.l += part[i].l;
      for (std::size_t r = 0; r < k; ++r) {
        total.g[r] += part[i].g[r];
        if (hessian)
          for (std::size_t q = r; q < k; ++q) total.h[r][q] += part[i].h[r][q];
      }
    }
  }
  const double sl = total.l;
  const auto& sg = total.g;
  const auto& sh = total.h;
  l = sl;
  if (!std::isfinite(l)) return false;
  for (std::size_t i = 0; i < k; ++i) {
    g[i] = sg[i];
    if (!std::isfinite(g[i])) return false;
  }
  if (hessian) {
    for (std::size_t i = 0; i < k; ++i)
      for (std::size_t j = i; j < k; ++j) h[i * k + j] = h[j * k + i] = sh[i][j];
    for (std::size_t i = 0; i < k * k; ++i)
      if (!std::isfinite(h[i])) return false;
  }
  return true;
}

namespace {

// The log-likelihood as a function of std::array<double, K> for the
// maximisation and the profile searches; d.h left as it is with hessian false.
template <std::size_t K>
auto loglik_of(const NsFit& fit) {
  return [&fit](const std::array<double, K>& t, Derivs<K>& d, bool hessian = true) {
    return ns_loglik(fit, t.data(), d.l, d.g.data(), hessian ? &d.h[0][0] : nullptr);
  };
}

template <std::size_t K>
NsFit maximize_fit(NsFit f, const std::vector<double>& start) {
  const bool gumbel = f.model.family == NsFamily::gumbel;
  std::array<double, K> theta{};
  std::copy_n(start.begin(), K, theta.begin());
  if (gumbel) theta[0] = 0;
  const auto l = loglik_of<K>(f);
  Derivs<K> d;
  if (!l(theta, d)) {
    // The stationary Gumbel version of the start is defined everywhere.
    const Layout lay = layout(f.model, f.p);
    theta[0] = 0;
    for (std::size_t i = 1; i < K; ++i)
      if (i != lay.sc0 && (lay.nloc == 0 || i != lay.loc0)) theta[i] = 0;
  }
  const MaxResult r = maximize<K>(l, theta, d, gumbel ? 1 : 0);
  if (!gumbel && theta[0] < -0.999)
    return failure(std::move(f), "the likelihood has no interior maximum: the shape runs to -1");
  if (!r.ok) return failure(std::move(f), "maximum likelihood did not converge");
  // The derivatives at the point returned, for the information.
  if (!l(theta, d)) return failure(std::move(f), "maximum likelihood did not converge");
  if (gumbel) {
    d.h[0].fill(0);
    for (std::size_t i = 0; i < K; ++i) d.h[i][0] = 0;
    d.h[0][0] = -1;
  }
  std::array<std::array<double, K>, K> cov{};
  if (!inverse_information<K>(d.h, cov))
    return failure(std::move(f), "the likelihood has no interior maximum: the observed information is not positive definite");
  if (gumbel) cov[0][0] = 0;
  f.iterations = r.iterations;
  f.theta.assign(theta.begin(), theta.end());
  f.theta_cov.assign(K * K, 0);
  for (std::size_t i = 0; i < K; ++i)
    for (std::size_t j = 0; j < K; ++j) f.theta_cov[i * K + j] = cov[i][j];
  f.loglik = d.l - static_cast<double>(f.n) * std::log(f.unit);
  f.ok = true;
  return f;
}

// The dispersion model's coefficients mu0, a_j (per covariate), sigma0 at
// covariate 0 and xi, with the Jacobian of theta's map to them: beta_j =
// b_j / spread_j, mu0 = unit m0 exp(-beta'mean), a_j = mu0 beta_j, sigma0 =
// unit s0 exp(-beta'mean).
void dispersion_user_units(NsFit& f, const std::vector<std::string>& cnames, std::vector<double>& jac) {
  const Layout lay = layout(f.model, f.p);
  const std::size_t k = lay.k, p = f.p;
  const std::size_t ku = f.coef.size();
  const auto& th = f.theta;
  double shift = 0;
  for (std::size_t a = 0; a < p; ++a) shift += th[lay.loc0 + 1 + a] * f.mean[a] / f.spread[a];
  const double e = std::exp(-shift);
  const double mu0 = f.unit * th[lay.loc0] * e, sigma0 = f.unit * std::exp(th[lay.sc0]) * e;
  f.coef[0] = mu0;
  f.names.push_back("mu0");
  jac[0 * k + lay.loc0] = f.unit * e;
  for (std::size_t a = 0; a < p; ++a) jac[0 * k + lay.loc0 + 1 + a] = -mu0 * f.mean[a] / f.spread[a];
  for (std::size_t a = 0; a < p; ++a) {
    const std::size_t i = 1 + a;
    const double beta = th[lay.loc0 + 1 + a] / f.spread[a];
    f.coef[i] = mu0 * beta;
    f.names.push_back("a_" + cnames[a]);
    // d a_j = beta_j d mu0 + mu0 d beta_j.
    for (std::size_t m = 0; m < k; ++m) jac[i * k + m] = beta * jac[0 * k + m];
    jac[i * k + lay.loc0 + 1 + a] += mu0 / f.spread[a];
  }
  f.coef[1 + p] = sigma0;
  f.names.push_back("sigma0");
  jac[(1 + p) * k + lay.sc0] = sigma0;
  for (std::size_t a = 0; a < p; ++a) jac[(1 + p) * k + lay.loc0 + 1 + a] = -sigma0 * f.mean[a] / f.spread[a];
  if (ku == k) {
    f.coef[2 + p] = th[0];
    f.names.push_back("xi");
    jac[(2 + p) * k] = 1;
  }
}

// The coefficients in the user's units from theta (see NsFit), with the
// Jacobian of that map: user index i, theta index (i + 1) % k (xi last), or
// for the Gumbel without xi.
void to_user_units(NsFit& f, const std::vector<std::string>& cnames) {
  const Layout lay = layout(f.model, f.p);
  const std::size_t k = lay.k, p = f.p;
  const bool gumbel = f.model.family == NsFamily::gumbel;
  const std::size_t ku = gumbel ? k - 1 : k;
  std::vector<double> jac(ku * k, 0.0);
  f.coef.assign(ku, 0);
  f.names.clear();
  std::size_t i = 0;
  const auto& th = f.theta;
  if (f.model.dispersion) {
    dispersion_user_units(f, cnames, jac);
  } else if (lay.nloc > 0) {
    if (lay.nloc > 1) {
      double b0 = th[lay.loc0];
      jac[i * k + lay.loc0] = f.unit;
      for (std::size_t a = 0; a < p; ++a) {
        b0 -= th[lay.loc0 + 1 + a] * f.mean[a] / f.spread[a];
        jac[i * k + lay.loc0 + 1 + a] = -f.unit * f.mean[a] / f.spread[a];
      }
      f.coef[i] = f.centre + f.unit * b0;
      f.names.push_back("mu0");
      ++i;
      for (std::size_t a = 0; a < p; ++a, ++i) {
        f.coef[i] = f.unit * th[lay.loc0 + 1 + a] / f.spread[a];
        jac[i * k + lay.loc0 + 1 + a] = f.unit / f.spread[a];
        f.names.push_back("mu_" + cnames[a]);
      }
    } else {
      f.coef[i] = f.centre + f.unit * th[lay.loc0];
      jac[i * k + lay.loc0] = f.unit;
      f.names.push_back("mu");
      ++i;
    }
  }
  if (f.model.dispersion) {
  } else if (lay.nsc > 1) {
    double s0 = std::log(f.unit) + th[lay.sc0];
    jac[i * k + lay.sc0] = 1;
    for (std::size_t a = 0; a < p; ++a) {
      s0 -= th[lay.sc0 + 1 + a] * f.mean[a] / f.spread[a];
      jac[i * k + lay.sc0 + 1 + a] = -f.mean[a] / f.spread[a];
    }
    f.coef[i] = s0;
    f.names.push_back("log_sigma0");
    ++i;
    for (std::size_t a = 0; a < p; ++a, ++i) {
      f.coef[i] = th[lay.sc0 + 1 + a] / f.spread[a];
      jac[i * k + lay.sc0 + 1 + a] = 1 / f.spread[a];
      f.names.push_back("log_sigma_" + cnames[a]);
    }
  } else {
    f.coef[i] = f.unit * std::exp(th[lay.sc0]);
    jac[i * k + lay.sc0] = f.coef[i];
    f.names.push_back("sigma");
    ++i;
  }
  if (!gumbel && !f.model.dispersion) {
    f.coef[i] = th[0];
    jac[i * k] = 1;
    f.names.push_back("xi");
  }
  f.cov.assign(ku * ku, 0);
  f.se.assign(ku, kNaN);
  for (std::size_t r = 0; r < ku; ++r)
    for (std::size_t c = 0; c < ku; ++c) {
      double s = 0;
      for (std::size_t a = 0; a < k; ++a)
        for (std::size_t b = 0; b < k; ++b) s += jac[r * k + a] * f.theta_cov[a * k + b] * jac[c * k + b];
      f.cov[r * ku + c] = s;
    }
  for (std::size_t r = 0; r < ku; ++r) f.se[r] = std::sqrt(std::max(0.0, f.cov[r * ku + r]));
  const double kf = static_cast<double>(ku), nf = static_cast<double>(f.n);
  f.aic = -2 * f.loglik + 2 * kf;
  f.bic = -2 * f.loglik + kf * std::log(nf);
}

// The series standardised for the fit: the covariates centred and scaled,
// the response by the stationary L-moment fit, which also starts theta0;
// the error, or empty.
std::string standardise(NsFit& f, const NsData& data, const NsModel& model, const Layout& lay,
                        std::vector<double>& theta0) {
  const std::size_t n = f.n, p = f.p;
  for (double v : data.x)
    if (!std::isfinite(v)) return "a value is not finite";
  // Covariates centred and scaled, so that the coefficients are of order 1.
  f.mean.assign(p, 0);
  f.spread.assign(p, 0);
  f.cs.assign(p * n, 0);
  for (std::size_t a = 0; a < p; ++a) {
    const auto& ca = data.c[a];
    const std::string name = a < data.names.size() ? data.names[a] : std::to_string(a);
    if (ca.size() != n) return "covariate " + name + " has not one value per observation";
    double mean = 0;
    for (double v : ca) {
      if (!std::isfinite(v)) return "covariate " + name + " has a value that is not finite";
      mean += v;
    }
    mean /= static_cast<double>(n);
    double ss = 0;
    for (double v : ca) ss += (v - mean) * (v - mean);
    const double spread = std::sqrt(ss / static_cast<double>(n));
    if (!(spread > 1e-13 * std::fabs(mean)) || !(spread > 0))
      return "covariate " + name + " is constant over the series";
    f.mean[a] = mean;
    f.spread[a] = spread;
    for (std::size_t i = 0; i < n; ++i) f.cs[a * n + i] = (ca[i] - mean) / spread;
  }
  // Collinear covariates: their correlation matrix is singular.
  if (p > 1) {
    std::array<std::array<double, kMaxCovariates>, kMaxCovariates> r{};
    for (std::size_t a = 0; a < kMaxCovariates; ++a) r[a][a] = 1;
    for (std::size_t a = 0; a < p; ++a)
      for (std::size_t b = 0; b < p; ++b) {
        double s = 0;
        for (std::size_t i = 0; i < n; ++i) s += f.cs[a * n + i] * f.cs[b * n + i];
        r[a][b] = s / static_cast<double>(n);
      }
    for (std::size_t a = 0; a < p; ++a) r[a][a] -= 1e-9;  // near-collinear counts as collinear
    if (!cholesky<kMaxCovariates>(r, 0)) return "the covariates are collinear";
  }
  // The response standardised by the stationary L-moment fit.
  std::vector<double> sorted(data.x.begin(), data.x.end());
  std::sort(sorted.begin(), sorted.end());
    if (model.family == NsFamily::gpd) {
    if (sorted.front() < 0) return "an excess over the threshold is negative";
    const GpdEstimate g = fit_gpd_lmom(sorted);
    double mean = 0;
    for (double v : sorted) mean += v;
    mean /= static_cast<double>(n);
    f.centre = 0;
    f.unit = g.ok && g.scale > 0 ? g.scale : mean;
    if (!(f.unit > 0) || !std::isfinite(f.unit)) return "the excesses are all 0";
    theta0[0] = g.ok ? std::max(g.shape, -0.9) : 0;
  } else {
    const GevEstimate g = fit_gev_lmom(sorted);
    if (!g.ok) return g.error;
    f.centre = g.d.loc;
    f.unit = g.d.scale;
    theta0[0] = std::max(g.d.shape, -0.9);
    if (f.model.dispersion) {
      // Multiplicative: the values are scaled, never shifted.
      f.centre = 0;
      theta0[lay.loc0] = g.d.loc / g.d.scale;
    }
  }
  f.y.resize(n);
  for (std::size_t i = 0; i < n; ++i) f.y[i] = (data.x[i] - f.centre) / f.unit;
  return {};
}

}  // namespace

NsFit fit_nonstationary(const NsData& data, const NsModel& model, const NsFit* start) {
  NsFit f;
  f.model = model;
  f.n = data.x.size();
  f.p = data.c.size();
  const std::size_t n = f.n, p = f.p;
  if (p > kMaxCovariates) return failure(std::move(f), "at most 3 covariates are supported");
  if (p == 0 && (model.scale || (model.loc && model.family != NsFamily::gpd))) f.model.loc = f.model.scale = false;
  if (model.family == NsFamily::gpd) f.model.loc = f.model.dispersion = false;
  if (p == 0) f.model.dispersion = false;
  if (f.model.dispersion) {
    f.model.loc = true;
    f.model.scale = false;
  }
  const Layout lay = layout(f.model, p);
  const std::size_t ku = lay.k - (model.family == NsFamily::gumbel ? 1 : 0);
  if (n < ku + 2)
    return failure(std::move(f), "too few values: " + std::to_string(n) + " for " + std::to_string(ku) +
                                     " parameters (at least parameters + 2 are needed)");
  std::vector<double> theta0(lay.k, 0.0);
  // A nested fit of the same data standardises it as its start did.
  const bool same = start != nullptr && start->ok && start->n == n && start->p == p &&
                    (start->model.family == NsFamily::gpd) == (model.family == NsFamily::gpd) &&
                    start->model.dispersion == f.model.dispersion;
  if (same) {
    f.centre = start->centre;
    f.unit = start->unit;
    f.mean = start->mean;
    f.spread = start->spread;
    f.cs = start->cs;
    f.y = start->y;
  } else if (std::string e = standardise(f, data, model, lay, theta0); !e.empty()) {
    return failure(std::move(f), std::move(e));
  }
  if (start != nullptr && start->ok && start->p == p) {
    // The nested fit's estimates, its missing slopes 0.
    const Layout sl = layout(start->model, p);
    theta0[0] = start->theta[0];
    for (std::size_t r = 0; r < std::min(sl.nloc, lay.nloc); ++r) theta0[lay.loc0 + r] = start->theta[sl.loc0 + r];
    for (std::size_t r = 0; r < std::min(sl.nsc, lay.nsc); ++r) theta0[lay.sc0 + r] = start->theta[sl.sc0 + r];
  }
  f = with_k(lay.k, [&](auto kc) { return maximize_fit<decltype(kc)::value>(std::move(f), theta0); });
  if (!f.ok) return f;
  std::vector<std::string> names(p);
  for (std::size_t a = 0; a < p; ++a) names[a] = a < data.names.size() ? data.names[a] : std::to_string(a + 1);
  to_user_units(f, names);
  for (double v : f.coef)
    if (!std::isfinite(v)) return failure(std::move(f), "maximum likelihood estimates are out of range");
  return f;
}

namespace {

// A quantity of theta: psi = lin . theta + y(xi) sum_p w_p exp(Z_p . theta),
// the reduced variate y(xi) = y0 psi1(xi y0) of one period; Z_p forms on the
// scale block. Effective levels (lin: the location's design row at a point;
// one term of weight 1 at the point), their changes (the difference of two)
// and single coefficients (lin a unit vector, no terms) are such.
struct Quantity {
  std::vector<double> lin;
  std::vector<std::pair<double, std::vector<double>>> terms;
  double y0 = 0;
};

// r = psi - lin_kk theta_kk with its gradient and Hessian in theta (k x k):
// r does not depend on theta_kk.
double quantity_rest(const Quantity& q, const double* theta, std::size_t k, std::size_t kk, double* g,
                     double* h) {
  double r = 0;
  for (std::size_t i = 0; i < k; ++i) {
    g[i] = i == kk ? 0 : q.lin[i];
    if (i != kk) r += q.lin[i] * theta[i];
  }
  if (h != nullptr) std::fill(h, h + k * k, 0.0);
  if (q.terms.empty()) return r;
  double p, dp, ddp;
  psi1(theta[0] * q.y0, p, dp, ddp);
  const double y = q.y0 * p, y1 = q.y0 * q.y0 * dp, y2 = q.y0 * q.y0 * q.y0 * ddp;
  double s = 0;
  std::vector<double> sg(k, 0.0), shh(k * k, 0.0);
  for (const auto& [w, zf] : q.terms) {
    double e = 0;
    for (std::size_t i = 0; i < k; ++i) e += zf[i] * theta[i];
    e = w * std::exp(e);
    s += e;
    for (std::size_t i = 0; i < k; ++i) {
      sg[i] += e * zf[i];
      for (std::size_t j = 0; j < k; ++j) shh[i * k + j] += e * zf[i] * zf[j];
    }
  }
  r += y * s;
  for (std::size_t i = 0; i < k; ++i) g[i] += y * sg[i];
  g[0] += y1 * s;
  if (h != nullptr) {
    for (std::size_t i = 0; i < k; ++i)
      for (std::size_t j = 0; j < k; ++j) h[i * k + j] = y * shh[i * k + j];
    for (std::size_t i = 0; i < k; ++i) {
      h[i] += y1 * sg[i];
      h[i * k] += y1 * sg[i];
    }
    h[0] += y2 * s;
  }
  return r;
}

// The value and the gradient in theta of a quantity.
double quantity_value(const Quantity& q, const double* theta, std::size_t k, std::vector<double>& grad) {
  grad.assign(k, 0.0);
  const std::size_t none = k;  // no coordinate left out
  return quantity_rest(q, theta, k, none, grad.data(), nullptr);
}

double quadratic_form(const std::vector<double>& g, const std::vector<double>& cov) {
  const std::size_t k = g.size();
  double v = 0;
  for (std::size_t i = 0; i < k; ++i)
    for (std::size_t j = 0; j < k; ++j) v += g[i] * cov[i * k + j] * g[j];
  return v;
}

ProfileInterval no_profile(const std::string& reason) {
  ProfileInterval out;
  out.lower.reason = out.upper.reason = reason;
  return out;
}

// The profile-likelihood interval of a quantity (standardised units): psi
// replaces the coordinate kk of largest |lin|, theta_kk = (psi - r) / lin_kk,
// and psi comes first.
template <std::size_t K>
ProfileInterval quantity_profile(const NsFit& fit, const Quantity& q, double crit) {
  std::size_t kk = 0;
  for (std::size_t i = 1; i < K; ++i)
    if (std::fabs(q.lin[i]) > std::fabs(q.lin[kk])) kk = i;
  const double lk = q.lin[kk];
  if (!(std::fabs(lk) > 0)) return no_profile("the quantity does not depend on the location");
  std::array<std::size_t, K> idx{};  // theta index of t[j], j >= 1
  for (std::size_t i = 0, j = 1; i < K; ++i)
    if (i != kk) idx[j++] = i;
  const Layout lay = layout(fit.model, fit.p);
  const auto l = loglik_of<K>(fit);
  auto to_theta = [&](const std::array<double, K>& t, std::array<double, K>& theta, std::array<double, K>& rg,
                      std::array<double, K * K>* rh) {
    theta[kk] = 0;
    for (std::size_t j = 1; j < K; ++j) theta[idx[j]] = t[j];
    const double r = quantity_rest(q, theta.data(), K, kk, rg.data(), rh != nullptr ? rh->data() : nullptr);
    theta[kk] = (t[0] - r) / lk;
  };
  auto f = [&](const std::array<double, K>& t, Derivs<K>& d, bool hessian = true) {
    std::array<double, K> theta{}, rg{};
    std::array<double, K * K> rh{};
    to_theta(t, theta, rg, hessian ? &rh : nullptr);
    Derivs<K> b;
    if (!l(theta, b, hessian)) return false;
    const double gk = b.g[kk] / lk;
    d.l = b.l;
    d.g[0] = gk;
    for (std::size_t j = 1; j < K; ++j) d.g[j] = b.g[idx[j]] - gk * rg[idx[j]];
    if (!hessian) return true;
    // J = d theta / d t: column 0 is e_kk / lk, column j is e_idx[j] - e_kk rg[idx[j]] / lk.
    std::array<std::array<double, K>, K> jac{};
    jac[kk][0] = 1 / lk;
    for (std::size_t j = 1; j < K; ++j) {
      jac[idx[j]][j] = 1;
      jac[kk][j] = -rg[idx[j]] / lk;
    }
    for (std::size_t a = 0; a < K; ++a)
      for (std::size_t c = a; c < K; ++c) {
        double s = 0;
        for (std::size_t i = 0; i < K; ++i) {
          if (jac[i][a] == 0) continue;
          for (std::size_t m = 0; m < K; ++m) s += jac[i][a] * b.h[i][m] * jac[m][c];
        }
        if (a > 0 && c > 0) s -= gk * rh[idx[a] * K + idx[c]];
        d.h[a][c] = d.h[c][a] = s;
      }
    return true;
  };
  std::array<double, K> hat{};
  std::vector<double> grad;
  hat[0] = quantity_value(q, fit.theta.data(), K, grad);
  for (std::size_t j = 1; j < K; ++j) hat[j] = fit.theta[idx[j]];
  const double var = quadratic_form(grad, fit.theta_cov), se = std::sqrt(var);
  Derivs<K> d0;
  if (!f(hat, d0, false)) return no_profile("no maximum-likelihood fit");
  // The quadratic approximation's end points from the fit's covariance: t
  // moves along cov(t, psi) = (C grad psi) until l has dropped by crit / 2.
  // (The same start the search would take from the Hessian at the maximum,
  // without evaluating it again.)
  std::array<double, K> toward{};
  for (std::size_t i = 0; i < K; ++i)
    for (std::size_t j = 0; j < K; ++j) toward[i] += fit.theta_cov[i * K + j] * grad[j];
  std::array<double, K> cov0{};
  cov0[0] = var;
  for (std::size_t j = 1; j < K; ++j) cov0[j] = toward[idx[j]];
  auto start_at = [&](double dir) {
    std::array<double, K> s = hat;
    const double step = dir * std::sqrt(crit / var);
    for (std::size_t j = 0; j < K; ++j) s[j] += step * cov0[j];
    return s;
  };
  const std::array<double, K> below = start_at(-1), above = start_at(+1);
  const bool quadratic = var > 0 && std::isfinite(var);
  // A larger scale brings the values inside the support; failing that, the
  // Gumbel shape.
  std::size_t js = 0, jx = 0;
  for (std::size_t j = 1; j < K; ++j) {
    if (idx[j] == lay.sc0) js = j;
    if (idx[j] == 0) jx = j;
  }
  auto repair = [&](std::array<double, K> t) {
    Derivs<K> d;
    for (int it = 0; it < 60 && js > 0; ++it) {
      if (f(t, d)) return t;
      t[js] += 0.25;
    }
    if (jx > 0) t[jx] = 0;
    return t;
  };
  const bool gumbel = fit.model.family == NsFamily::gumbel;
  if (gumbel) return no_profile("not profiled for the Gumbel");
  ProfileInterval out;
  out.lower = profile_bound<K>(f, repair, hat, d0.l, se, crit, -1, kk == 0 ? -1.0 : INFINITY, 1e-12,
                               quadratic ? &below : nullptr);
  out.upper = profile_bound<K>(f, repair, hat, d0.l, se, crit, +1, INFINITY, 1e-12, quadratic ? &above : nullptr);
  return out;
}

// Bounds found in the standardised units, in the user's: offset + factor b.
ProfileInterval in_user_units(ProfileInterval out, double offset, double factor) {
  for (ProfileLimit* b : {&out.lower, &out.upper})
    if (b->reason.empty()) b->value = offset + factor * b->value;
  return out;
}

ProfileInterval profile_of(const NsFit& fit, const Quantity& q, double crit, double offset, double factor) {
  return in_user_units(with_k(fit.theta.size(), [&](auto kc) {
    return quantity_profile<decltype(kc)::value>(fit, q, crit);
  }), offset, factor);
}

// The extremes of q(theta, grad) on the likelihood contour (defined below).
template <class Q>
ProfileInterval constrained_profile(const NsFit& f, Q&& q, double crit);

// The standardised covariates of a point.
std::vector<double> standardised(const NsFit& f, const std::vector<double>& c) {
  std::vector<double> s(f.p);
  for (std::size_t a = 0; a < f.p; ++a) s[a] = (c[a] - f.mean[a]) / f.spread[a];
  return s;
}

// mu and ln sigma at standardised point cs (standardised units), with their
// gradients in theta when gm is not null.
void params_at(const NsFit& f, const double* th, const double* cs, double& mu, double& s, double* gm = nullptr,
               double* gs = nullptr) {
  const Layout lay = layout(f.model, f.p);
  if (gm != nullptr) {
    std::fill(gm, gm + lay.k, 0.0);
    std::fill(gs, gs + lay.k, 0.0);
  }
  s = th[lay.sc0];
  if (gm != nullptr) gs[lay.sc0] = 1;
  if (f.model.dispersion) {
    double eb = 0;
    for (std::size_t a = 0; a < f.p; ++a) eb += th[lay.loc0 + 1 + a] * cs[a];
    const double e = std::exp(eb);
    mu = th[lay.loc0] * e;
    s += eb;
    if (gm != nullptr) {
      gm[lay.loc0] = e;
      for (std::size_t a = 0; a < f.p; ++a) {
        gm[lay.loc0 + 1 + a] = mu * cs[a];
        gs[lay.loc0 + 1 + a] = cs[a];
      }
    }
    return;
  }
  mu = lay.nloc > 0 ? th[lay.loc0] : 0;
  if (gm != nullptr && lay.nloc > 0) gm[lay.loc0] = 1;
  for (std::size_t a = 0; a < f.p; ++a) {
    if (lay.nloc > 1) {
      mu += th[lay.loc0 + 1 + a] * cs[a];
      if (gm != nullptr) gm[lay.loc0 + 1 + a] = cs[a];
    }
    if (lay.nsc > 1) {
      s += th[lay.sc0 + 1 + a] * cs[a];
      if (gm != nullptr) gs[lay.sc0 + 1 + a] = cs[a];
    }
  }
}

// The dispersion model's T-year level at standardised point c1 under theta,
// less the level at c0 when given: (E1 - E0) (m0 + s0 y(xi)) with
// E = exp(b'c), and its gradient in theta.
double dispersion_value(const NsFit& f, const double* th, const std::vector<double>& c1,
                        const std::vector<double>* c0, double y0, std::vector<double>& g) {
  const Layout lay = layout(f.model, f.p);
  double p, dp, ddp;
  psi1(th[0] * y0, p, dp, ddp);
  const double y = y0 * p, y1 = y0 * y0 * dp;
  const double s0 = std::exp(th[lay.sc0]), amp = th[lay.loc0] + s0 * y;
  double e1 = 0, e0 = 0;
  for (std::size_t a = 0; a < f.p; ++a) {
    e1 += th[lay.loc0 + 1 + a] * c1[a];
    if (c0 != nullptr) e0 += th[lay.loc0 + 1 + a] * (*c0)[a];
  }
  e1 = std::exp(e1);
  e0 = c0 != nullptr ? std::exp(e0) : 0;
  const double d = e1 - e0;
  g.assign(lay.k, 0.0);
  g[0] = d * s0 * y1;
  g[lay.loc0] = d;
  for (std::size_t a = 0; a < f.p; ++a)
    g[lay.loc0 + 1 + a] = (e1 * c1[a] - (c0 != nullptr ? e0 * (*c0)[a] : 0)) * amp;
  g[lay.sc0] = d * s0 * y;
  if (f.model.family == NsFamily::gumbel) g[0] = 0;
  return d * amp;
}

// The dispersion model's level or change (see dispersion_value) with delta
// bounds and, when asked, the extremes on the likelihood contour (no
// coordinate of theta trades for it one to one).
NsLevel dispersion_level(const NsFit& f, const std::vector<double>& c1, const std::vector<double>* c0, double y0,
                         double z, double offset, bool profile, double crit) {
  std::vector<double> g;
  NsLevel out;
  out.value = offset + f.unit * dispersion_value(f, f.theta.data(), c1, c0, y0, g);
  out.se = f.unit * std::sqrt(std::max(0.0, quadratic_form(g, f.theta_cov)));
  out.lower = out.value - z * out.se;
  out.upper = out.value + z * out.se;
  if (profile && f.model.family == NsFamily::gev) {
    auto q = [&](const double* th, std::vector<double>& gq) { return dispersion_value(f, th, c1, c0, y0, gq); };
    out.profile = in_user_units(constrained_profile(f, q, crit), offset, f.unit);
  } else {
    out.profile = no_profile(profile ? "not profiled for the Gumbel" : "not computed");
  }
  return out;
}

// The reduced variate of the T-year level: annual maxima -ln(-ln(1 - 1/T)),
// excesses ln(rate T).
double reduced_variate(const NsFit& f, double period, double rate) {
  if (f.model.family == NsFamily::gpd) return std::log(rate * period);
  return -std::log(-std::log1p(-1 / period));
}

// The T-year level at standardised point cs (weight w), added to q.
void add_level(const NsFit& f, const std::vector<double>& cs, double w, Quantity& q) {
  const Layout lay = layout(f.model, f.p);
  const std::size_t k = lay.k;
  q.lin.resize(k, 0.0);
  if (lay.nloc > 0) {
    q.lin[lay.loc0] += w;
    if (lay.nloc > 1)
      for (std::size_t a = 0; a < f.p; ++a) q.lin[lay.loc0 + 1 + a] += w * cs[a];
  }
  std::vector<double> zf(k, 0.0);
  zf[lay.sc0] = 1;
  if (lay.nsc > 1)
    for (std::size_t a = 0; a < f.p; ++a) zf[lay.sc0 + 1 + a] = cs[a];
  q.terms.emplace_back(w, std::move(zf));
}

NsLevel level_of(const NsFit& f, const Quantity& q, double z, double offset, bool profile, double crit) {
  NsLevel out;
  std::vector<double> grad;
  const double v = quantity_value(q, f.theta.data(), f.theta.size(), grad);
  out.value = offset + f.unit * v;
  out.se = f.unit * std::sqrt(std::max(0.0, quadratic_form(grad, f.theta_cov)));
  out.lower = out.value - z * out.se;
  out.upper = out.value + z * out.se;
  if (profile && f.model.family == NsFamily::gev) {
    out.profile = profile_of(f, q, crit, offset, f.unit);
  } else if (profile && f.model.family == NsFamily::gpd) {
    // The GPD's level has no location coordinate to trade for it: its
    // extremes on the likelihood contour.
    const std::size_t k = f.theta.size();
    auto value = [&](const double* th, std::vector<double>& g) { return quantity_value(q, th, k, g); };
    out.profile = in_user_units(constrained_profile(f, value, crit), offset, f.unit);
  } else {
    out.profile = no_profile(profile ? "not profiled for the Gumbel" : "not computed");
  }
  return out;
}

// ln of the probability of exceeding x (standardised) at standardised point
// cs under theta, with its gradient in theta; false where x is beyond the
// upper end.
bool log_survival(const NsFit& f, const double* theta, const std::vector<double>& cs, double x, double& ls,
                  std::vector<double>& g) {
  const Layout lay = layout(f.model, f.p);
  const std::size_t k = lay.k;
  g.assign(k, 0.0);
  const double xi = theta[0];
  double mu = 0, s = 0;
  std::array<double, kMaxK> dmu{}, ds{};
  params_at(f, theta, cs.data(), mu, s, dmu.data(), ds.data());
  const double isg = std::exp(-s), z = (x - mu) * isg, u = xi * z;
  if (!(u > -1)) {
    if (xi < 0) return false;
    ls = 0;  // below the lower end: certain
    return true;
  }
  const double iw = 1 / (1 + u);
  double lr, f2, df2;
  log_ratio<kBoth, false>(u, iw, lr, f2, df2);
  // ln v = -z lr(u), v = (1 + u)^(-1/xi); d ln v: iw / sigma in mu, z iw in ln sigma, -z^2 phi2 in xi.
  const double lnv = -z * lr;
  double factor = 1;
  if (f.model.family == NsFamily::gpd) {
    ls = lnv;
  } else {
    const double v = std::exp(lnv);
    ls = std::log(-std::expm1(-v));
    factor = v / std::expm1(v);
  }
  g[0] = -factor * z * z * f2;
  const double gm = factor * iw * isg, gs = factor * z * iw;
  for (std::size_t i = 1; i < k; ++i) g[i] = gm * dmu[i] + gs * ds[i];
  if (f.model.family == NsFamily::gumbel) g[0] = 0;
  return std::isfinite(ls);
}

// The profile-likelihood interval of a smooth function q(theta) that is not
// a coordinate of any convenient parametrisation (ln PR): each end is the
// extreme of q on the contour l = l_max - crit / 2, the root of
// grad l = lambda grad q, l = l_max - crit / 2. Newton on that system from
// the quadratic approximation's end point, the Hessian of q by differences of
// its gradient (the Jacobian only steers the steps; the root is exact). Near
// the root the last Jacobian serves: l and its gradient alone are evaluated.
template <std::size_t K, class Q>
ProfileInterval contour_extremes(const NsFit& f, Q& q, double crit) {
  constexpr std::size_t M = K + 1;
  using Vec = std::array<double, M>;
  using Mat = std::array<Vec, M>;
  const double* cov = f.theta_cov.data();
  std::vector<double> gq, gp;  // q's gradients, reused
  const double q0 = q(f.theta.data(), gq);
  const double var = quadratic_form(gq, f.theta_cov);
  if (!std::isfinite(q0) || !(var > 0)) return no_profile("the quantity has no gradient at the estimate");
  double lhat;
  std::array<double, K> g{}, xp{};
  std::array<double, K * K> h{};
  if (!ns_loglik(f, f.theta.data(), lhat, g.data(), nullptr)) return no_profile("no maximum-likelihood fit");
  double target = lhat - crit / 2;
  const double c = std::sqrt(crit / var);
  std::array<double, K> sg{};
  for (std::size_t i = 0; i < K; ++i)
    for (std::size_t j = 0; j < K; ++j) sg[i] += cov[i * K + j] * gq[j];
  // F(theta, lambda): the k stationarity equations and the contour, scaled by
  // the estimate's spread so one tolerance serves every coordinate.
  auto residual = [&](const Vec& x, Vec& r, Mat* jac) {
    double l;
    if (!ns_loglik(f, x.data(), l, g.data(), jac != nullptr ? h.data() : nullptr)) return false;
    if (!std::isfinite(q(x.data(), gq))) return false;
    const double lambda = x[K];
    for (std::size_t i = 0; i < K; ++i) r[i] = g[i] - lambda * gq[i];
    r[K] = l - target;
    if (jac == nullptr) return true;
    for (std::size_t j = 0; j < K; ++j) {
      const double step = 1e-6 * std::sqrt(cov[j * K + j]);
      std::copy_n(x.begin(), K, xp.begin());
      xp[j] += step;
      if (!std::isfinite(q(xp.data(), gp))) return false;
      for (std::size_t i = 0; i < K; ++i) (*jac)[i][j] = h[i * K + j] - lambda * (gp[i] - gq[i]) / step;
      (*jac)[K][j] = g[j];
    }
    for (std::size_t i = 0; i < K; ++i) (*jac)[i][K] = -gq[i];
    (*jac)[K][K] = 0;
    return true;
  };
  auto size = [&](const Vec& r) {
    double s = 0;
    for (std::size_t i = 0; i < K; ++i) s += r[i] * r[i] * cov[i * K + i];
    return std::sqrt(s + r[K] * r[K]);
  };
  // Newton from x to the root, halving each step until the residual shrinks
  // (or stays in the support), close to the root first with the last
  // Jacobian; false when it stalls.
  auto newton = [&](Vec& x, Vec& r, Mat& jac) {
    for (int it = 0; it < 60; ++it) {
      const double now = size(r);
      if (now < 1e-11) return true;
      Vec dx{};
      if (!solve_general<M>(jac, r, dx)) return false;
      bool moved = false;
      for (double t = 1; t > 1e-4 && !moved; t /= 2) {
        Vec y{}, ry{};
        for (std::size_t i = 0; i < M; ++i) y[i] = x[i] - t * dx[i];
        if (now < 1e-6 && residual(y, ry, nullptr) && size(ry) < now) {
          x = y, r = ry;
          moved = true;
          break;
        }
        Mat jy{};
        if (residual(y, ry, &jy) && size(ry) < now) {
          x = y, r = ry, jac = jy;
          moved = true;
        }
      }
      if (!moved) return false;
    }
    return false;
  };
  // The quadratic approximation's end on the contour of share `share` of
  // crit, drawn toward the estimate while it lies outside the support (a
  // bounded GPD's upper end near the largest value).
  auto start = [&](double side, double share, Vec& x, Vec& r, Mat& jac) {
    target = lhat - share * crit / 2;
    const double cs = c * std::sqrt(share);
    for (double t = 1;; t /= 2) {
      for (std::size_t i = 0; i < K; ++i) x[i] = f.theta[i] + side * t * cs * sg[i];
      x[K] = -side * t * cs;
      if (residual(x, r, &jac)) return true;
      if (t < 1e-3) return false;
    }
  };
  auto end = [&](double side) {
    ProfileLimit out;
    Vec x{}, r{};
    Mat jac{};
    if (!start(side, 1, x, r, jac)) {
      out.reason = "the contour leaves the support";
      return out;
    }
    bool found = newton(x, r, jac);
    // Where the quadratic model is poor far out (a skewed ln PR), reach the
    // contour through nearer ones, each solved from the last one's end.
    if (!found && start(side, 0.25, x, r, jac)) {
      found = newton(x, r, jac);
      for (double share : {0.5, 0.75, 1.0}) {
        if (!found) break;
        target = lhat - share * crit / 2;
        found = residual(x, r, &jac) && newton(x, r, jac);
      }
    }
    if (!found) {
      out.reason = "the profile search did not converge";
      return out;
    }
    const double v = q(x.data(), gq);
    if (side * (v - q0) > 0) out.value = v;
    else out.reason = "the profile did not reach the critical level on this side";
    return out;
  };
  return {end(-1), end(+1)};
}

template <class Q>
ProfileInterval constrained_profile(const NsFit& f, Q&& q, double crit) {
  return with_k(f.theta.size(), [&](auto kc) { return contour_extremes<decltype(kc)::value>(f, q, crit); });
}

}  // namespace

std::vector<double> ns_residuals(const NsFit& f) {
  std::vector<double> r(f.n, kNaN);
  if (!f.ok) return r;
  const double xi = f.theta[0];
  std::array<double, kMaxCovariates> cs{};
  for (std::size_t i = 0; i < f.n; ++i) {
    for (std::size_t a = 0; a < f.p; ++a) cs[a] = f.cs[a * f.n + i];
    double mu, s;
    params_at(f, f.theta.data(), cs.data(), mu, s);
    const double z = (f.y[i] - mu) * std::exp(-s), u = xi * z;
    double lr, f2, df2;
    log_ratio<kBoth, false>(u, 1 / (1 + u), lr, f2, df2);
    r[i] = z * lr;  // (1 / xi) ln(1 + xi z)
  }
  return r;
}

std::vector<NsLevel> ns_levels_per_observation(const NsFit& f, std::span<const double> periods,
                                               double confidence, double threshold, double rate) {
  std::vector<NsLevel> out;
  if (!f.ok) return out;
  const double z = dist::normal_two_sided(confidence);
  const double offset = f.model.family == NsFamily::gpd ? threshold : f.centre;
  out.reserve(f.n * periods.size());
  std::vector<double> cs(f.p);
  for (std::size_t i = 0; i < f.n; ++i) {
    for (std::size_t a = 0; a < f.p; ++a) cs[a] = f.cs[a * f.n + i];
    for (double T : periods) {
      Quantity q;
      q.y0 = reduced_variate(f, T, rate);
      add_level(f, cs, 1, q);
      NsLevel l = f.model.dispersion ? dispersion_level(f, cs, nullptr, q.y0, z, offset, false, 0)
                                     : level_of(f, q, z, offset, false, 0);
      l.period = T;
      l.profile = ProfileInterval{};
      out.push_back(l);
    }
  }
  return out;
}

NsAnalysis analyze_nonstationary(const NsData& data, const NsModel& model, const NsRequest& req) {
  NsAnalysis a;
  a.fit = fit_nonstationary(data, model);
  NsFit& f = a.fit;
  if (!f.ok) return a;
  const Layout lay = layout(f.model, f.p);
  const double z = dist::normal_two_sided(req.confidence);
  const double crit = dist::chi2_1_quantile(req.confidence);
  const bool gpd = f.model.family == NsFamily::gpd;
  const double offset = gpd ? req.threshold : f.centre;
  // Likelihood-ratio tests against the nested models.
  auto test = [&](const char* name, const NsModel& nested) {
    // From the full fit's estimates (its extra slopes 0): close to the
    // nested maximum, a few Newton steps from it.
    const NsFit g = fit_nonstationary(data, nested, &f);
    NsLrTest t;
    t.against = name;
    t.df = static_cast<int>(f.coef.size()) - static_cast<int>(g.coef.size());
    if (g.ok) {
      t.statistic = std::max(0.0, 2 * (f.loglik - g.loglik));
      t.p = chi2_upper(t.statistic, t.df);
    }
    a.lr_tests.push_back(t);
  };
  NsModel stationary = f.model;
  stationary.loc = stationary.scale = stationary.dispersion = false;
  if (f.p > 0 && (f.model.loc || f.model.scale)) test("stationary", stationary);
  if (f.model.family == NsFamily::gev && f.model.loc && f.model.scale && !f.model.dispersion) {
    NsModel loc = f.model;
    loc.scale = false;
    test("loc", loc);
  }
  if (f.model.family == NsFamily::gev) {
    NsModel gumbel = f.model;
    gumbel.family = NsFamily::gumbel;
    test("gumbel", gumbel);
  }
  // Profiles of the slopes and the shape (the intercepts depend on the
  // covariates' origin and are not profiled).
  a.coef_profiles.assign(f.coef.size(), no_profile("not profiled"));
  if (req.profiles && f.model.family != NsFamily::gumbel) {
    const std::size_t k = lay.k;
    for (std::size_t i = 0; i < f.coef.size(); ++i) {
      const std::size_t ti = (i + 1) % k;  // theta index
      const bool slope = (ti > lay.loc0 && ti < lay.loc0 + lay.nloc) || (ti > lay.sc0 && ti < lay.sc0 + lay.nsc);
      // The dispersion model's a = mu0 b is not a coordinate: its shape alone.
      if ((!slope || f.model.dispersion) && ti != 0) continue;
      Quantity q;
      q.lin.assign(k, 0.0);
      q.lin[ti] = 1;
      double factor = 1;
      if (ti > lay.loc0 && ti < lay.loc0 + lay.nloc) factor = f.unit / f.spread[ti - lay.loc0 - 1];
      if (ti > lay.sc0 && ti < lay.sc0 + lay.nsc) factor = 1 / f.spread[ti - lay.sc0 - 1];
      a.coef_profiles[i] = profile_of(f, q, crit, 0, factor);
    }
  }
  // The reference point: the last observation unless given.
  a.reference = req.reference;
  if (a.reference.size() != f.p) {
    a.reference.assign(f.p, 0);
    for (std::size_t j = 0; j < f.p; ++j) a.reference[j] = data.c[j].back();
  }
  if (f.model.dispersion) {
    const auto cs = standardised(f, a.reference);
    double mu, s;
    std::vector<double> gm(lay.k), gs(lay.k);
    params_at(f, f.theta.data(), cs.data(), mu, s, gm.data(), gs.data());
    a.mu_ref.value = offset + f.unit * mu;
    a.mu_ref.se = f.unit * std::sqrt(std::max(0.0, quadratic_form(gm, f.theta_cov)));
    a.sigma_ref.value = f.unit * std::exp(s);
    a.sigma_ref.se = a.sigma_ref.value * std::sqrt(std::max(0.0, quadratic_form(gs, f.theta_cov)));
    for (Estimate* e : {&a.mu_ref, &a.sigma_ref}) {
      e->lower = e->value - z * e->se;
      e->upper = e->value + z * e->se;
    }
  } else {
    const auto cs = standardised(f, a.reference);
    Quantity q;
    add_level(f, cs, 1, q);
    q.y0 = 0;  // the location: y(xi) = 0
    q.terms.clear();
    std::vector<double> g;
    a.mu_ref.value = offset + f.unit * quantity_value(q, f.theta.data(), lay.k, g);
    a.mu_ref.se = f.unit * std::sqrt(std::max(0.0, quadratic_form(g, f.theta_cov)));
    double s = f.theta[lay.sc0];
    std::vector<double> gs(lay.k, 0.0);
    gs[lay.sc0] = 1;
    if (lay.nsc > 1)
      for (std::size_t j = 0; j < f.p; ++j) {
        s += f.theta[lay.sc0 + 1 + j] * cs[j];
        gs[lay.sc0 + 1 + j] = cs[j];
      }
    a.sigma_ref.value = f.unit * std::exp(s);
    a.sigma_ref.se = a.sigma_ref.value * std::sqrt(std::max(0.0, quadratic_form(gs, f.theta_cov)));
    for (Estimate* e : {&a.mu_ref, &a.sigma_ref}) {
      e->lower = e->value - z * e->se;
      e->upper = e->value + z * e->se;
    }
    if (gpd) a.mu_ref = Estimate{req.threshold, 0, req.threshold, req.threshold};
  }
  // The covariate points: given, or the first and last observed values.
  std::vector<std::vector<double>> points = req.at;
  if (points.empty() && f.p == 1) points = {{data.c[0].front()}, {data.c[0].back()}};
  for (const auto& pt : points) {
    NsPoint out;
    out.c = pt;
    if (pt.size() != f.p) continue;
    for (std::size_t j = 0; j < f.p; ++j) {
      const auto [lo, hi] = std::minmax_element(data.c[j].begin(), data.c[j].end());
      out.extrapolated = out.extrapolated || pt[j] < *lo || pt[j] > *hi;
    }
    const auto cs = standardised(f, pt);
    for (double T : req.periods) {
      Quantity q;
      q.y0 = reduced_variate(f, T, req.rate);
      add_level(f, cs, 1, q);
      NsLevel l = f.model.dispersion ? dispersion_level(f, cs, nullptr, q.y0, z, offset, req.profiles, crit)
                                     : level_of(f, q, z, offset, req.profiles, crit);
      l.period = T;
      out.levels.push_back(std::move(l));
    }
    a.at.push_back(std::move(out));
  }
  if (a.at.size() >= 2) {
    const auto c0 = standardised(f, a.at[0].c), c1 = standardised(f, a.at[1].c);
    for (std::size_t j = 0; j < req.periods.size(); ++j) {
      Quantity q;
      q.y0 = reduced_variate(f, req.periods[j], req.rate);
      add_level(f, c1, 1, q);
      add_level(f, c0, -1, q);
      if (lay.nsc == 1) q.terms.clear();  // the scale terms cancel
      NsLevel l = f.model.dispersion ? dispersion_level(f, c1, &c0, q.y0, z, 0, req.profiles, crit)
                                     : level_of(f, q, z, 0, req.profiles, crit);
      l.period = req.periods[j];
      l.percent = 100 * l.value / a.at[0].levels[j].value;
      a.change.push_back(std::move(l));
    }
    // The probability ratio of the level x at the second point to the first.
    NsProbabilityRatio& pr = a.probability_ratio;
    pr.level = req.level;
    if (!std::isfinite(pr.level)) {
      Quantity q;
      q.y0 = reduced_variate(f, 100, req.rate);
      add_level(f, c0, 1, q);
      std::vector<double> g;
      pr.level = f.model.dispersion ? dispersion_level(f, c0, nullptr, q.y0, z, offset, false, 0).value
                                    : offset + f.unit * quantity_value(q, f.theta.data(), lay.k, g);
    }
    const double xs = (pr.level - offset) / f.unit;
    double l0, l1;
    std::vector<double> g0, g1;
    const double* th = f.theta.data();
    if (!log_survival(f, th, c0, xs, l0, g0) || !log_survival(f, th, c1, xs, l1, g1) || !std::isfinite(l0) ||
        !std::isfinite(l1)) {
      pr.error = "the level is beyond the upper end of the distribution at a point";
    } else {
      for (std::size_t i = 0; i < g0.size(); ++i) g1[i] -= g0[i];
      pr.ln_pr = l1 - l0;
      pr.pr = std::exp(pr.ln_pr);
      pr.far = 1 - 1 / pr.pr;
      pr.se_ln_pr = std::sqrt(std::max(0.0, quadratic_form(g1, f.theta_cov)));
      pr.lower = pr.ln_pr - z * pr.se_ln_pr;
      pr.upper = pr.ln_pr + z * pr.se_ln_pr;
      if (req.profiles && f.model.family != NsFamily::gumbel) {
        std::vector<double> h0;
        auto ln_pr = [&](const double* theta, std::vector<double>& g) {
          double a0, a1;
          if (!log_survival(f, theta, c0, xs, a0, h0) || !log_survival(f, theta, c1, xs, a1, g)) return kNaN;
          for (std::size_t i = 0; i < g.size(); ++i) g[i] -= h0[i];
          return a1 - a0;
        };
        pr.profile = constrained_profile(f, ln_pr, crit);
      } else {
        pr.profile = no_profile(req.profiles ? "not profiled for the Gumbel" : "not computed");
      }
    }
  }
  // Residual diagnostics.
  std::vector<double> r = ns_residuals(f);
  std::sort(r.begin(), r.end());
  if (gpd) {
    a.residual_gof = gpd_gof(r, 1, 0);
  } else {
    edf_statistics(r, 0, 1, a.residual_gof);
  }
  return a;
}

}  // namespace korvalinde::stats
