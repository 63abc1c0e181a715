#include "korvalinde/stats/idf.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "korvalinde/input/dated_csv.hpp"

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
                          const BlockRule& rule, std::vector<DurationMaxima>& out) {
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
  std::vector<double> sums(n);
  for (const std::int64_t d : durations) {
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
    DurationMaxima dm;
    dm.duration = d;
    dm.n_windows = valid;
    for (const BlockCount& c : bm.dropped) dm.n_windows -= c.present;
    for (BlockMax& m : bm.maxima) {
      const auto at = std::lower_bound(time.begin(), time.end(), m.time) - time.begin();
      m.value = window_sum(depth, static_cast<std::size_t>(at), k);
    }
    dm.maxima = std::move(bm.maxima);
    dm.dropped = std::move(bm.dropped);
    out.push_back(std::move(dm));
  }
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

}  // namespace korvalinde::stats
