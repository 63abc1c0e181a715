// Fitting one series of a dated record: its block maxima (or its values) by
// the whole-sample fit, and the peaks over a threshold. Re-entrant.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "korvalinde/core/covariates.hpp"
#include "korvalinde/core/fit.hpp"
#include "korvalinde/input/dated_csv.hpp"
#include "korvalinde/stats/blocks.hpp"
#include "korvalinde/stats/pot.hpp"

namespace korvalinde {

struct DatedPlan {
  CsvOptions csv;
  std::optional<stats::BlockRule> block;  // needs times
  std::string block_name;                 // as given, for the result
  std::optional<stats::PotOptions> pot;
  // The fit on covariates and the trend tests of the maxima (needs times).
  std::optional<CovariatePlan> covariates;
};

struct SeriesFit {
  FitResult result;
  std::vector<stats::BlockMax> maxima;  // with a block rule
  FitDetail detail;  // when asked for: the histogram and sorted sample of its fit
};

// Fits the series; `name` is the file. The sample of the fit is the kept
// block maxima with a block rule, else the non-missing values.
SeriesFit fit_series(const Series& series, bool grouped, const DatedPlan& plan,
                     const FitOptions& options, std::string_view name, FitDetail* detail = nullptr);

// Reads the file ("-" is standard input) and fits each of its series,
// handing the fits to `take` one at a time in order of first appearance, as
// soon as each and all before it are done: only a few fits are held at once,
// however many series the file has. The series are fitted on up to
// options.threads threads (a file of one series uses them within its fit);
// the fits do not depend on the thread count. A fault of the input gives one
// failed result; a series whose fit throws fails alone. `take` returning
// false stops the fitting. With `keep_detail` each fit comes with its detail
// (for its picture).
void fit_dated_file(const std::string& name, const DatedPlan& plan, const FitOptions& options,
                    bool keep_detail, const std::function<bool(SeriesFit&&)>& take);

}  // namespace korvalinde
