// Histogram density of a sample and the start values of the fit.
#pragma once

#include <cstdint>
#include <span>

namespace korvalinde {

// Smallest and largest value (the first value when the span has one). For
// `sorted` (ascending) values, the first and the last.
void extremes(std::span<const double> values, double& lo, double& hi, bool sorted = false);

enum class BinCheck { Ok, BadBinCount, NoRange };

// Rejects a bin count outside 1..max_bins, and samples that cannot be split
// into bins: fewer than two distinct values, a range that overflows, or a
// width so small that max_cells or more cells would result.
BinCheck check_binning(std::span<const double> values, int bins, int max_bins, int max_cells,
                       bool sorted = false);

// The histogram's cells of a sample that passed check_binning: its extremes,
// the bin width dx and the M cells, as build_histogram takes them.
void histogram_cells(std::span<const double> values, int bins, double& minimum, double& maximum,
                     double& dx, int& m, bool sorted = false);

// The histogram of a sample that passed check_binning, over the caller's
// arrays of at least max_cells entries: bin width dx, M cells, centres x and
// densities y, the per-cell counts (after empty interior cells were filled)
// in counts, and the start values of location and scale in params. When
// raw is not empty it receives the counts before the filling. Values known
// to be `sorted` are counted a cell at a time, by bisection: the same counts.
struct HistogramOut {
  std::span<double> x, y, counts, raw;
};
void build_histogram(std::span<const double> values, int bins, HistogramOut out, double params[2],
                     double& minimum, double& dx, int& m, bool sorted = false);

}  // namespace korvalinde
