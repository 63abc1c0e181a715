#include "korvalinde/core/histogram.hpp"

#include <algorithm>
#include <cmath>

namespace korvalinde {

void extremes(std::span<const double> values, double& lo, double& hi, bool sorted) {
  if (sorted) {
    // The same numbers as below, but for the sign of a zero extreme, which
    // no width, cell or centre computed from them shows.
    lo = values.front();
    hi = values.back();
    return;
  }
  lo = values[0];
  hi = values[0];
  for (const double v : values) {
    if (v < lo) lo = v;
    if (v > hi) hi = v;
  }
}

BinCheck check_binning(std::span<const double> values, int bins, int max_bins, int max_cells,
                       bool sorted) {
  if (bins < 1 || bins > max_bins) return BinCheck::BadBinCount;
  bool usable = values.size() >= 2;
  if (usable) {
    double lo, hi;
    extremes(values, lo, hi, sorted);
    const double range = hi - lo;
    const double dx = range / bins;
    // M = int(range / dx) + 1 cells must stay below max_cells + 1.
    usable = std::isfinite(range) && range > 0 && dx > 0 && range / dx < max_cells;
  }
  return usable ? BinCheck::Ok : BinCheck::NoRange;
}

void histogram_cells(std::span<const double> values, int bins, double& minimum, double& maximum,
                     double& dx, int& m, bool sorted) {
  extremes(values, minimum, maximum, sorted);
  dx = (maximum - minimum) / bins;
  m = static_cast<int>((maximum - minimum) / dx) + 1;
}

void build_histogram(std::span<const double> values, int bins, HistogramOut out, double params[2],
                     double& minimum, double& dx, int& m, bool sorted) {
  double maximum;
  histogram_cells(values, bins, minimum, maximum, dx, m, sorted);
  params[1] = (maximum - minimum) / 5;

  double* const yt = out.counts.data();
  std::fill_n(yt, m, 0.0);
  auto cell = [&](double v) { return static_cast<int>((v - minimum) / dx); };
  if (sorted) {
    // The cell is a non-decreasing function of the value: each cell's values
    // are a run, found by bisection.
    for (auto from = values.begin(); from != values.end();) {
      const int k = cell(*from);
      const auto to = std::partition_point(from, values.end(), [&](double v) { return cell(v) <= k; });
      yt[k] += static_cast<double>(to - from);
      from = to;
    }
  } else {
    for (const double v : values) yt[cell(v)] += 1;
  }
  if (!out.raw.empty()) std::copy_n(yt, m, out.raw.data());

  // Interior empty cells take the mean of the nearest positive counts on
  // either side; a cell filled earlier in this pass counts as a positive
  // neighbour. Each fill adds its integer part to the total. Cells right of
  // the current one are not filled yet, so the right neighbour found for one
  // empty cell serves the whole run of empty cells before it.
  auto total = static_cast<std::int64_t>(values.size());
  int right_at = 0;  // 1-based cell of the right neighbour, m + 1 for none
  for (int i = 1; i <= m; ++i) {
    if (yt[i - 1] > 0 || i == 1 || i == m) continue;
    double left = 0;
    for (int j = i - 1; j >= 1; --j) {
      if (yt[j - 1] > 0) {
        left = yt[j - 1];
        break;
      }
    }
    if (right_at <= i) {
      right_at = i + 1;
      while (right_at <= m && !(yt[right_at - 1] > 0)) ++right_at;
    }
    const double right = right_at <= m ? yt[right_at - 1] : 0;
    yt[i - 1] = 0.5 * (left + right);
    total = static_cast<std::int64_t>(static_cast<double>(total) + yt[i - 1]);
  }

  const auto n = static_cast<double>(total);
  for (int i = 1; i <= m; ++i) {
    out.y[i - 1] = yt[i - 1] / n / dx;
    out.x[i - 1] = dx * (i - 0.5) + minimum;
  }

  double best = out.y[0];
  params[0] = out.x[0];
  for (int i = 1; i <= m; ++i) {
    if (out.y[i - 1] > best) {
      best = out.y[i - 1];
      params[0] = out.x[i - 1];
    }
  }
}

}  // namespace korvalinde
