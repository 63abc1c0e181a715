// Goodness of fit of a sample against a fitted Gumbel or GEV distribution.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "korvalinde/dist/gev.hpp"
#include "korvalinde/records/result.hpp"

namespace korvalinde::stats {

// The histogram cells: cell i (0-based) spans [minimum + i dx,
// minimum + (i + 1) dx); counts holds the raw number of values per cell.
struct Cells {
  double minimum = 0;
  double dx = 0;
  std::span<const double> counts;
};

// Raw counts of the classic binning: x goes to cell int((x - minimum) / dx),
// clamped to the M cells (the last cell holds the maximum).
std::vector<double> cell_counts(std::span<const double> x, double minimum, double dx, int m);

// Kolmogorov-Smirnov D, Cramer-von Mises W^2 and Anderson-Darling A^2 of the
// ascending sample against F with (a, b); the chi-square fields are untouched.
// ln F and ln(1 - F) are computed without cancellation and never below the
// log of the smallest double (see gumbel.hpp), so A^2 stays finite. Sums in
// fixed blocks: the result does not depend on `threads`.
void edf_statistics(std::span<const double> sorted, double a, double b, Gof& gof,
                    unsigned threads = 1);

// Binned chi-square: expected count n (F(right) - F(left)) per cell, the
// first cell open to -inf and the last to +inf; cells merge left to right
// until a group expects >= 5, a remainder below 5 joins the last group.
// X^2 = sum (O - E)^2 / E, df = groups - 3, p the upper tail (NaN if df < 1).
// n is the sample size (the sum of the counts).
void chi_square(const Cells& cells, std::size_t n, double a, double b, Gof& gof);

// The same statistics against a GEV; the chi-square has df = groups - 4.
void edf_statistics(std::span<const double> sorted, const dist::Gev& d, Gof& gof,
                    unsigned threads = 1);
void chi_square(const Cells& cells, std::size_t n, const dist::Gev& d, Gof& gof);

}  // namespace korvalinde::stats
