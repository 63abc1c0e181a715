// The statistics of one fitted method: DPA_CUT quantile, return levels with
// their delta-method errors, the return period of a level and the goodness
// of fit. Fills a MethodResult from (a, b) and the sample.
#pragma once

#include <optional>
#include <span>

#include "korvalinde/dist/normal.hpp"
#include "korvalinde/records/result.hpp"
#include "korvalinde/stats/estimate.hpp"
#include "korvalinde/stats/gof.hpp"

namespace korvalinde::stats {

using dist::kNormal95;

// a + b y with its delta-method error (gradient (1, y)) and 95% interval
// when the covariance is valid; only the value otherwise.
Estimate reduced_estimate(double a, double b, double y, const Covariance& cov);

// Return period T = 1 / (1 - F(level)); +inf when 1 - F underflows.
double return_period(double level, double a, double b);

struct Analysis {
  std::span<const double> sorted;  // the raw sample, ascending
  Cells cells;                     // the histogram with raw counts
  double prob = 0.99;              // DPA_CUT probability
  std::span<const double> periods;
  std::optional<double> level;
  unsigned threads = 1;  // for the statistics of large samples; never changes results
};

// Sets out.a, out.b, se_a, se_b, corr_ab (when cov is valid), prob, quantile,
// return_levels, level, level_period and gof. Other fields are left alone.
void analyze_method(const Analysis& in, double a, double b, const Covariance& cov,
                    MethodResult& out);

}  // namespace korvalinde::stats
