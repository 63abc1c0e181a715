// Results of fitting one sample: plain data, filled by the fitting core and
// the statistics, rendered by the command line (report, JSON, picture) and
// the Python module. A value that is undefined is NaN; renderers write null.
#pragma once

#include <array>
#include <cstddef>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "korvalinde/records/input_error.hpp"

namespace korvalinde {

inline constexpr double kUndefined = std::numeric_limits<double>::quiet_NaN();

// One end of a profile-likelihood interval; NaN with the reason when the
// profile never reaches the critical level on that side.
struct ProfileLimit {
  double value = kUndefined;
  std::string reason;
};

struct ProfileInterval {
  ProfileLimit lower, upper;
};

// A value with its delta-method standard error and normal interval at the
// fit's confidence, and for maximum likelihood its profile-likelihood one.
struct Estimate {
  double value = kUndefined;
  double se = kUndefined;
  double lower = kUndefined;
  double upper = kUndefined;
  std::optional<ProfileInterval> profile = std::nullopt;
};

struct ReturnLevel {
  double period = kUndefined;  // T in years (or observations)
  Estimate level;              // x_T = q(1 - 1/T)
};

struct Interval {
  double lower = kUndefined;
  double upper = kUndefined;
};

// Goodness of fit of the raw sample against the fitted distribution.
struct Gof {
  double ks = kUndefined;   // Kolmogorov-Smirnov D
  double cvm = kUndefined;  // Cramer-von Mises W^2
  double ad = kUndefined;   // Anderson-Darling A^2
  double chi2 = kUndefined; // binned chi-square X^2 on the histogram cells
  int chi2_df = 0;          // groups - 3
  double chi2_p = kUndefined;  // upper tail; NaN when chi2_df < 1
  // p-values of D, W^2 and A^2 that allow for the estimated parameters, and
  // how they were computed (empty when they were not).
  double ks_p = kUndefined, cvm_p = kUndefined, ad_p = kUndefined;
  std::string p_method;
};

// What a parametric bootstrap of one method gives for every family.
struct BootSummary {
  int replicates = 0;  // B requested
  int failed = 0;      // replicates whose refit failed (left out of the rest)
  Interval quantile;
  std::vector<Interval> return_levels;  // one per period, in order
  double ks_p = kUndefined, cvm_p = kUndefined, ad_p = kUndefined;
};

// Parametric bootstrap of one Gumbel method.
struct Boot : BootSummary {
  Interval a, b;
  double se_a = kUndefined, se_b = kUndefined;  // standard deviations of the refits
};

// One estimation method: "ls", "mle" or "lmom".
struct MethodResult {
  bool present = false;  // the method was asked for and has run
  std::string error;     // why it failed alone (the others still report); then
                         // its values are undefined
  double a = kUndefined, b = kUndefined;
  double se_a = kUndefined, se_b = kUndefined, corr_ab = kUndefined;

  // ls: the classic histogram least-squares fit.
  int info = 0;   // solver termination code
  int nfev = 0;   // residual evaluations
  double sum_sq = kUndefined, l2 = kUndefined, serror = kUndefined, rerror = kUndefined;

  // mle
  double loglik = kUndefined;
  int iterations = 0;

  double prob = kUndefined;  // DPA_CUT probability
  Estimate quantile;         // DPA_CUT = q(prob)
  std::vector<ReturnLevel> return_levels;
  std::optional<double> level;         // --level X
  double level_period = kUndefined;    // T = 1/(1 - F(X))
  Gof gof;
  std::optional<Boot> boot;
};

// Parametric bootstrap of one GEV method: the same as Boot for (loc, scale,
// shape), each replicate drawn from the fitted GEV and refitted by the method.
struct GevBoot : BootSummary {
  Interval loc, scale, shape;
  double se_loc = kUndefined, se_scale = kUndefined, se_shape = kUndefined;  // of the refits
};

// The GEV fitted by one method (loc mu, scale sigma, shape xi; see
// dist/gev.hpp). A fit that has no result (the likelihood has no maximum)
// says why in `error` and leaves every number undefined.
struct GevMethodResult {
  bool present = false;  // the method was asked for and has run
  std::string error;
  double loc = kUndefined, scale = kUndefined, shape = kUndefined;
  double se_loc = kUndefined, se_scale = kUndefined, se_shape = kUndefined;
  std::array<std::array<double, 3>, 3> cov{{{kUndefined, kUndefined, kUndefined},
                                           {kUndefined, kUndefined, kUndefined},
                                           {kUndefined, kUndefined, kUndefined}}};
  double loglik = kUndefined;  // mle
  int iterations = 0;          // mle
  Estimate quantile;           // DPA_CUT = q(prob)
  std::vector<ReturnLevel> return_levels;
  Estimate shape_interval;     // the shape with its delta and (mle) profile intervals
  Gof gof;
  std::optional<GevBoot> boot;
  std::optional<double> level;        // --level X
  double level_period = kUndefined;   // T = 1/(1 - G(X))
  // Observations outside the fitted support (an L-moment fit can bound the
  // sample inside its range); such a fit never leads the report.
  int outside_support = 0;
};

struct GevResult {
  GevMethodResult mle, lmom;
};

// Likelihood-ratio test of the Gumbel shape 0 within the GEV, run whenever
// maximum likelihood is: D = 2 (l_GEV - l_Gumbel) on df 1.
struct GumbelTestResult {
  bool present = false;
  std::string error;  // the GEV fit's, when it has no result
  double statistic = kUndefined;
  int df = 1;
  double p = kUndefined;
  Estimate shape;  // the GEV mle shape with its profile interval
};

// A block left out of the block maxima for too few observations.
struct BlockCount {
  std::string block;
  std::size_t present = 0;   // non-missing values
  std::size_t expected = 0;  // the block's length over the sampling step
  std::string reason;        // empty: too few observations
};

// What reading a dated record (and taking its block maxima) left out.
struct DatedSummary {
  bool grouped = false;
  std::string group;           // the grouping column's value
  std::size_t n_rows = 0;      // rows of the series after merging duplicates
  std::size_t n_missing = 0;   // missing values, never fitted
  std::size_t n_merged = 0;    // rows merged into another of the same time
  std::string blocks;          // "year", "water-year:MONTH", "month"; empty without
  std::size_t n_blocks = 0;    // blocks whose maxima are the sample
  std::vector<BlockCount> blocks_dropped;
  std::string date_column;     // without times, a column that holds them (its name)
};

struct PotLevel {
  double period = kUndefined;  // N in years
  Estimate level;              // delta method, with the rate's binomial variance
  Interval profile;            // profile likelihood on the distribution's part
};

// One generalized Pareto estimate of the cluster excesses.
struct GpdResult {
  bool present = false;  // asked for
  bool ok = false;
  std::string error;
  double scale = kUndefined, shape = kUndefined;
  double se_scale = kUndefined, se_shape = kUndefined;
  double var_scale = kUndefined, cov = kUndefined, var_shape = kUndefined;
  double loglik = kUndefined;
  int iterations = 0;
  std::vector<PotLevel> return_levels;
  Gof gof;  // ks, cvm, ad
};

// One threshold of the threshold-choice aids.
struct ThresholdPoint {
  double threshold = kUndefined;
  std::size_t n_exceed = 0, n_clusters = 0;
  Estimate mean_excess;     // mean residual life of all exceedances, with its 95% band
  Estimate modified_scale;  // sigma - xi u of the clusters' fit
  Estimate shape;
};

// Rows of a dated record further apart than its longest allowed gap.
struct TimeGap {
  std::int64_t from = 0, to = 0;  // the times on either side, seconds since 1970
};

struct PotResult {
  double threshold = kUndefined;
  int run = 0;
  std::size_t n_exceed = 0, n_clusters = 0;
  double ei_runs = kUndefined, ei_intervals = kUndefined;  // extremal index
  double years = kUndefined;                               // observed time
  // With times: the span from the first time to a step past the last, less
  // the gaps longer than max_gap (a gap: the time between two rows less a
  // step) and a step for each missing value, gives `years`, unless per_year
  // (observations a year) does.
  std::int64_t first = 0, last = 0, step = 0, max_gap = 0;  // seconds
  double span_years = kUndefined;
  std::vector<TimeGap> gaps;
  double per_year = kUndefined;
  double rate_per_year = kUndefined;                       // clusters a year
  GpdResult mle, lmom;
  std::vector<double> excesses;  // of the cluster maxima over the threshold, ascending
  std::vector<ThresholdPoint> diagnostics;
};

// The fit the summaries lead with: a family ("gumbel", "gev") and one of its
// methods ("mle", "lmom", "ls"); both empty when no distribution was fitted
// to the sample (peaks over a threshold alone).
struct Headline {
  std::string dist, method;
  std::string reason;  // why this family leads when the order asked for did not decide it
};

// The fit of a series on covariates, and its trend tests (core/covariates.hpp).
struct NonstationaryResult;

// The further families, the sample's L-moments and the comparison (family_result.hpp).
struct FamiliesResult;

struct FitResult {
  std::string file;
  bool ok = false;
  std::string error;  // when !ok: one line, "NAME:LINE: ..." or "NAME: ..."
  std::optional<InputError> input_error;  // when the input is at fault, where
  std::optional<DatedSummary> dated;      // a dated record
  std::size_t n = 0;
  double min = kUndefined, max = kUndefined;
  int bins = 0;
  double width = kUndefined;  // bin width dx
  int m = 0;                  // histogram cells
  double confidence = 0.95;   // of every interval
  MethodResult ls, mle, lmom;
  GevResult gev;              // with the GEV asked for
  GumbelTestResult gumbel_test;
  std::optional<PotResult> pot;
  Headline headline;
  std::shared_ptr<const NonstationaryResult> nonstationary;  // with covariates or trend tests
  std::shared_ptr<const FamiliesResult> families;            // with a further family asked for
};

}  // namespace korvalinde
