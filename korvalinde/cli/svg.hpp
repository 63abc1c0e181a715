// The picture of one fit as a self-contained SVG 1.1 document: the histogram
// with the fitted densities, a Gumbel probability plot and a return-level
// plot, side by side, with one legend below them.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "korvalinde/records/result.hpp"

namespace korvalinde::cli {

// What the picture needs besides the fit.
struct PlotData {
  std::span<const double> centres;    // histogram cell centres X_i (M cells)
  std::span<const double> densities;  // their densities Y_i
  double minimum = kUndefined;        // left edge of the first cell
  double dx = kUndefined;             // cell width
  std::span<const double> sorted;     // the sample in ascending order
};

// What the user names in the picture.
struct PictureOptions {
  std::string title;  // default: the file's base name
  std::string units;  // of the values, shown on their axes
  std::string footer; // a small line at the foot (the run that drew it); none when empty
};

// The document; small (well under 300 KB) for any sample size or cell count,
// since points and cells are thinned. A failed fit gives a picture of the
// error message.
std::string render_svg(const FitResult& result, const PlotData& data,
                       const PictureOptions& options = {});

// The footer line of a picture `width` wide whose drawing ends at `y`: small
// grey text, cut to the width, taking kFooterHeight below `y`.
constexpr double kFooterHeight = 20;
std::string footer_svg(const std::string& footer, double y, double width);

// Axis ticks at a "nice" step (1, 2 or 5 times a power of ten), about
// `target` of them, from a multiple of the step at or below lo to one at or
// above hi; those two ends are the axis range.
struct Ticks {
  double lo = 0, hi = 1, step = 1;
  std::vector<double> values;
};
Ticks nice_ticks(double lo, double hi, int target = 6);

// The p-quantile of the i-th (0-based) of n sorted uniforms, Beta(i + 1, n - i):
// the pointwise envelope of a Q-Q plot.
double uniform_order_quantile(std::size_t i, std::size_t n, double p);

// Indices of the points kept out of n sorted ones: all when n <= max_points,
// else the `ends` lowest and highest and an even subsample of the rest.
std::vector<std::size_t> thin_indices(std::size_t n, std::size_t max_points = 2000,
                                      std::size_t ends = 100);

}  // namespace korvalinde::cli
