#include "korvalinde/stats/gev.hpp"

#include <algorithm>
#include <atomic>
#include <boost/math/special_functions/erf.hpp>
#include <boost/math/special_functions/gamma.hpp>
#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "korvalinde/detail/reduce.hpp"
#include "korvalinde/detail/sum.hpp"
#include "korvalinde/detail/vmath.hpp"
#include "korvalinde/stats/estimate.hpp"
#include "korvalinde/stats/gev_terms.hpp"

namespace korvalinde::stats {

using namespace gev_kernel;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

GevEstimate failure(std::string message) {
  GevEstimate e;
  e.error = std::move(message);
  for (auto& row : e.cov) row.fill(kNaN);
  return e;
}

}  // namespace

namespace {

// The ten sums of gev_loglik over one block of values (see there), in chunks:
// the terms of a chunk are computed into arrays by a loop without branches
// or calls, which vectorises, then added in four fixed lanes (the order of
// the additions is written out, so every vector width gives the same bits).
// The phi2 series and the logarithm are computed only where some value of
// the chunk needs them. False when a value is outside the support.
struct GevPoint {
  double c, r, mu, isg, xi;
};

// With Hessian false, only the first four sums (l and the gradient). Inlined
// into the two cloned entry points below (clones cannot be templates).
template <bool Hessian>
[[gnu::always_inline]] inline bool gev_block(const double* x, std::size_t n, const GevPoint& q,
                                             double* sums) {
  constexpr int kSums = Hessian ? 10 : 4;
  alignas(64) double z[kChunk], u[kChunk], t[10][kChunk];
  double acc[10][4] = {};
  const double c = q.c, r = q.r, mu = q.mu, isg = q.isg, xi = q.xi;
  for (std::size_t b = 0; b < n; b += kChunk) {
    const std::size_t m = std::min(kChunk, n - b);
    int outside = 0, small = 0, low = 0;
    for (std::size_t j = 0; j < m; ++j) {
      const double zj = ((x[b + j] - c) * r - mu) * isg;
      const double uj = xi * zj;
      z[j] = zj;
      u[j] = uj;
      outside += !(uj > -1);
      small += std::fabs(uj) < kSmallU;
      low += uj <= -kSmallU;
    }
    if (outside > 0) return false;
    // The copies' terms past m are set to 0 or left out of the sums below.
    const std::size_t m8 = pad_to_8(z, u, m);
    const auto ms = static_cast<std::size_t>(small);
    if (ms == 0) {
      gev_terms<kLogOnly, Hessian>(z, u, 0, m8, xi, t);
    } else if (ms == m) {
      gev_terms<kSeriesOnly, Hessian>(z, u, 0, m8, xi, t);
    } else {
      // In a sorted sample u is monotone, so the values that need the series
      // are one run, after those with u <= -kSmallU when xi > 0 and before
      // them when xi < 0: each run takes its own branch when none is
      // misplaced, else every value takes both.
      const std::size_t first = xi > 0 ? static_cast<std::size_t>(low) : m - ms - static_cast<std::size_t>(low);
      const std::size_t last = first + ms;
      int misplaced = 0;
      for (std::size_t j = 0; j < first; ++j) misplaced += std::fabs(u[j]) < kSmallU;
      for (std::size_t j = last; j < m; ++j) misplaced += std::fabs(u[j]) < kSmallU;
      if (misplaced == 0) {
        // Runs cut at multiples of 8 values, so that no vector loop ends in
        // scalar iterations: the groups of 8 with both kinds take both.
        const std::size_t a = first / 8 * 8, a2 = std::min(m, (first + 7) / 8 * 8);
        const std::size_t b = last / 8 * 8, b2 = std::min(m, (last + 7) / 8 * 8);
        gev_terms<kLogOnly, Hessian>(z, u, 0, a, xi, t);
        if (a2 >= b) {
          gev_terms<kBoth, Hessian>(z, u, a, b2, xi, t);
        } else {
          gev_terms<kBoth, Hessian>(z, u, a, a2, xi, t);
          gev_terms<kSeriesOnly, Hessian>(z, u, a2, b, xi, t);
          gev_terms<kBoth, Hessian>(z, u, b, b2, xi, t);
        }
        gev_terms<kLogOnly, Hessian>(z, u, b2, m8, xi, t);
      } else {
        gev_terms<kBoth, Hessian>(z, u, 0, m8, xi, t);
      }
    }
    const std::size_t m4 = (m + 3) / 4 * 4;
    for (int k = 0; k < kSums; ++k) {
      for (std::size_t j = m; j < m4; ++j) t[k][j] = 0;
      for (std::size_t j = 0; j < m4; j += 4)
        for (int l = 0; l < 4; ++l) acc[k][l] += t[k][j + l];
    }
  }
  for (int k = 0; k < kSums; ++k) sums[k] = (acc[k][0] + acc[k][1]) + (acc[k][2] + acc[k][3]);
  return true;
}

KORVALINDE_HOT_CLONES bool gev_block_full(const double* x, std::size_t n, const GevPoint& q,
                                          double* sums) {
  return gev_block<true>(x, n, q, sums);
}

KORVALINDE_HOT_CLONES bool gev_block_light(const double* x, std::size_t n, const GevPoint& q,
                                           double* sums) {
  return gev_block<false>(x, n, q, sums);
}

}  // namespace

namespace {

// gev_loglik with sigma = e^(ln sigma) given by a caller that has it.
bool loglik_with_scale(const GevSample& s, const std::array<double, 3>& theta, double sigma,
                       Derivs<3>& d, bool hessian) {
  const double mu = theta[0], ls = theta[1], xi = theta[2];
  if (!(xi > -1) || !std::isfinite(mu) || !std::isfinite(ls) || !std::isfinite(xi)) return false;
  const double isg = 1 / sigma;
  const GevPoint q{s.centre, 1 / s.unit, mu, isg, xi};
  // The terms of the derivatives in mu and in ln sigma differ by the factor
  // sigma z (dz/dmu = -1/sigma, dz/d ln sigma = -z): summed without the
  // powers of 1/sigma, which are applied once after the loop. One block
  // directly: its compensated sum would be its plain sum.
  std::array<double, 10> sums{};
  const auto block = hessian ? gev_block_full : gev_block_light;
  if (s.x.size() <= detail::kBlock) {
    if (!block(s.x.data(), s.x.size(), q, sums.data())) return false;
  } else {
    std::atomic<bool> inside = true;
    sums = detail::block_sums<10>(s.x.size(), s.threads, [&](std::size_t i, std::size_t e, auto& out) {
      std::array<double, 10> p{};
      if (!block(s.x.data() + i, e - i, q, p.data())) inside = false;
      out = p;
    });
    if (!inside) return false;
  }
  const auto n = static_cast<double>(s.x.size());
  d.l = sums[0] - n * ls;
  d.g = {-sums[1] * isg, -sums[2] - n, sums[3]};
  if (!hessian) return std::isfinite(d.l) && std::isfinite(d.g[0]) && std::isfinite(d.g[2]);
  const double h01 = sums[5] * isg, h02 = sums[6] * isg;
  d.h = {{{sums[4] * isg * isg, h01, h02}, {h01, sums[7], sums[8]}, {h02, sums[8], sums[9]}}};
  return std::isfinite(d.l) && std::isfinite(d.h[2][2]);
}

}  // namespace

bool gev_loglik(const GevSample& s, const std::array<double, 3>& theta, Derivs<3>& d,
                bool hessian) {
  return loglik_with_scale(s, theta, std::exp(theta[1]), d, hessian);
}

namespace {

// The six sums of gumbel_loglik over one block, as gev_block does them.
KORVALINDE_HOT_CLONES void gumbel_block(const double* x, std::size_t n,
                                                                     const GevPoint& q, double* sums) {
  alignas(64) double zs[kChunk], t[6][kChunk];
  double acc[6][4] = {};
  const double c = q.c, r = q.r, mu = q.mu, isg = q.isg;
  for (std::size_t b = 0; b < n; b += kChunk) {
    const std::size_t m = std::min(kChunk, n - b);
    // Up to a multiple of 8 values, the last repeated, as in gev_block.
    const std::size_t m8 = std::min(kChunk, (m + 7) / 8 * 8);
    for (std::size_t j = 0; j < m; ++j) zs[j] = ((x[b + j] - c) * r - mu) * isg;
    for (std::size_t j = m; j < m8; ++j) zs[j] = zs[m - 1];
    for (std::size_t j = 0; j < m8; ++j) {
      const double z = zs[j];
      const double e = detail::vexp(-z);
      t[0][j] = -z - e;
      t[1][j] = 1 - e;
      t[2][j] = z * (1 - e);
      t[3][j] = e;
      t[4][j] = -(1 - e) - e * z;
      t[5][j] = -z * (1 - e) - e * z * z;
    }
    const std::size_t m4 = (m + 3) / 4 * 4;
    for (int k = 0; k < 6; ++k) {
      for (std::size_t j = m; j < m4; ++j) t[k][j] = 0;
      for (std::size_t j = 0; j < m4; j += 4)
        for (int l = 0; l < 4; ++l) acc[k][l] += t[k][j + l];
    }
  }
  for (int k = 0; k < 6; ++k) sums[k] = (acc[k][0] + acc[k][1]) + (acc[k][2] + acc[k][3]);
}

}  // namespace

bool gumbel_loglik(const GevSample& s, const std::array<double, 2>& theta, Derivs<2>& d) {
  const double mu = theta[0], ls = theta[1];
  if (!std::isfinite(mu) || !std::isfinite(ls)) return false;
  const double isg = std::exp(-ls);
  const GevPoint q{s.centre, 1 / s.unit, mu, isg, 0};
  // l = -n ln sigma - sum (z + t), t = e^-z; dz/dmu = -1/sigma, dz/d ln sigma = -z.
  std::array<double, 6> sums{};
  if (s.x.size() <= detail::kBlock)
    gumbel_block(s.x.data(), s.x.size(), q, sums.data());
  else
    sums = detail::block_sums<6>(s.x.size(), s.threads, [&](std::size_t i, std::size_t e, auto& p) {
      std::array<double, 6> part{};
      gumbel_block(s.x.data() + i, e - i, q, part.data());
      p = part;
    });
  const auto n = static_cast<double>(s.x.size());
  d.l = sums[0] - n * ls;
  d.g = {sums[1] * isg, sums[2] - n};
  d.h = {{{-sums[3] * isg * isg, sums[4] * isg}, {sums[4] * isg, sums[5]}}};
  return std::isfinite(d.l) && std::isfinite(d.h[1][1]);
}

bool gev_from_lmoments(double l1, double l2, double tau3, dist::Gev& out, std::string* why) {
  auto fail = [&](const char* m) {
    if (why) *why = m;
    return false;
  };
  if (!(l2 > 0) || !std::isfinite(l1) || !std::isfinite(l2) || std::isnan(tau3))
    return fail("GEV L-moments: the ratios are out of range");
  // tau3(xi) = 2 expm1(xi ln 3) / expm1(xi ln 2) - 3 rises from -1 (xi -> -inf)
  // to 1 (xi = 1): one root, bracketed and polished by Newton.
  const double a = std::log(3.0), b = std::numbers::ln2;
  auto g = [&](double xi, double& dg) {
    if (xi == 0) {
      dg = (a / b) * (a - b);  // twice the ratio's derivative at 0
      return 2 * a / b - 3 - tau3;
    }
    const double ea = std::expm1(xi * a), eb = std::expm1(xi * b);
    dg = 2 * (a * (ea + 1) * eb - b * (eb + 1) * ea) / (eb * eb);
    return 2 * ea / eb - 3 - tau3;
  };
  double lo = -1, hi = 1, dg = 0;
  while (g(lo, dg) > 0) {
    hi = lo;
    lo *= 2;
    if (lo < -1e6) return fail("GEV L-moments: the skewness is out of range");
  }
  double xi = 0.5 * (lo + hi);
  for (int it = 0; it < 400; ++it) {
    const double v = g(xi, dg);
    if (v == 0) break;
    if (v < 0) lo = xi; else hi = xi;
    double next = xi - v / dg;
    if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
    const bool done = std::fabs(next - xi) <= 1e-16 * std::fabs(xi) || hi - lo <= 1e-300;
    xi = next;
    if (done || next == lo || next == hi) break;
  }
  const double gm1 = boost::math::tgamma1pm1(-xi);  // Gamma(1 - xi) - 1
  const double sigma = l2 / (b * dist::expm1_ratio(xi * b) * (1 + gm1));
  const double mu = l1 - sigma * (xi == 0 ? std::numbers::egamma : gm1 / xi);
  if (!std::isfinite(sigma) || !(sigma > 0) || !std::isfinite(mu))
    return fail("GEV L-moment estimates are out of range");
  out = {mu, sigma, xi};
  return true;
}

GevEstimate fit_gev_lmom(std::span<const double> sorted) {
  const std::size_t n = sorted.size();
  if (n < 3) return failure("GEV L-moments need at least 3 values");
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(sorted[i])) return failure("GEV L-moments need finite values");
    if (i > 0 && sorted[i] < sorted[i - 1]) return failure("GEV L-moments need a sorted sample");
  }
  const auto nd = static_cast<double>(n);
  // l_r = sum_i w_r(i) x_(i) with integer weights (exact in double for any
  // practical n) that sum to 0 for r >= 2; the values are shifted to the
  // median first so that the terms stay small.
  const double shift = sorted[n / 2];
  detail::Sum s1, s2, s3;
  for (std::size_t k = 0; k < n; ++k) {
    const auto i = static_cast<double>(k);  // i - 1 for 1-based i
    const double v = sorted[k] - shift;
    s1.add(v);
    s2.add((2 * i - (nd - 1)) * v);
    s3.add((6 * i * (i - 1) - 6 * i * (nd - 2) + (nd - 1) * (nd - 2)) * v);
  }
  const double l1 = shift + s1.value() / nd;
  const double l2 = s2.value() / (nd * (nd - 1));
  const double l3 = s3.value() / (nd * (nd - 1) * (nd - 2));
  if (!(l2 > 0) || !std::isfinite(l1) || !std::isfinite(l2) || !std::isfinite(l3))
    return failure(lmom_fault(sorted, l2, "GEV L-moments"));
  dist::Gev d;
  std::string why;
  if (!gev_from_lmoments(l1, l2, l3 / l2, d, &why)) return failure(why);
  GevEstimate e = failure("");
  e.error.clear();
  e.ok = true;
  e.d = d;
  return e;
}

GevEstimate fit_gev_mle(std::span<const double> sorted, unsigned threads) {
  const GevEstimate start = fit_gev_lmom(sorted);
  if (!start.ok) return failure(start.error == "" ? "GEV maximum likelihood failed" : start.error);
  GevSample s{sorted, start.d.loc, start.d.scale, threads};
  // From the L-moment fit, or its Gumbel version when that leaves values
  // outside the support.
  std::array<double, 3> theta{0, 0, std::max(start.d.shape, -0.9)};
  Derivs<3> d;
  if (!gev_loglik(s, theta, d)) theta[2] = 0;
  const MaxResult m = maximize<3>([&](const std::array<double, 3>& t, Derivs<3>& dd) {
    return gev_loglik(s, t, dd);
  }, theta, d, 0);
  if (theta[2] < -0.999)
    return failure("GEV likelihood has no interior maximum: the shape runs to -1, where the likelihood grows without bound");
  if (!m.ok) return failure("GEV maximum likelihood did not converge");
  GevEstimate e = failure("");
  e.error.clear();
  e.ok = true;
  e.iterations = m.iterations;
  e.sample = s;
  e.theta = theta;
  const double sigma = std::exp(theta[1]);
  e.d = {s.centre + s.unit * theta[0], s.unit * sigma, theta[2]};
  e.loglik = d.l - static_cast<double>(sorted.size()) * std::log(s.unit);
  if (!std::isfinite(e.d.loc) || !std::isfinite(e.d.scale) || !std::isfinite(e.loglik))
    return failure("GEV maximum likelihood estimates are out of range");
  e.theta_cov_valid = inverse_information<3>(d.h, e.theta_cov);
  if (e.theta_cov_valid) {
    // (loc, scale, shape) = (c + u mu, u e^ls, xi): Jacobian diag(u, scale, 1).
    const std::array<double, 3> j{s.unit, e.d.scale, 1};
    for (int i = 0; i < 3; ++i)
      for (int k = 0; k < 3; ++k) e.cov[i][k] = j[i] * j[k] * e.theta_cov[i][k];
  }
  return e;
}

Estimate gev_quantile(const GevEstimate& e, double y0, double z) {
  Estimate q;
  q.value = e.d.loc + e.d.scale * dist::gev_reduced(e.d.shape, y0);
  if (!std::isfinite(q.value) || !std::isfinite(e.cov[0][0])) return q;
  double p, dp, ddp;
  psi1(e.d.shape * y0, p, dp, ddp);
  const std::array<double, 3> g{1, y0 * p, e.d.scale * y0 * y0 * dp};
  double var = 0;
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) var += g[i] * g[k] * e.cov[i][k];
  q.se = std::sqrt(std::max(0.0, var));
  q.lower = q.value - z * q.se;
  q.upper = q.value + z * q.se;
  return q;
}

namespace {

ProfileLimit to_original(ProfileLimit b, double centre, double unit) {
  if (b.reason.empty()) b.value = centre + unit * b.value;
  return b;
}

}  // namespace

namespace {

ProfileInterval no_profile(const char* reason) {
  ProfileInterval out;
  out.lower.reason = out.upper.reason = reason;
  return out;
}

// solve(y0) for each finite y0 in ascending order (once per distinct value),
// so that each search can start from the end points of the one before:
// neighbouring quantiles have neighbouring end points.
template <class Solve>
std::vector<ProfileInterval> in_ascending_order(std::span<const double> y0, const Solve& solve) {
  std::vector<ProfileInterval> out(y0.size());
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < y0.size(); ++i) {
    if (std::isfinite(y0[i]))
      order.push_back(i);
    else
      out[i] = no_profile("no profile at probability 0 or 1");
  }
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return y0[a] < y0[b]; });
  for (std::size_t k = 0; k < order.size(); ++k) {
    const std::size_t i = order[k];
    // Levels equal but for rounding (a probability and the period of the
    // same quantile) share one interval.
    const bool same = k > 0 && std::fabs(y0[i] - y0[order[k - 1]]) <= 1e-13 * (1 + std::fabs(y0[i]));
    out[i] = same ? out[order[k - 1]] : solve(y0[i]);
  }
  return out;
}

// The end points of the quantile profiles of one fit, in standardised units
// (mu, ln sigma, xi), kept to start the next quantile's search from.
struct QuantileEnds {
  FamilySide<3> lower, upper;
};

ProfileInterval quantile_profile(const GevEstimate& e, double y0, double crit, QuantileEnds& ends,
                                 bool lower = true, bool upper = true) {
  // lower, upper: which end points to find
  ProfileInterval out;
  auto reduced = [y0](double xi, double& y, double& y1, double& y2) {
    double p, dp, ddp;
    psi1(xi * y0, p, dp, ddp);
    y = y0 * p;
    y1 = y0 * y0 * dp;
    y2 = y0 * y0 * y0 * ddp;
  };
  // The nuisance parameters besides xi: ln sigma, with mu = z - sigma y(xi),
  // at short periods; mu itself, with sigma = (z - mu) / y(xi), where y is
  // large. (A change of ln sigma by d moves mu by sigma y d: at long periods
  // of a heavy tail, where sigma y is thousands of scales, the likelihood in
  // (z, ln sigma, xi) is a ridge too narrow for the searches to follow.)
  // y(xi) > 0 for every xi where y0 > 0.
  const bool by_mu = y0 > 1;
  // The last point where f was evaluated, in (mu, ln sigma, xi): for the
  // end point's slope in y0.
  Evaluated<3> last;
  auto f = [&](const std::array<double, 3>& t, Derivs<3>& d, bool hessian = true) {
    double y, y1, y2;
    reduced(t[2], y, y1, y2);
    // (mu, ln sigma, xi), its Jacobian in t, and the second derivatives of
    // the one coordinate that is not linear in t (mu or ln sigma).
    std::array<double, 3> theta{};
    Matrix3 j{}, curv{};
    double sigma;
    if (by_mu) {
      const double width = t[0] - t[1];  // sigma y
      if (!(width > 0)) return false;
      const double a = 1 / width, r1 = y1 / y;
      sigma = width / y;
      theta = {t[1], std::log(width) - std::log(y), t[2]};
      j = {{{0, 1, 0}, {a, -a, -r1}, {0, 0, 1}}};
      curv = {{{-a * a, a * a, 0}, {a * a, -a * a, 0}, {0, 0, r1 * r1 - y2 / y}}};
    } else {
      sigma = std::exp(t[1]);
      theta = {t[0] - sigma * y, t[1], t[2]};
      j = {{{1, -sigma * y, -sigma * y1}, {0, 1, 0}, {0, 0, 1}}};
      curv = {{{0, 0, 0}, {0, -sigma * y, -sigma * y1}, {0, -sigma * y1, -sigma * y2}}};
    }
    Derivs<3> b;
    if (!loglik_with_scale(e.sample, theta, sigma, b, hessian)) return false;
    d.l = b.l;
    for (int c = 0; c < 3; ++c) {
      d.g[c] = 0;
      for (int r = 0; r < 3; ++r) d.g[c] += j[r][c] * b.g[r];
    }
    if (!hessian) return true;
    last = {theta, b, true};
    const int bent = by_mu ? 1 : 0;
    Matrix3 hj{};  // H J, then J^T H J
    for (int r = 0; r < 3; ++r)
      for (int k = 0; k < 3; ++k)
        for (int q = 0; q < 3; ++q) hj[r][k] += b.h[r][q] * j[q][k];
    for (int c = 0; c < 3; ++c)
      for (int k = 0; k < 3; ++k) {
        double h = 0;
        for (int r = 0; r < 3; ++r) h += j[r][c] * hj[r][k];
        d.h[c][k] = h + b.g[bent] * curv[c][k];
      }
    return true;
  };
  // The end point's slope in y0, with the quantile q = mu + sigma y(xi):
  // dy/dy0 = e^(xi y0) and dy'/dy0 = y0 e^(xi y0).
  auto slope = [&](const std::array<double, 3>& end, std::array<double, 3>& out) {
    const double s = std::exp(last.theta[1]), ey = std::exp(last.theta[2] * y0);
    double y, y1, y2;
    reduced(last.theta[2], y, y1, y2);
    const Matrix3 q{{{0, 0, 0}, {0, s * y, s * y1}, {0, s * y1, s * y2}}};
    return end_point_slope<3>(last, end, {1, s * y, s * y1}, q, {0, s * ey, s * y0 * ey}, out);
  };
  // The family's coordinates (mu, ln sigma, xi) and this member's.
  auto to_member = [&](std::array<double, 3> t) {
    double y, y1, y2;
    reduced(t[2], y, y1, y2);
    const double z = t[0] + std::exp(t[1]) * y;
    return by_mu ? std::array<double, 3>{z, t[0], t[2]} : std::array<double, 3>{z, t[1], t[2]};
  };
  auto to_family = [&](std::array<double, 3> t) {
    double y, y1, y2;
    reduced(t[2], y, y1, y2);
    if (by_mu) return std::array<double, 3>{t[1], std::log(t[0] - t[1]) - std::log(y), t[2]};
    return std::array<double, 3>{t[0] - std::exp(t[1]) * y, t[1], t[2]};
  };
  const double sigma = std::exp(e.theta[1]);
  double p, dp, ddp;
  psi1(e.theta[2] * y0, p, dp, ddp);
  const std::array<double, 3> grad{1, sigma * y0 * p, sigma * y0 * y0 * dp};
  std::array<double, 3> v{};  // covariance of theta and z
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) v[i] += e.theta_cov[i][k] * grad[k];
  const double var = grad[0] * v[0] + grad[1] * v[1] + grad[2] * v[2];
  const std::array<double, 3> hat = to_member(e.theta);
  const double lhat = e.loglik + static_cast<double>(e.sample.x.size()) * std::log(e.sample.unit);
  const double se = std::sqrt(var);
  // A larger scale moves the end point away from the data; failing that, the
  // Gumbel shape is defined everywhere.
  auto start = [&](std::array<double, 3> t) {
    Derivs<3> d;
    for (int k = 0; k < 80; ++k) {
      if (f(t, d)) return t;
      if (by_mu) {
        // mu lower by the same factor of sigma, or sigma at the estimate's
        double y, y1, y2;
        reduced(t[2], y, y1, y2);
        const double width = t[0] - t[1];
        t[1] = t[0] - (width > 0 ? width * std::exp(0.25) : sigma * y);
      } else {
        t[1] += 0.25;
      }
    }
    t[2] = 0;
    return t;
  };
  // The first search starts from the quadratic approximation at the
  // maximum: (z, mu or ln sigma, xi) moves along its covariance with z,
  // (var, v0 or v1, v2), until l has dropped by crit / 2.
  auto bound = [&](int dir, FamilySide<3>& side) {
    const double t = dir * std::sqrt(crit / var);
    const std::array<double, 3> first{hat[0] + t * var, hat[1] + t * v[by_mu ? 0 : 1], hat[2] + t * v[2]};
    return to_original(family_bound<3>(side, y0, f, start, hat, lhat, se, crit, dir, first, to_member, to_family, slope),
                       e.sample.centre, e.sample.unit);
  };
  if (lower) out.lower = bound(-1, ends.lower);
  if (upper) out.upper = bound(+1, ends.upper);
  return out;
}

}  // namespace

std::vector<ProfileInterval> gev_quantile_profiles(const GevEstimate& e, std::span<const double> y0,
                                                   double crit) {
  if (!e.ok || !e.theta_cov_valid || !(crit > 0))
    return std::vector<ProfileInterval>(y0.size(), no_profile("no maximum-likelihood fit with a valid covariance"));
  QuantileEnds ends;
  bool laddered = false;
  return in_ascending_order(y0, [&](double y) {
    // A search with no neighbour to start from begins at the quadratic
    // approximation, which beyond the short periods of a heavy tail can lead
    // it to a maximum over the nuisance parameters that is only local: an end
    // point where the profile has not yet fallen to the critical level. Above
    // y0 = 1 (a period of about 3) the end points are continued instead from
    // the levels y0 = 0, 1, 2, ... below y, where the approximation holds.
    if (y > 1 && ends.lower.trail.empty() && ends.upper.trail.empty())
      for (double step = 0; step < y; step += 1) quantile_profile(e, step, crit, ends);
    const bool fresh = ends.lower.trail.empty();
    ProfileInterval out = quantile_profile(e, y, crit, ends);
    if (!fresh || !search_failed(out.lower) || laddered) return out;
    // A lower search with no neighbour to start from can fail at a long
    // period of a heavy tail (no maximum over the nuisance found near its
    // start) where one continued from the smaller levels, y0 = 0, 1, 2, ...,
    // succeeds. Tried once a call. (Upper searches that fail there are
    // mostly bounds that do not exist, and each costs much more.)
    laddered = true;
    QuantileEnds ladder;
    for (double step = std::min(0.0, y); step < y; step += 1) quantile_profile(e, step, crit, ladder, true, false);
    const ProfileInterval again = quantile_profile(e, y, crit, ladder, true, false);
    if (again.lower.reason.empty()) {
      out.lower = again.lower;
      ends.lower = ladder.lower;
    }
    return out;
  });
}

ProfileInterval gev_shape_profile(const GevEstimate& e, double crit) {
  ProfileInterval out;
  if (!e.ok || !e.theta_cov_valid || !(crit > 0)) {
    out.lower.reason = out.upper.reason = "no maximum-likelihood fit with a valid covariance";
    return out;
  }
  // theta' = (xi, mu, ln sigma).
  auto f = [&](const std::array<double, 3>& t, Derivs<3>& d, bool hessian = true) {
    Derivs<3> b;
    if (!gev_loglik(e.sample, {t[1], t[2], t[0]}, b, hessian)) return false;
    constexpr std::array<int, 3> perm{2, 0, 1};
    d.l = b.l;
    for (int i = 0; i < 3; ++i) {
      d.g[i] = b.g[perm[i]];
      if (hessian)
        for (int k = 0; k < 3; ++k) d.h[i][k] = b.h[perm[i]][perm[k]];
    }
    return true;
  };
  const std::array<double, 3> hat{e.theta[2], e.theta[0], e.theta[1]};
  const double lhat = e.loglik + static_cast<double>(e.sample.x.size()) * std::log(e.sample.unit);
  const double se = std::sqrt(e.theta_cov[2][2]);
  // A scale large enough brings every value inside the support.
  auto start = [&](std::array<double, 3> t) {
    Derivs<3> d;
    for (int k = 0; k < 60 && !f(t, d); ++k) t[2] += 0.5;
    return t;
  };
  // The quadratic approximation's end points: theta' moves along its
  // covariance with xi until l has dropped by crit / 2.
  const Matrix3& c = e.theta_cov;
  auto guess = [&](int dir) {
    const double t = dir * std::sqrt(crit / c[2][2]);
    return std::array<double, 3>{hat[0] + t * c[2][2], hat[1] + t * c[0][2], hat[2] + t * c[1][2]};
  };
  const auto lower = guess(-1), upper = guess(+1);
  out.lower = profile_bound<3>(f, start, hat, lhat, se, crit, -1, -1.0, 1e-12,
                               std::isfinite(lower[0]) ? &lower : nullptr);
  out.upper = profile_bound<3>(f, start, hat, lhat, se, crit, +1, INFINITY, 1e-12,
                               std::isfinite(upper[0]) ? &upper : nullptr);
  return out;
}

std::vector<ProfileInterval> gumbel_quantile_profiles(std::span<const double> x, double a, double b,
                                                      std::span<const double> y0, double crit,
                                                      unsigned threads) {
  if (!std::isfinite(a) || !(b > 0) || !(crit > 0))
    return std::vector<ProfileInterval>(y0.size(), no_profile("no maximum-likelihood fit"));
  const GevSample s{x, a, b, threads};
  // The end points found so far, in standardised (mu, ln sigma).
  FamilySide<2> lower, upper;
  // Every level's maximum is the point mu = 0, ln sigma = 0 (there z = y):
  // its log-likelihood and derivatives in (mu, ln sigma), computed once.
  Derivs<2> at_hat;
  const bool hat_defined = gumbel_loglik(s, {0.0, 0.0}, at_hat);
  return in_ascending_order(y0, [&](double y) {
    ProfileInterval out;
    // The last point evaluated, in (mu, ln sigma).
    Evaluated<2> last;
    // theta' = (z, ln sigma) with mu = z - sigma y and the shape held at 0.
    auto f = [&](const std::array<double, 2>& t, Derivs<2>& d) {
      const double sigma = std::exp(t[1]);
      const double mu = t[0] - sigma * y;
      Derivs<2> g;
      if (mu == 0 && t[1] == 0) {
        if (!hat_defined) return false;
        g = at_hat;
      } else if (!gumbel_loglik(s, {mu, t[1]}, g)) {
        return false;
      }
      last = {{mu, t[1]}, g, true};
      const double j = -sigma * y;
      d.l = g.l;
      d.g = {g.g[0], j * g.g[0] + g.g[1]};
      d.h[0][0] = g.h[0][0];
      d.h[0][1] = d.h[1][0] = g.h[0][0] * j + g.h[0][1];
      d.h[1][1] = j * j * g.h[0][0] + 2 * j * g.h[0][1] + g.h[1][1] + g.g[0] * j;
      return true;
    };
    // At the maximum, in standardised units: mu = 0, ln sigma = 0.
    const std::array<double, 2> hat{y, 0};
    Derivs<2> d;
    if (!f(hat, d)) return no_profile("no maximum-likelihood fit");
    std::array<std::array<double, 2>, 2> cov{};
    const double se = inverse_information<2>(d.h, cov) ? std::sqrt(cov[0][0]) : kNaN;
    auto repair = [](const std::array<double, 2>& t) { return t; };  // defined everywhere
    auto to_z = [y](const std::array<double, 2>& t) {
      return std::array<double, 2>{t[0] + std::exp(t[1]) * y, t[1]};
    };
    auto to_mu = [y](const std::array<double, 2>& t) {
      return std::array<double, 2>{t[0] - std::exp(t[1]) * y, t[1]};
    };
    // The end point's slope in y, with the quantile q = mu + sigma y.
    auto slope = [&](const std::array<double, 2>& end, std::array<double, 2>& out) {
      const double sigma = std::exp(last.theta[1]);
      return end_point_slope<2>(last, end, {1, sigma * y}, {{{0, 0}, {0, sigma * y}}}, {0, sigma}, out);
    };
    auto bound = [&](int dir, FamilySide<2>& side) {
      const std::array<double, 2> first{kNaN, kNaN};  // the quadratic approximation
      return to_original(family_bound<2>(side, y, f, repair, hat, d.l, se, crit, dir, first, to_z, to_mu, slope),
                         a, b);
    };
    out.lower = bound(-1, lower);
    out.upper = bound(+1, upper);
    return out;
  });
}

GumbelTest gumbel_test(double loglik_gev, double loglik_gumbel) {
  GumbelTest t;
  if (!std::isfinite(loglik_gev) || !std::isfinite(loglik_gumbel)) return t;
  // The GEV contains the Gumbel: a negative difference is rounding.
  t.statistic = std::max(0.0, 2 * (loglik_gev - loglik_gumbel));
  t.p = boost::math::erfc(std::sqrt(0.5 * t.statistic));
  return t;
}

}  // namespace korvalinde::stats
