// Results of the further families fitted to a whole sample (GLO, GNO, PE3,
// LP3, GPA, Weibull, Kappa, Wakeby, exponential, normal, lognormal), the
// sample's L-moments and the comparison of every family fitted. Plain data
// like result.hpp; a value that is undefined is NaN.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "korvalinde/records/result.hpp"

namespace korvalinde {

// One named parameter with its standard error (NaN when the method gives none).
struct FamilyParameter {
  std::string name;  // "loc", "scale", "shape", "mean", "sd", "skew", "k", "h", "xi", ...
  double value = kUndefined;
  double se = kUndefined;
};

// Parametric bootstrap of one family's method: replicates drawn from the
// fitted family and refitted by the method; percentile intervals and
// standard deviations of the free parameters (FamilyMethodResult::free).
struct FamilyBoot : BootSummary {
  std::vector<Interval> params;
  std::vector<double> se;
};

// The family fitted by one method, "mle" or "lmom". A fit without a result
// says why in `error` and has no parameters.
struct FamilyMethodResult {
  bool present = false;  // the method was asked for and has run
  std::string error;
  // Every name the family's parameters go by: loc, scale, shape first where
  // the family has them, then its own names (the same values under them).
  std::vector<FamilyParameter> params;
  // Covariance of the family's free parameters, in the order of `free`.
  std::vector<std::string> free;
  std::vector<std::vector<double>> cov;
  double loglik = kUndefined;  // at the fitted parameters
  int iterations = 0;                                         // mle
  double prob = kUndefined;                                   // DPA_CUT probability
  Estimate quantile;                                          // DPA_CUT = q(prob)
  std::vector<ReturnLevel> return_levels;
  std::optional<double> level;       // --level X
  double level_period = kUndefined;  // T = 1/(1 - F(X))
  Gof gof;  // ks, cvm, ad (with their p-values when simulated)
  // Observations outside the fitted support; when there are any the
  // goodness-of-fit statistics are undefined (NaN) rather than huge.
  int outside_support = 0;
  std::optional<FamilyBoot> boot;
};

// One family ("glo", ...) by each method asked for.
struct FamilyResult {
  std::string dist;
  FamilyMethodResult mle, lmom;
  // The distance of the sample's (t3, t4) from the family: |t4 - tau4(t3)|
  // for a family with a shape, the distance from the family's one point for
  // a two-parameter family; NaN for those that match t4 by construction
  // (Kappa, Wakeby) or whose ratios the sample does not reach.
  double lmom_distance = kUndefined;
};

// The sample's L-moments: l1, l2, t = l2 / l1, t3, t4, t5 (NaN for n < 5).
struct LmomentsRecord {
  bool present = false;
  double l1 = kUndefined, l2 = kUndefined, t = kUndefined, t3 = kUndefined, t4 = kUndefined,
         t5 = kUndefined;
};

// One row of the comparison: a family fitted by one method.
struct ComparisonRow {
  std::string dist, method;
  double aic = kUndefined;  // mle: 2 p - 2 loglik
  double lmom_distance = kUndefined;
  double ad = kUndefined, ad_p = kUndefined;
};

struct Comparison {
  std::vector<ComparisonRow> rows;
  std::string best_aic, best_lmom;  // the family with the least AIC, L-moment distance; empty: none
};

// What FitResult::families holds: the families asked for beyond the Gumbel
// and the GEV, in the order asked for, with the L-moments and the comparison.
struct FamiliesResult {
  std::vector<FamilyResult> fits;
  LmomentsRecord lmoments;
  Comparison comparison;
};

}  // namespace korvalinde
