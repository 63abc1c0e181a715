#include "korvalinde/stats/idf.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <mutex>

#include <boost/math/special_functions/gamma.hpp>

#include "korvalinde/detail/parallel.hpp"
#include "korvalinde/dist/gev.hpp"
#include "korvalinde/dist/normal.hpp"
#include "korvalinde/input/dated_csv.hpp"
#include "korvalinde/stats/gev.hpp"
#include "korvalinde/stats/gev_terms.hpp"
#include "korvalinde/stats/profile.hpp"

namespace korvalinde::stats {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string number_text(double v) {
  char buf[32];
  const auto end = std::to_chars(buf, buf + sizeof buf, v).ptr;
  return std::string(buf, end);
}

// The plain sum of depth[i .. i + k), in time order.
double window_sum(std::span<const double> depth, std::size_t i, std::size_t k) {
  double s = 0;
  for (std::size_t j = i; j < i + k; ++j) s += depth[j];
  return s;
}

// Least squares of ln i on ln(d + b): the sum of squared residuals, and the
// line's intercept and slope.
double log_line(std::span<const double> d, std::span<const double> y, double b, double& intercept,
                double& slope) {
  const double n = static_cast<double>(d.size());
  double mx = 0, my = 0;
  for (std::size_t j = 0; j < d.size(); ++j) {
    mx += std::log(d[j] + b);
    my += y[j];
  }
  mx /= n;
  my /= n;
  double sxx = 0, sxy = 0;
  for (std::size_t j = 0; j < d.size(); ++j) {
    const double x = std::log(d[j] + b) - mx;
    sxx += x * x;
    sxy += x * (y[j] - my);
  }
  slope = sxy / sxx;
  intercept = my - slope * mx;
  double sse = 0;
  for (std::size_t j = 0; j < d.size(); ++j) {
    const double r = y[j] - intercept - slope * std::log(d[j] + b);
    sse += r * r;
  }
  return sse;
}

}  // namespace

bool parse_duration(std::string_view text, std::int64_t& seconds) {
  double v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end == text.data()) return false;
  const std::string_view unit(end, static_cast<std::size_t>(text.data() + text.size() - end));
  double scale = 0;
  if (unit == "s") scale = 1;
  else if (unit == "min") scale = 60;
  else if (unit == "h") scale = 3600;
  else if (unit == "d") scale = 86400;
  else return false;
  const double s = v * scale;
  // At most a year of 366 days; whole seconds only.
  if (!(s >= 1 && s <= 366.0 * 86400) || std::fabs(s - std::round(s)) > 1e-6) return false;
  seconds = static_cast<std::int64_t>(std::round(s));
  return true;
}

std::string duration_label(std::int64_t seconds) {
  if (seconds % 3600 == 0) return std::to_string(seconds / 3600) + "h";
  if (seconds % 60 == 0) return std::to_string(seconds / 60) + "min";
  return std::to_string(seconds) + "s";
}

std::string window_maxima(std::span<const std::int64_t> time, std::span<const double> depth,
                          std::int64_t step, std::span<const std::int64_t> durations,
                          const BlockRule& rule, std::vector<DurationMaxima>& out, unsigned threads) {
  out.clear();
  const std::size_t n = time.size();
  if (step <= 0) return "the record's step is unknown (give --step)";
  for (std::size_t i = 0; i < n; ++i) {
    if ((time[i] - time[0]) % step != 0)
      return "time " + format_time(time[i]) + " is not on the record's step of " +
             duration_label(step) + " from " + format_time(time[0]) + " (give --step)";
    if (depth[i] < 0)
      return "negative depth " + number_text(depth[i]) + " at " + format_time(time[i]);
  }
  for (const std::int64_t d : durations) {
    if (d < step || d % step != 0)
      return "duration " + duration_label(d) + " is not a multiple of the record's step of " +
             duration_label(step);
  }
  // The durations on the threads, each with a buffer of sums from a pool:
  // every duration's result is the same on any thread.
  out.resize(durations.size());
  std::vector<std::vector<double>> pool;
  std::mutex pool_lock;
  detail::parallel_for(durations.size(), threads, [&](std::size_t di) {
    std::vector<double> sums;
    {
      const std::lock_guard<std::mutex> guard(pool_lock);
      if (!pool.empty()) {
        sums = std::move(pool.back());
        pool.pop_back();
      }
    }
    sums.resize(n);
    const std::int64_t d = durations[di];
    const std::size_t k = static_cast<std::size_t>(d / step);
    // Windows end at j and start at j - k + 1; run counts the steps before and
    // at j that are present, not missing and consecutive. The sum runs in
    // extended precision and is summed afresh every 4096 steps of a run, so
    // it never drifts far from the plain sum.
    std::fill(sums.begin(), sums.end(), kNaN);
    std::size_t run = 0, valid = 0;
    long double s = 0;
    for (std::size_t j = 0; j < n; ++j) {
      if (std::isnan(depth[j])) {
        run = 0;
        continue;
      }
      if (run > 0 && time[j] - time[j - 1] == step) {
        ++run;
      } else {
        run = 1;
        s = 0;
      }
      s += depth[j];
      if (run > k) s -= depth[j - k];
      if (run >= k) {
        if (run % 4096 == 0) {
          s = 0;
          for (std::size_t i = j + 1 - k; i <= j; ++i) s += depth[i];
        }
        sums[j + 1 - k] = static_cast<double>(s);
        ++valid;
      }
    }
    BlockMaxima bm = block_maxima(time, sums, rule);
    DurationMaxima& dm = out[di];
    dm.duration = d;
    dm.n_windows = valid;
    for (const BlockCount& c : bm.dropped) dm.n_windows -= c.present;
    for (BlockMax& m : bm.maxima) {
      const auto at = std::lower_bound(time.begin(), time.end(), m.time) - time.begin();
      m.value = window_sum(depth, static_cast<std::size_t>(at), k);
    }
    dm.maxima = std::move(bm.maxima);
    dm.dropped = std::move(bm.dropped);
    const std::lock_guard<std::mutex> guard(pool_lock);
    pool.push_back(std::move(sums));
  });
  return "";
}

IdfFormula fit_idf_formula(std::span<const double> duration_h, std::span<const double> intensity) {
  IdfFormula f;
  const std::size_t n = duration_h.size();
  if (n < 3 || intensity.size() != n) return f;
  std::vector<double> y(n);
  double dmin = std::numeric_limits<double>::infinity(), dmax = 0;
  for (std::size_t j = 0; j < n; ++j) {
    if (!(duration_h[j] > 0 && intensity[j] > 0) || !std::isfinite(intensity[j])) return f;
    y[j] = std::log(intensity[j]);
    dmin = std::min(dmin, duration_h[j]);
    dmax = std::max(dmax, duration_h[j]);
  }
  if (dmin == dmax) return f;
  double q = 0, m = 0;
  const auto sse = [&](double b) { return log_line(duration_h, y, b, q, m); };
  // A grid of b from 0 and then geometrically over 1e-3 dmin .. 100 dmax, then
  // golden sections inside the best point's neighbours.
  constexpr int kGrid = 400;
  std::vector<double> grid(kGrid + 1);
  grid[0] = 0;
  const double lo = 1e-3 * dmin, hi = 100 * dmax;
  for (int k = 1; k <= kGrid; ++k) grid[k] = lo * std::pow(hi / lo, (k - 1) / double(kGrid - 1));
  int best = 0;
  double best_sse = sse(0);
  for (int k = 1; k <= kGrid; ++k) {
    const double v = sse(grid[k]);
    if (v < best_sse) best_sse = v, best = k;
  }
  double a = grid[std::max(best - 1, 0)], b = grid[std::min(best + 1, kGrid)];
  const double r = (std::sqrt(5.0) - 1) / 2;
  double x1 = b - r * (b - a), x2 = a + r * (b - a);
  double f1 = sse(x1), f2 = sse(x2);
  for (int it = 0; it < 200 && b - a > 1e-14 * (1 + b); ++it) {
    if (f1 < f2) {
      b = x2, x2 = x1, f2 = f1, x1 = b - r * (b - a), f1 = sse(x1);
    } else {
      a = x1, x1 = x2, f1 = f2, x2 = a + r * (b - a), f2 = sse(x2);
    }
  }
  double bopt = f1 < f2 ? x1 : x2, sopt = std::min(f1, f2);
  if (best_sse <= sopt) bopt = grid[best], sopt = best_sse;
  sopt = sse(bopt);
  f.ok = std::isfinite(sopt);
  f.b = bopt;
  f.c = -m;
  f.a = std::exp(q);
  f.rms_log = std::sqrt(sopt / static_cast<double>(n));
  return f;
}

namespace {

using Theta = std::array<double, kScalingParams>;

// The composite log-likelihood of the intensities over `unit` at theta =
// (mu0, ln sigma0, xi, alpha, delta), with its gradient and Hessian, from the
// GEV terms of y = x / s(d): ln f(x) = ln g(y) - ln s, and y depends on
// alpha and delta through ln s, whose derivatives a and b enter by the chain
// rule (dl/dy = -dl/dmu). With `scores`, each observation's gradient.
struct ScalingLoglik {
  const ScalingData& data;
  double unit;
  std::vector<Theta>* scores = nullptr;

  bool operator()(const Theta& t, Derivs<kScalingParams>& d, bool hessian = true) const {
    using namespace gev_kernel;
    const double mu = t[0], lsg = t[1], xi = t[2], alpha = t[3], delta = t[4];
    for (const double v : t)
      if (!std::isfinite(v)) return false;
    const double r0 = data.reference_hours + delta;
    if (!(xi > -1) || !(r0 > 0)) return false;
    const double isg = std::exp(-lsg), lr0 = std::log(r0), ir0 = 1 / r0;
    const std::size_t n = data.x.size();
    alignas(64) double z[kChunk], u[kChunk], yv[kChunk], t10[10][kChunk];
    double aa[kChunk], ad[kChunk], bad[kChunk], bdd[kChunk], ls[kChunk];
    Derivs<kScalingParams> s{};
    if (scores) scores->assign(n, Theta{});
    for (std::size_t b = 0; b < n; b += kChunk) {
      const std::size_t m = std::min(kChunk, n - b);
      for (std::size_t j = 0; j < m; ++j) {
        const double rd = data.hours[b + j] + delta;
        if (!(rd > 0)) return false;
        const double lrd = std::log(rd) - lr0, ird = 1 / rd;
        ls[j] = -alpha * lrd;
        aa[j] = -lrd;                          // d ln s / d alpha
        ad[j] = -alpha * (ird - ir0);          // d ln s / d delta
        bad[j] = -(ird - ir0);                 // d2 ln s / d alpha d delta
        bdd[j] = alpha * (ird * ird - ir0 * ir0);
        yv[j] = data.x[b + j] / unit * std::exp(-ls[j]);
        z[j] = (yv[j] - mu) * isg;
        u[j] = xi * z[j];
        if (!(u[j] > -1) || !std::isfinite(z[j])) return false;
      }
      const std::size_t m8 = std::min(kChunk, (m + 7) / 8 * 8);
      for (std::size_t j = m; j < m8; ++j) z[j] = z[m - 1], u[j] = u[m - 1];
      gev_terms<kBoth, true>(z, u, 0, m8, xi, t10);
      for (std::size_t j = 0; j < m; ++j) {
        const double y = yv[j];
        const double gy = t10[1][j] * isg;  // dl/dy
        const double a[2] = {aa[j], ad[j]};
        const double bb[2][2] = {{0, bad[j]}, {bad[j], bdd[j]}};
        const double g[5] = {-t10[1][j] * isg, -t10[2][j] - 1, t10[3][j], -a[0] * (1 + y * gy),
                             -a[1] * (1 + y * gy)};
        s.l += t10[0][j] - lsg - ls[j];
        for (int k = 0; k < 5; ++k) s.g[k] += g[k];
        if (scores)
          for (int k = 0; k < 5; ++k) (*scores)[b + j][k] = g[k];
        if (!hessian) continue;
        const double hmm = t10[4][j] * isg * isg, hms = t10[5][j] * isg, hmx = t10[6][j] * isg;
        const double th[3][3] = {{hmm, hms, hmx}, {hms, t10[7][j], t10[8][j]}, {hmx, t10[8][j], t10[9][j]}};
        // d2l/dy dtheta = -d2l/dmu dtheta; d2l/dy2 = d2l/dmu2.
        for (int p = 0; p < 3; ++p) {
          for (int q = 0; q < 3; ++q) s.h[p][q] += th[p][q];
          for (int e = 0; e < 2; ++e) s.h[p][3 + e] += y * a[e] * th[0][p];
        }
        for (int e = 0; e < 2; ++e)
          for (int f = 0; f < 2; ++f)
            s.h[3 + e][3 + f] += hmm * y * y * a[e] * a[f] + gy * y * (a[e] * a[f] - bb[e][f]) - bb[e][f];
      }
    }
    if (!std::isfinite(s.l)) return false;
    for (int p = 0; p < 5; ++p) {
      if (!std::isfinite(s.g[p])) return false;
      for (int q = 0; q < p; ++q) s.h[p][q] = s.h[q][p];
    }
    d.l = s.l;
    d.g = s.g;
    if (hessian) d.h = s.h;
    return true;
  }
};

// Simple scaling: a likelihood of the five parameters with delta (the last)
// held at 0, as a function of the first four.
template <class Full>
struct DeltaAtZero {
  Full full;
  bool operator()(const std::array<double, 4>& t, Derivs<4>& d, bool hessian = true) const {
    Derivs<kScalingParams> f;
    if (!full({t[0], t[1], t[2], t[3], 0.0}, f, hessian)) return false;
    d.l = f.l;
    for (int p = 0; p < 4; ++p) {
      d.g[p] = f.g[p];
      for (int q = 0; q < 4; ++q) d.h[p][q] = f.h[p][q];
    }
    return true;
  }
};

// The likelihood in theta' = (z, ln sigma0, xi, alpha, delta), z the T-year
// intensity of duration d over `unit`: mu0 = z E - sigma0 y_T(xi) with
// E = 1 / s(d) = e^(alpha L), L = ln(d + delta) - ln(d0 + delta). The
// derivatives follow by the chain rule through mu0, the only parameter that
// depends on theta' other than by identity.
struct IntensityLoglik {
  ScalingLoglik full;
  double d, y0;

  bool operator()(const Theta& t, Derivs<kScalingParams>& out, bool hessian = true) const {
    const double z = t[0], lsg = t[1], xi = t[2], alpha = t[3], delta = t[4];
    const double r = d + delta, r0 = full.data.reference_hours + delta;
    if (!(r > 0 && r0 > 0)) return false;
    const double L = std::log(r) - std::log(r0), L1 = 1 / r - 1 / r0, L2 = 1 / (r0 * r0) - 1 / (r * r);
    const double E = std::exp(alpha * L), sg = std::exp(lsg);
    double p = 0, dp = 0, ddp = 0;
    gev_kernel::psi1(xi * y0, p, dp, ddp);
    const double yt = y0 * p, yt1 = y0 * y0 * dp, yt2 = y0 * y0 * y0 * ddp;
    const double mu = z * E - sg * yt;
    Derivs<kScalingParams> f;
    if (!full({mu, lsg, xi, alpha, delta}, f, hessian)) return false;
    const double j0[5] = {E, -sg * yt, -sg * yt1, z * L * E, z * alpha * L1 * E};
    out.l = f.l;
    for (int a = 0; a < 5; ++a) out.g[a] = f.g[0] * j0[a] + (a > 0 ? f.g[a] : 0);
    if (!hessian) return true;
    double m2[5][5] = {};
    m2[0][3] = m2[3][0] = L * E;
    m2[0][4] = m2[4][0] = alpha * L1 * E;
    m2[1][1] = -sg * yt;
    m2[1][2] = m2[2][1] = -sg * yt1;
    m2[2][2] = -sg * yt2;
    m2[3][3] = z * L * L * E;
    m2[3][4] = m2[4][3] = z * L1 * E * (1 + alpha * L);
    m2[4][4] = z * alpha * E * (L2 + alpha * L1 * L1);
    // J has row 0 = j0 and the identity below it, from column 1 on.
    for (int a = 0; a < 5; ++a)
      for (int b = 0; b < 5; ++b) {
        const double ja[5] = {j0[a], a == 1 ? 1.0 : 0.0, a == 2 ? 1.0 : 0.0, a == 3 ? 1.0 : 0.0, a == 4 ? 1.0 : 0.0};
        const double jb[5] = {j0[b], b == 1 ? 1.0 : 0.0, b == 2 ? 1.0 : 0.0, b == 3 ? 1.0 : 0.0, b == 4 ? 1.0 : 0.0};
        double h = f.g[0] * m2[a][b];
        for (int u = 0; u < 5; ++u)
          for (int v = 0; v < 5; ++v) h += ja[u] * f.h[u][v] * jb[v];
        out.h[a][b] = h;
      }
    return true;
  }
};

ScalingFit scaling_failure(std::string why) {
  ScalingFit f;
  f.error = std::move(why);
  return f;
}

}  // namespace

namespace {

// The fit at its maximum theta: log-likelihood, covariances and the
// parameters in the user's units.
ScalingFit finish_scaling(const ScalingData& data, ScalingFit out, const Theta& theta) {
  const std::size_t n = data.x.size();
  const bool general = out.general;
  Derivs<kScalingParams> d;
  if (theta[2] < -0.999) return scaling_failure("the likelihood has no interior maximum: the shape runs to -1");
  std::vector<Theta> scores;
  ScalingLoglik with_scores{data, out.unit, &scores};
  if (!with_scores(theta, d)) return scaling_failure("maximum likelihood of the scaling model did not converge");
  out.theta = theta;
  out.loglik = d.l - static_cast<double>(n) * std::log(out.unit);  // in the user's units
  // Covariances: of the free parameters, the inverse observed information,
  // and the sandwich H^-1 V H^-1 with V the sum over years of the outer
  // products of the year's total score.
  const std::size_t k = general && !out.delta_at_zero ? 5 : 4;
  Matrix5 info{}, cov{}, robust{};
  std::vector<Theta> per_cluster;
  for (std::size_t i = 0; i < n; ++i) {
    if (data.cluster[i] >= per_cluster.size()) per_cluster.resize(data.cluster[i] + 1, Theta{});
    for (std::size_t p = 0; p < k; ++p) per_cluster[data.cluster[i]][p] += scores[i][p];
  }
  bool inverted = false;
  if (k == 5) {
    inverted = inverse_information<5>(d.h, cov);
  } else {
    std::array<std::array<double, 4>, 4> h4{}, c4{};
    for (std::size_t p = 0; p < 4; ++p)
      for (std::size_t q = 0; q < 4; ++q) h4[p][q] = d.h[p][q];
    inverted = inverse_information<4>(h4, c4);
    for (std::size_t p = 0; p < 4; ++p)
      for (std::size_t q = 0; q < 4; ++q) cov[p][q] = c4[p][q];
  }
  if (!inverted) return scaling_failure("the scaling model's information is not positive definite");
  Matrix5 v{};
  for (const Theta& c : per_cluster)
    for (std::size_t p = 0; p < k; ++p)
      for (std::size_t q = 0; q < k; ++q) v[p][q] += c[p] * c[q];
  for (std::size_t p = 0; p < k; ++p)
    for (std::size_t q = 0; q < k; ++q) {
      double sum = 0;
      for (std::size_t a = 0; a < k; ++a)
        for (std::size_t b = 0; b < k; ++b) sum += cov[p][a] * v[a][b] * cov[b][q];
      robust[p][q] = sum;
    }
  (void)info;
  // To the user's units: mu0 = unit theta0, sigma0 = unit e^theta1.
  const double sigma0 = out.unit * std::exp(theta[1]);
  out.param = {out.unit * theta[0], sigma0, theta[2], theta[3], theta[4]};
  const Theta jac{out.unit, sigma0, 1, 1, 1};
  for (std::size_t p = 0; p < 5; ++p)
    for (std::size_t q = 0; q < 5; ++q) {
      out.cov[p][q] = jac[p] * jac[q] * cov[p][q];
      out.cov_robust[p][q] = jac[p] * jac[q] * robust[p][q];
    }
  for (std::size_t p = 0; p < 5; ++p) {
    out.se[p] = p < k ? std::sqrt(out.cov[p][p]) : 0.0;
    out.se_robust[p] = p < k ? std::sqrt(out.cov_robust[p][p]) : 0.0;
  }
  out.ok = true;
  return out;
}

ScalingFit fit_scaling_from_start(const ScalingData& data, bool general, ScalingFit* simple) {
  const std::size_t n = data.x.size();
  if (n < 10) return scaling_failure("too few maxima for the scaling model: " + std::to_string(n));
  // The start: alpha from the slope of the durations' mean intensities
  // against the duration on log-log axes, then the L-moment GEV of the
  // intensities rescaled to the reference duration.
  std::vector<double> dur, mean;
  for (std::size_t i = 0; i < n; ++i) {
    if (!(data.x[i] > 0) || !std::isfinite(data.x[i]))
      return scaling_failure("the scaling model needs positive intensities");
    const auto at = std::find(dur.begin(), dur.end(), data.hours[i]) - dur.begin();
    if (at == static_cast<std::ptrdiff_t>(dur.size())) dur.push_back(data.hours[i]), mean.push_back(0);
    mean[at] += data.x[i];
  }
  if (dur.size() < 2) return scaling_failure("the scaling model needs at least two durations");
  std::vector<double> count(dur.size(), 0);
  for (std::size_t i = 0; i < n; ++i) count[std::find(dur.begin(), dur.end(), data.hours[i]) - dur.begin()] += 1;
  double mx = 0, my = 0;
  for (std::size_t k = 0; k < dur.size(); ++k) {
    mean[k] /= count[k];
    mx += std::log(dur[k]) / dur.size();
    my += std::log(mean[k]) / dur.size();
  }
  double sxx = 0, sxy = 0;
  for (std::size_t k = 0; k < dur.size(); ++k) {
    sxx += (std::log(dur[k]) - mx) * (std::log(dur[k]) - mx);
    sxy += (std::log(dur[k]) - mx) * (std::log(mean[k]) - my);
  }
  const double alpha0 = std::clamp(-sxy / sxx, 0.05, 0.95);
  std::vector<double> y(n);
  for (std::size_t i = 0; i < n; ++i) y[i] = data.x[i] * std::pow(data.hours[i] / data.reference_hours, alpha0);
  std::sort(y.begin(), y.end());
  const GevEstimate lm = fit_gev_lmom(y);
  if (!lm.ok) return scaling_failure("the scaling model has no start: " + lm.error);
  ScalingFit out;
  out.general = general;
  out.unit = lm.d.loc;
  if (!(out.unit > 0)) out.unit = y[n / 2];
  const ScalingLoglik full{data, out.unit};
  Theta theta{lm.d.loc / out.unit, std::log(lm.d.scale / out.unit), std::clamp(lm.d.shape, -0.4, 0.4),
              alpha0, 0};
  // Simple scaling first; general scaling from its maximum with a small delta.
  std::array<double, 4> t4{theta[0], theta[1], theta[2], theta[3]};
  Derivs<4> d4;
  const MaxResult r4 = maximize<4>(DeltaAtZero<ScalingLoglik>{full}, t4, d4, 0);
  if (!r4.ok) return scaling_failure("maximum likelihood of the scaling model did not converge");
  for (int p = 0; p < 4; ++p) theta[p] = t4[p];
  theta[4] = 0;
  out.iterations = r4.iterations;
  if (general && simple != nullptr) {
    ScalingFit s = out;
    s.general = false;
    *simple = finish_scaling(data, std::move(s), theta);
  }
  Derivs<kScalingParams> d;
  if (general) {
    Theta tg = theta;
    tg[4] = 0.05 * *std::min_element(dur.begin(), dur.end());
    const MaxResult rg = maximize<kScalingParams>(full, tg, d, 0);
    if (rg.ok && tg[4] > 0) {
      theta = tg;
      out.iterations += rg.iterations;
    } else {
      out.delta_at_zero = true;  // the maximum over delta >= 0 is at 0
    }
  }
  return finish_scaling(data, std::move(out), theta);
}

}  // namespace

ScalingFit fit_scaling(const ScalingData& data, bool general, ScalingFit* simple) {
  if (simple != nullptr) *simple = ScalingFit{};
  ScalingFit f = fit_scaling_from_start(data, general, simple);
  // A failure before simple scaling had its maximum is its failure too.
  if (simple != nullptr && !simple->ok && simple->error.empty()) {
    *simple = f;
    simple->general = false;
  }
  return f;
}

namespace {

// The T-year intensity of duration `hours` and its gradient in (mu0, sigma0,
// xi, alpha, delta).
double intensity_gradient(const ScalingFit& f, double reference_hours, double hours, double period,
                          std::array<double, kScalingParams>& g) {
  const double mu0 = f.param[0], sigma0 = f.param[1], xi = f.param[2], alpha = f.param[3], delta = f.param[4];
  const double y0 = dist::gumbel_period_reduced(period);
  const double lrd = std::log(hours + delta) - std::log(reference_hours + delta);
  const double s = std::exp(-alpha * lrd);
  const double yt = dist::gev_reduced(xi, y0);
  double p = 0, dp = 0, ddp = 0;
  gev_kernel::psi1(xi * y0, p, dp, ddp);
  const double i = s * (mu0 + sigma0 * yt);
  g = {s, s * yt, s * sigma0 * y0 * y0 * dp, -lrd * i,
       -alpha * (1 / (hours + delta) - 1 / (reference_hours + delta)) * i};
  return i;
}

double quadratic_form(const std::array<double, kScalingParams>& g, const Matrix5& c) {
  double v = 0;
  for (std::size_t a = 0; a < kScalingParams; ++a)
    for (std::size_t b = 0; b < kScalingParams; ++b) v += g[a] * c[a][b] * g[b];
  return std::max(v, 0.0);
}

double scaling_intensity_model_se(const ScalingFit& f, double reference_hours, double hours, double period) {
  std::array<double, kScalingParams> g{};
  intensity_gradient(f, reference_hours, hours, period, g);
  return std::sqrt(quadratic_form(g, f.cov));
}

}  // namespace

Estimate scaling_intensity(const ScalingFit& f, double reference_hours, double hours, double period,
                           double z) {
  Estimate e;
  if (!f.ok) return e;
  std::array<double, kScalingParams> g{};
  e.value = intensity_gradient(f, reference_hours, hours, period, g);
  e.se = std::sqrt(quadratic_form(g, f.cov_robust));
  e.lower = e.value - z * e.se;
  e.upper = e.value + z * e.se;
  return e;
}

ProfileInterval scaling_intensity_profile(const ScalingFit& f, const ScalingData& data, double hours,
                                          double period, double confidence) {
  ProfileInterval out;
  if (!f.ok) return out;
  const double z = dist::normal_two_sided(confidence);
  const Estimate e = scaling_intensity(f, data.reference_hours, hours, period, z);
  // The composite likelihood's curvature overstates the information: the
  // critical value is scaled by the ratio of the robust to the model-based
  // variance of the intensity.
  const double model_se = scaling_intensity_model_se(f, data.reference_hours, hours, period);
  const double ratio = model_se > 0 ? (e.se * e.se) / (model_se * model_se) : 1;
  const double crit = dist::chi2_1_quantile(confidence) * ratio;
  const ScalingLoglik full{data, f.unit};
  const IntensityLoglik lik{full, hours, dist::gumbel_period_reduced(period)};
  const double lhat = f.loglik + static_cast<double>(data.x.size()) * std::log(f.unit);
  const double se = e.se / f.unit;
  const auto limit = [](const ProfileLimit& l, double unit) {
    ProfileLimit u = l;
    u.value *= unit;
    return u;
  };
  // The profile on the boundary delta = 0 (all of it for simple scaling).
  const DeltaAtZero<IntensityLoglik> simple{lik};
  const std::array<double, 4> hat4{e.value / f.unit, f.theta[1], f.theta[2], f.theta[3]};
  // A trial intensity far from the estimate moves the location so far that
  // some maxima fall outside the support: widen the scale (which also lowers
  // the location at a fixed intensity), then try the Gumbel shape.
  const auto widen = [](const auto& f, auto t) {
    Derivs<std::tuple_size_v<decltype(t)>> d;
    for (int k = 0; k < 60 && !f(t, d, false); ++k) {
      t[1] += 0.25;
      if (k == 30) t[2] = 0;
    }
    return t;
  };
  const auto repair4 = [&](const std::array<double, 4>& t) { return widen(simple, t); };
  const auto boundary = [&](int dir) {
    return limit(profile_bound<4>(simple, repair4, hat4, lhat, se, crit, dir, dir < 0 ? 0.0 : INFINITY),
                 f.unit);
  };
  if (!f.general || f.delta_at_zero) {
    out.lower = boundary(-1);
    out.upper = boundary(+1);
    return out;
  }
  // General scaling: delta >= 0. Where the nuisance parameters' maximum at
  // an end point leaves that range, the maximum over delta >= 0 lies on the
  // boundary, and so does the end point.
  const Theta hat{e.value / f.unit, f.theta[1], f.theta[2], f.theta[3], f.theta[4]};
  const auto repair = [&](const Theta& t) { return widen(lik, t); };
  for (const int dir : {-1, +1}) {
    Theta end{};
    end[4] = NAN;
    ProfileLimit b = profile_bound<5>(lik, repair, hat, lhat, se, crit, dir, dir < 0 ? 0.0 : INFINITY, 1e-12,
                                      nullptr, &end);
    b = !std::isnan(b.value) && !(end[4] >= 0) ? boundary(dir) : limit(b, f.unit);
    (dir < 0 ? out.lower : out.upper) = b;
  }
  return out;
}

ScalingTest scaling_test(const ScalingFit& general, const ScalingFit& simple) {
  ScalingTest t;
  t.statistic = std::max(0.0, 2 * (general.loglik - simple.loglik));
  t.p = boost::math::gamma_q(0.5, 0.5 * t.statistic);
  t.p_mixture = t.statistic > 0 ? 0.5 * t.p : 1.0;
  return t;
}

}  // namespace korvalinde::stats
