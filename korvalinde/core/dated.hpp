// Fitting one series of a dated record: its block maxima (or its values) by
// the whole-sample fit, and the peaks over a threshold. Re-entrant.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
};

struct SeriesFit {
  FitResult result;
  std::vector<stats::BlockMax> maxima;  // with a block rule
};

// Fits the series; `name` is the file. The sample of the fit is the kept
// block maxima with a block rule, else the non-missing values.
SeriesFit fit_series(const Series& series, bool grouped, const DatedPlan& plan,
                     const FitOptions& options, std::string_view name, FitDetail* detail = nullptr);

// Reads the file ("-" is standard input) and fits each of its series, in
// order of first appearance. A fault of the input gives one failed result.
std::vector<SeriesFit> fit_dated_file(const std::string& name, const DatedPlan& plan,
                                      const FitOptions& options, FitDetail* detail = nullptr);

}  // namespace korvalinde
