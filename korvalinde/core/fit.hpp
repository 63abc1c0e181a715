// Fitting one whole sample: the histogram least-squares fit, maximum
// likelihood, L-moments and their statistics. Re-entrant: any number of
// threads may fit different samples at once.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "korvalinde/records/result.hpp"

namespace korvalinde {

struct FitOptions {
  int bins = 50;       // 1 .. 1,000,000
  double prob = 0.99;  // DPA_CUT probability, in (0, 1]
  bool ls = true, mle = true, lmom = true;
  bool gev = false;           // the GEV in full besides the Gumbel (mle and lmom)
  double confidence = 0.95;   // of every interval, in (0, 1)
  std::vector<double> periods{2, 5, 10, 20, 50, 100, 200, 500, 1000};
  std::optional<double> level;  // adds the return period of this level
  int bootstrap = 0;            // replicates B
  std::uint64_t seed = 0;
  unsigned threads = 1;         // for the bootstrap; results never depend on it
};

// What a picture of the fit needs besides the result.
struct FitDetail {
  std::vector<double> centres, densities;  // histogram cells
  double minimum = 0, dx = 0;              // left edge of the first cell, width
  std::vector<double> sorted;              // the sample in ascending order
};

// Checks the options; an empty string when they are fine, else the reason.
std::string check_options(const FitOptions& options);

// Fits the values (in file order). Bad data never throws: the result then has
// ok == false and a one-line error. `name` is copied to result.file. With
// `detail`, the histogram and the sorted sample are kept there.
FitResult fit_sample(std::span<const double> values, const FitOptions& options,
                     std::string_view name, FitDetail* detail = nullptr);

// The same, sorting the caller's values in place instead of a copy of them
// (the results are the same: every statistic works on the sorted sample).
FitResult fit_sample_sorting(std::span<double> values, const FitOptions& options,
                             std::string_view name, FitDetail* detail = nullptr);

}  // namespace korvalinde
