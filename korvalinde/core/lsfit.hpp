// The histogram least-squares fit of the Gumbel density: the classic run's
// binning, start values, solver call and statistics, over caller-owned
// storage, reporting instead of ending the process when the solver fails.
#pragma once

#include <span>
#include <vector>

#include "korvalinde/core/options.hpp"

namespace korvalinde {

// Storage of one fit; reused across fits of one thread to save allocations.
struct LsWorkspace {
  std::vector<double> x, y, counts, raw, fvec, fitted, wa;
  int iwa[2] = {0, 0};
  void size_for(int max_cells);
};

struct LsFit {
  enum class Status { Ok, BadBinCount, NoRange, SolverFailed } status = Status::Ok;
  double minimum = 0, dx = 0;
  int m = 0;                  // histogram cells
  double a = 0, b = 0;
  int info = 0, nfev = 0;     // solver termination code, residual evaluations
  double sum_sq = 0, l2 = 0, serror = 0, rerror = 0;
  // Valid while the workspace is: cells, densities, raw counts, residuals.
  std::span<const double> x, y, raw, fvec;
};

// The binning fit_ls checks and uses (status, minimum, dx and m), without
// the histogram.
LsFit ls_binning(std::span<const double> values, int bins, bool sorted = false);

// Fits `values` with `bins` bins (1..kMaxBinsFit). Without `solve` only the
// histogram is built (the cells, densities and raw counts). `sorted`:
// the values are ascending, which makes the histogram cheaper.
LsFit fit_ls(std::span<const double> values, int bins, LsWorkspace& ws, bool solve = true,
             bool sorted = false);

}  // namespace korvalinde
