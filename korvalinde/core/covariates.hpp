// Covariates of a dated series: the time of each maximum, or values joined
// from a table by year or date; the non-stationary fit of the series on
// them, and the trend tests of its maxima.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "korvalinde/records/result.hpp"
#include "korvalinde/stats/nonstationary.hpp"
#include "korvalinde/stats/trend.hpp"

namespace korvalinde {

// A table of covariates (--covariates FILE): its columns after the first,
// and their values by year, or by day when the first column holds dates.
// NaN: missing.
struct CovariateTable {
  std::string file;
  std::vector<std::string> names;
  bool by_day = false;
  std::map<std::int64_t, std::vector<double>> rows;  // year, or days since 1970
};

// The time covariate's name: the record's own time in decimal years.
inline constexpr const char* kTimeCovariate = "time";

struct CovariatePlan {
  std::vector<std::string> names;  // empty: the trend tests alone
  std::shared_ptr<const CovariateTable> table;
  // Rows without times: covariate j of row i at (*columns)[j][i], in place
  // of the table and the times (the time covariate, when named, is the
  // observations' time; else their row is).
  std::shared_ptr<const std::vector<std::vector<double>>> columns;
  stats::NsModel model;
  std::string vary = "loc";  // as reported: "loc", "loc,scale"
  stats::NsRequest request;  // at: in the order of names
  bool effective_levels = false;  // keep every observation's levels
  bool trend = true;              // the Mann-Kendall test and Sen's slope
};

// What the covariates gave one series.
struct NonstationaryResult {
  std::string vary;
  std::vector<std::string> names;
  std::vector<std::string> labels;       // of the observations: block or time
  std::vector<double> time;              // decimal years
  std::vector<std::vector<double>> c;    // covariate j of observation i at c[j][i]
  std::vector<double> x;                 // the maxima (peaks: excesses), in time order
  double threshold = 0, rate = 1;        // peaks: the threshold, clusters a year
  std::vector<double> lower, upper;      // each covariate's observed range
  bool fitted = false;                   // names were given
  std::string error;                     // of the fit, one line
  stats::NsAnalysis analysis;
  std::vector<double> periods;
  std::vector<stats::NsLevel> levels;    // per observation and period, when asked for
  stats::MannKendall mann_kendall;
  stats::SenSlope sen;
};

// The decimal year of a time: year + (day of year - 1) / days in that year.
double decimal_year(std::int64_t seconds);

// The year of a block's label ("2012", "2012-03": its year plus the months
// before it in twelfths).
double block_year(const std::string& block);

// Fits x on the covariates c (covariate j of observation i at c[j][i]) by the
// plan and tests the trend of x over time: the result, or an error for the
// series. Every value finite.
std::shared_ptr<const NonstationaryResult> fit_on_covariates(const CovariatePlan& plan, std::vector<double> x,
                                                             std::vector<std::vector<double>> c,
                                                             std::vector<double> time,
                                                             std::vector<std::string> labels, double confidence);

// Takes the covariates of each observation (label, time in decimal years,
// its day since 1970 or a value below INT64_MIN / 2 without one; with the
// plan's columns, its row there), dropping the observations without a value
// into `dropped` and from x and the rest; then fit_on_covariates.
std::shared_ptr<const NonstationaryResult> analyze_covariates(
    const CovariatePlan& plan, std::vector<double>& x, std::vector<std::string>& labels,
    std::vector<double>& time, std::span<const std::int64_t> day, std::span<const std::size_t> row,
    std::vector<BlockCount>& dropped, double confidence);

}  // namespace korvalinde
