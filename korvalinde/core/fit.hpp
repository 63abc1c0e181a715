// Fitting one whole sample: the histogram least-squares fit, maximum
// likelihood, L-moments and their statistics. Re-entrant: any number of
// threads may fit different samples at once.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "korvalinde/core/options.hpp"
#include "korvalinde/records/result.hpp"

namespace korvalinde {

namespace stats {
class GofNullCache;
}

struct FitOptions {
  int bins = kDefaultBins;     // 1 .. kMaxBinsFit
  double prob = kDefaultProb;  // DPA_CUT probability, in (0, 1]
  bool ls = true, mle = true, lmom = true;
  bool gumbel = true;         // the Gumbel in full; else fitted without its profile bounds
  bool gev = false;           // the GEV in full (mle and lmom)
  // The families in full in the order asked for: the first with a result
  // leads the summaries, unless the Gumbel check rejects the Gumbel and the
  // GEV has one. Empty: the Gumbel, then the GEV.
  std::vector<std::string> order;
  double confidence = 0.95;   // of every interval, in (0, 1)
  bool profiles = true;       // maximum likelihood's profile-likelihood bounds (the costly part)
  std::vector<double> periods{kDefaultPeriods.begin(), kDefaultPeriods.end()};
  std::optional<double> level;  // adds the return period of this level
  int bootstrap = 0;            // replicates B
  std::uint64_t seed = 0;
  unsigned threads = 1;         // for the bootstrap; results never depend on it
  // Polled during the bootstrap; true abandons the fit (its result is then
  // meaningless). Lets an interactive caller stop a long call.
  std::function<bool()> interrupted;
  // Null laws of the goodness-of-fit p-values shared by the fits of one run
  // (same options): samples of the same size simulate them once.
  stats::GofNullCache* gof_null_cache = nullptr;
  // The GEV methods' p-values of D, W^2 and A^2 (simulated at each fit's
  // shape, so not shared between fits).
  bool gev_gof_p = true;
  // The Gumbel methods' p-values of D, W^2 and A^2 (false: none, their cost spared).
  bool gof_p = true;
  // Those p-values (of either family) from the limit laws of known
  // parameters instead of simulated: fast, approximate and high.
  bool gof_p_limit = false;
  // Every family's standard errors and intervals, and its goodness of fit
  // (false: none, their cost spared).
  bool se = true, gof = true;
  // The further families' comparison (AIC, L-moment distances, the best of
  // each); false spares it where nothing shows it.
  bool compare = true;
};

// What a picture of the fit needs besides the result.
struct FitDetail {
  std::vector<double> centres, densities;  // histogram cells
  double minimum = 0, dx = 0;              // left edge of the first cell, width
  std::vector<double> sorted;              // the sample in ascending order
};

// Whether `m` is asked for; the flag itself.
inline bool& uses(FitOptions& o, Method m) {
  return m == Method::ls ? o.ls : m == Method::mle ? o.mle : o.lmom;
}

// The result of method `m`.
inline const MethodResult& result_of(const FitResult& r, Method m) {
  return m == Method::ls ? r.ls : m == Method::mle ? r.mle : r.lmom;
}

// The headline of a finished fit under these options (see FitOptions::order).
Headline choose_headline(const FitResult& result, const FitOptions& options);

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
