#include "korvalinde/stats/pot.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <utility>

#include "korvalinde/detail/civil.hpp"
#include "korvalinde/detail/parallel.hpp"
#include "korvalinde/detail/sum.hpp"
#include "korvalinde/stats/analyze.hpp"
#include "korvalinde/stats/gpd_fit.hpp"

namespace korvalinde::stats {
namespace {

constexpr double kSecondsPerYear = 365.25 * detail::kSecondsPerDay;

void fill_gpd(const GpdEstimate& e, std::span<const double> sorted_excess, GpdResult& out) {
  out.present = true;
  out.ok = e.ok;
  out.error = e.error;
  if (!e.ok) return;
  out.scale = e.scale;
  out.shape = e.shape;
  out.var_scale = e.var_scale;
  out.cov = e.cov_scale_shape;
  out.var_shape = e.var_shape;
  out.se_scale = std::sqrt(e.var_scale);
  out.se_shape = std::sqrt(e.var_shape);
  out.loglik = e.loglik;
  out.iterations = e.iterations;
  out.gof = gpd_gof(sorted_excess, e.scale, e.shape);
}

// u + the excess level of N years with its delta-method error: the rate
// enters through zeta = clusters / observations, whose binomial variance is
// zeta (1 - zeta) / observations; d level / d zeta = sigma m^xi / zeta.
PotLevel return_level(const GpdResult& g, double u, double rate, double zeta, double n_obs,
                      double period) {
  PotLevel p;
  p.period = period;
  const double m = rate * period;
  if (!g.ok || !(m > 1)) return p;
  const ExcessLevel e = excess_level(g.scale, g.shape, m);
  p.level.value = u + e.value;
  const double dz = g.scale * std::pow(m, g.shape) / zeta;
  const double var = dz * dz * zeta * (1 - zeta) / n_obs + e.d_scale * e.d_scale * g.var_scale +
                     2 * e.d_scale * e.d_shape * g.cov + e.d_shape * e.d_shape * g.var_shape;
  if (var >= 0 && std::isfinite(var)) {
    p.level.se = std::sqrt(var);
    p.level.lower = p.level.value - kNormal95 * p.level.se;
    p.level.upper = p.level.value + kNormal95 * p.level.se;
  }
  return p;
}

Estimate normal(double value, double se) {
  Estimate e{value, se, kUndefined, kUndefined};
  if (std::isfinite(se)) {
    e.lower = value - kNormal95 * se;
    e.upper = value + kNormal95 * se;
  }
  return e;
}

std::vector<double> excesses(const std::vector<double>& maxima, double u) {
  std::vector<double> y;
  y.reserve(maxima.size());
  for (double v : maxima) y.push_back(v - u);
  return y;
}

// The observed years of a dated record (see PotResult): a regular record
// without gaps has a step for each value that is not missing.
void observed_time(std::span<const std::int64_t> time, std::int64_t step, std::size_t n_missing,
                   double max_gap, PotResult& out) {
  if (time.empty()) return;
  out.first = time.front();
  out.last = time.back();
  out.step = step;
  out.max_gap = max_gap > 0 ? static_cast<std::int64_t>(std::min(std::round(max_gap), 9e18))
                            : 10 * step;
  double unobserved = static_cast<double>(n_missing) * static_cast<double>(step);
  // A gap is the time between two rows less the step the first stands for.
  for (std::size_t i = 1; i < time.size(); ++i) {
    if (time[i] - time[i - 1] - step <= out.max_gap) continue;
    out.gaps.push_back({time[i - 1], time[i]});
    unobserved += static_cast<double>(time[i] - time[i - 1] - step);
  }
  const double span = static_cast<double>(out.last - out.first) + static_cast<double>(step);
  out.span_years = span / kSecondsPerYear;
  out.years = (span - unobserved) / kSecondsPerYear;
}

}  // namespace

bool parse_threshold_range(const std::string& text, ThresholdRange& r) {
  const std::size_t a = text.find(':');
  const std::size_t b = a == std::string::npos ? a : text.find(':', a + 1);
  if (b == std::string::npos) return false;
  char* end = nullptr;
  const std::string lo = text.substr(0, a), hi = text.substr(a + 1, b - a - 1), k = text.substr(b + 1);
  r.lo = std::strtod(lo.c_str(), &end);
  if (lo.empty() || *end != '\0') return false;
  r.hi = std::strtod(hi.c_str(), &end);
  if (hi.empty() || *end != '\0') return false;
  const long count = std::strtol(k.c_str(), &end, 10);
  if (k.empty() || *end != '\0' || count < 2 || count > 1000) return false;
  r.count = static_cast<int>(count);
  return std::isfinite(r.lo) && std::isfinite(r.hi) && r.lo < r.hi;
}

double sample_quantile(std::span<const double> values, double q, unsigned threads) {
  if (!(q >= 0 && q <= 1)) return kUndefined;
  // Order statistics by a radix selection, without a copy of the values:
  // count them by the top 16 bits of an order-preserving key, then sort out
  // the few in the buckets of the two order statistics needed.
  auto key = [](double x) {
    const auto b = std::bit_cast<std::uint64_t>(x == 0 ? 0.0 : x);  // -0 is 0
    return b >> 63 ? ~b : b | (std::uint64_t{1} << 63);
  };
  // Both passes run on the threads over parts of the values.
  const std::size_t parts = std::clamp<std::size_t>(values.size() >> 12, 1, 2 * std::size_t{std::max(1u, threads)});
  auto part = [&](std::size_t k) {
    return values.subspan(values.size() / parts * k,
                          k + 1 == parts ? values.size() - values.size() / parts * k : values.size() / parts);
  };
  std::vector<std::vector<std::size_t>> part_counts(parts);
  detail::parallel_for(parts, threads, [&](std::size_t k) {
    part_counts[k].assign(std::size_t{1} << 16, 0);
    for (double x : part(k)) {
      if (!std::isnan(x)) ++part_counts[k][key(x) >> 48];
    }
  });
  std::vector<std::size_t> counts = std::move(part_counts[0]);
  for (std::size_t k = 1; k < parts; ++k) {
    for (std::size_t b = 0; b < counts.size(); ++b) counts[b] += part_counts[k][b];
  }
  part_counts = {};
  const std::size_t n = std::accumulate(counts.begin(), counts.end(), std::size_t{0});
  if (n == 0) return kUndefined;
  const double h = q * static_cast<double>(n - 1);
  const auto lo = static_cast<std::size_t>(std::floor(h));
  const std::size_t hi = std::min(lo + 1, n - 1);
  std::size_t first = 0, before = 0;  // the bucket of rank lo, and the values below it
  while (before + counts[first] <= lo) before += counts[first++];
  std::size_t last = first, upto = before + counts[first];  // the bucket of rank hi
  while (upto <= hi) upto += counts[++last];
  std::vector<std::vector<double>> picked(parts);
  detail::parallel_for(parts, threads, [&](std::size_t k) {
    for (double x : part(k)) {
      if (std::isnan(x)) continue;
      const std::uint64_t b = key(x) >> 48;
      if (b >= first && b <= last) picked[k].push_back(x == 0 ? 0.0 : x);
    }
  });
  std::vector<double> v;
  v.reserve(upto - before);
  for (const std::vector<double>& p : picked) v.insert(v.end(), p.begin(), p.end());
  const auto at = v.begin() + static_cast<std::ptrdiff_t>(lo - before);
  std::nth_element(v.begin(), at, v.end());
  const double below = *at;
  // The next order statistic is the smallest of those above.
  const double above = hi > lo ? *std::min_element(at + 1, v.end()) : below;
  return below + (h - static_cast<double>(lo)) * (above - below);
}

Clusters decluster(std::span<const std::int64_t> time, std::span<const double> value,
                   std::int64_t step, double u, int run) {
  Clusters c;
  std::int64_t last = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (!(value[i] > u)) continue;
    const std::int64_t at =
        time.empty() ? static_cast<std::int64_t>(i)
                     : std::llround(static_cast<double>(time[i] - time[0]) / static_cast<double>(step));
    const std::int64_t gap = at - last;
    if (c.n_exceed > 0) c.gaps.push_back(gap);
    // R steps without an exceedance between the two end the cluster; with
    // R = 0 each exceedance is one (even on a step shared by rounding).
    if (c.n_exceed == 0 || run == 0 || gap - 1 >= run) {
      c.maxima.push_back(value[i]);
      c.at.push_back(i);
    } else if (value[i] > c.maxima.back()) {
      c.maxima.back() = value[i];
      c.at.back() = i;
    }
    ++c.n_exceed;
    last = at;
  }
  return c;
}

double intervals_estimator(std::span<const std::int64_t> gaps) {
  if (gaps.size() < 2) return kUndefined;
  const std::int64_t longest = *std::max_element(gaps.begin(), gaps.end());
  detail::Sum s1, s2;
  for (std::int64_t g : gaps) {
    const auto t = static_cast<double>(g);
    if (longest <= 2) {
      s1.add(t);
      s2.add(t * t);
    } else {
      s1.add(t - 1);
      s2.add((t - 1) * (t - 2));
    }
  }
  const double theta = 2 * s1.value() * s1.value() / (static_cast<double>(gaps.size()) * s2.value());
  return std::min(1.0, theta);
}

bool analyze_pot(std::span<const std::int64_t> time, std::span<const double> value,
                 std::int64_t step, const PotOptions& o, PotResult& out, std::string& error,
                 Clusters* clusters) {
  out = PotResult{};
  out.run = o.run;
  std::size_t n_obs = 0;
  for (double v : value) n_obs += !std::isnan(v);
  if (!time.empty() && step <= 0) {
    error = "peaks over threshold need at least two distinct times";
    return false;
  }
  out.threshold = o.threshold ? *o.threshold
                              : sample_quantile(value, o.threshold_quantile.value_or(kUndefined), o.threads);
  if (!std::isfinite(out.threshold)) {
    error = "no threshold";
    return false;
  }
  const double u = out.threshold;
  observed_time(time, step, value.size() - n_obs, o.max_gap, out);
  if (o.per_year > 0) {
    out.per_year = o.per_year;
    out.years = static_cast<double>(n_obs) / o.per_year;
  }
  if (!(out.years > 0)) {
    error = "no observed time";
    return false;
  }
  // The observations the rate is a share of: one a step of observed time.
  const double n_steps = o.per_year > 0 ? static_cast<double>(n_obs)
                                        : out.years * kSecondsPerYear / static_cast<double>(step);

  Clusters c = decluster(time, value, step, u, o.run);
  out.n_exceed = c.n_exceed;
  out.n_clusters = c.maxima.size();
  if (c.n_exceed > 0) out.ei_runs = static_cast<double>(out.n_clusters) / static_cast<double>(c.n_exceed);
  out.ei_intervals = intervals_estimator(c.gaps);
  out.rate_per_year = static_cast<double>(out.n_clusters) / out.years;
  const double zeta = static_cast<double>(out.n_clusters) / n_steps;

  std::vector<double> y = excesses(c.maxima, u);
  std::vector<double> sorted = y;
  std::sort(sorted.begin(), sorted.end());
  GpdEstimate mle;
  if (o.mle) {
    mle = fit_gpd_mle(y);
    fill_gpd(mle, sorted, out.mle);
  }
  if (o.lmom) fill_gpd(fit_gpd_lmom(sorted), sorted, out.lmom);
  out.excesses = sorted;
  for (GpdResult* g : {&out.mle, &out.lmom}) {
    if (!g->present) continue;
    for (double period : o.periods)
      g->return_levels.push_back(return_level(*g, u, out.rate_per_year, zeta, n_steps, period));
  }
  // Each level's profile interval on its own thread.
  std::vector<PotLevel>& levels = out.mle.return_levels;
  detail::parallel_for(levels.size(), o.threads, [&](std::size_t i) {
    if (!std::isfinite(levels[i].level.value)) return;
    const Interval e = gpd_profile_interval(y, mle, out.rate_per_year * levels[i].period);
    levels[i].profile = {u + e.lower, u + e.upper};
  });

  if (o.range) {
    const ThresholdRange& r = *o.range;
    out.diagnostics.resize(static_cast<std::size_t>(r.count));
    detail::parallel_for(out.diagnostics.size(), o.threads, [&](std::size_t k) {
      ThresholdPoint& t = out.diagnostics[k];
      t.threshold = r.lo + (r.hi - r.lo) * static_cast<double>(k) / (r.count - 1);
      if (!std::isfinite(t.threshold)) {  // HI - LO overflows: weigh the ends instead
        const double f = static_cast<double>(k) / (r.count - 1);
        t.threshold = r.lo * (1 - f) + r.hi * f;
      }
      detail::Sum s, s2;
      for (double v : value) {
        if (!(v > t.threshold)) continue;
        ++t.n_exceed;
        s.add(v - t.threshold);
      }
      if (t.n_exceed > 0) {
        const auto n = static_cast<double>(t.n_exceed);
        const double mean = s.value() / n;
        for (double v : value) {
          if (v > t.threshold) s2.add((v - t.threshold - mean) * (v - t.threshold - mean));
        }
        t.mean_excess = normal(mean, t.n_exceed > 1 ? std::sqrt(s2.value() / (n - 1) / n) : kUndefined);
      }
      const Clusters ct = decluster(time, value, step, t.threshold, o.run);
      t.n_clusters = ct.maxima.size();
      const GpdEstimate f = fit_gpd_mle(excesses(ct.maxima, t.threshold));
      if (f.ok) {
        // sigma* = sigma - xi u does not change with u above a valid threshold.
        const double var = f.var_scale - 2 * t.threshold * f.cov_scale_shape +
                           t.threshold * t.threshold * f.var_shape;
        t.modified_scale = normal(f.scale - f.shape * t.threshold, var >= 0 ? std::sqrt(var) : kUndefined);
        t.shape = normal(f.shape, std::sqrt(f.var_shape));
      }
    });
  }
  if (out.n_clusters < 2) {
    error = "fewer than 2 clusters above the threshold";
    return false;
  }
  if (clusters != nullptr) *clusters = std::move(c);
  return true;
}

}  // namespace korvalinde::stats
