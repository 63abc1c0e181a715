// The statistics of one fitted method: DPA_CUT quantile, return levels with
// their delta-method errors, the return period of a level and the goodness
// of fit. Fills a MethodResult from (a, b) and the sample.
#pragma once

#include <optional>
#include <span>

#include "korvalinde/dist/normal.hpp"
#include "korvalinde/records/result.hpp"
#include "korvalinde/stats/estimate.hpp"
#include "korvalinde/stats/gev.hpp"
#include "korvalinde/stats/gof.hpp"

namespace korvalinde::stats {

using dist::kNormal95;

// a + b y with its delta-method error (gradient (1, y)) and interval
// value +- z se when the covariance is valid; only the value otherwise.
Estimate reduced_estimate(double a, double b, double y, const Covariance& cov,
                          double z = kNormal95);

// Return period T = 1 / (1 - F(level)); +inf when 1 - F underflows.
double return_period(double level, double a, double b);

struct Analysis {
  std::span<const double> sorted;  // the raw sample, ascending
  Cells cells;                     // the histogram with raw counts
  double prob = 0.99;              // DPA_CUT probability
  std::span<const double> periods;
  std::optional<double> level;
  unsigned threads = 1;  // for the statistics of large samples; never changes results
  double z = kNormal95;  // normal critical value of the delta-method intervals
  bool gof = true;       // the EDF statistics and the chi-square (false: left undefined)
};

// Sets out.a, out.b, se_a, se_b, corr_ab (when cov is valid), prob, quantile,
// return_levels, level, level_period and (with in.gof) gof. Other fields are
// left alone.
void analyze_method(const Analysis& in, double a, double b, const Covariance& cov,
                    MethodResult& out);

// Adds profile-likelihood intervals at critical value crit (chi-square(1)) to
// the quantile and return levels of the Gumbel mle fit in out.
void add_gumbel_profiles(const Analysis& in, double loglik, double crit, MethodResult& out);

// Fills out from a GEV fit: parameters, errors, covariance, DPA_CUT quantile,
// return levels, the shape's interval and the goodness of fit; with crit > 0
// (maximum likelihood) the profile-likelihood intervals too. A failed fit
// only sets present and error.
void analyze_gev(const Analysis& in, const GevEstimate& e, double crit, GevMethodResult& out);

}  // namespace korvalinde::stats
