// Whole-sample fits of the hydrologist's families beside the GEV: maximum
// likelihood with observed-information errors, profile-likelihood intervals
// of its quantiles, and the L-moment fits with influence-function errors.
//
// Parameters are in each family's own convention (dist/*.hpp):
//   Glo, Gno, Weibull: loc, scale, shape    Pe3: mean, sd, skew
//   Lp3: mean, sd, skew of log10 x           Exponential: loc, scale
//   Normal: mean, sd                         Lognormal: meanlog, sdlog
// Every fit standardises the sample (its centre and L-scale) before it
// iterates, so the parameters scale with the data exactly and the iteration
// is the same for any unit (1e-100 to 1e100).
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "korvalinde/records/result.hpp"

namespace korvalinde::stats {

enum class Family { Glo, Gno, Pe3, Lp3, Weibull, Exponential, Normal, Lognormal };

// "glo", "gno", "pe3", "lp3", "weibull", "exp", "normal", "lognormal".
const char* family_name(Family f);
std::optional<Family> family_from_name(std::string_view name);
// 2 or 3.
std::size_t parameter_count(Family f);
// The names of the parameters, "" past parameter_count.
std::array<const char*, 3> parameter_names(Family f);

using Matrix3x3 = std::array<std::array<double, 3>, 3>;

// A fit of one sample. When ok is false, `error` says why in a sentence that
// names the family, and every number is NaN. Unused third entries are NaN.
struct FamilyFit {
  Family family = Family::Glo;
  bool ok = false;
  std::string error;
  std::size_t n = 0;
  std::array<double, 3> params{kUndefined, kUndefined, kUndefined};
  std::array<double, 3> se{kUndefined, kUndefined, kUndefined};
  Matrix3x3 cov{{{kUndefined, kUndefined, kUndefined},
                 {kUndefined, kUndefined, kUndefined},
                 {kUndefined, kUndefined, kUndefined}}};
  // Maximum likelihood only: the log-likelihood at the estimate, Newton
  // iterations taken, and the largest gradient component at the estimate in
  // the standardised coordinates (location and scale in units of the
  // sample's L-scale), near 0 when converged.
  double loglik = kUndefined;
  int iterations = 0;
  double gradient = kUndefined;
};

// Maximum likelihood of the sample (any order, finite values; at least 3
// values for two parameters, 5 for three). Starts from the L-moment fit and
// runs Newton's method with Levenberg-Marquardt damping on the analytic
// gradient and Hessian. The covariance is the inverse observed information.
// Refused, with the reason, where no regular local maximum exists: a
// Weibull shape <= 1, a Pearson III |skew| >= 2 or a GLO |shape| >= 1 (there
// the likelihood grows without bound as the end point approaches an
// extreme value), or an iteration that runs to such an end point. The
// exponential's location is the smallest value (its likelihood's maximum
// lies on that boundary), with the exact sampling covariance instead of the
// observed information: se(loc) = scale / n, se(scale) = scale sqrt(n - 1) / n,
// independent.
FamilyFit fit_mle(Family f, std::span<const double> x);

// The L-moment fit (stats/lmoments.hpp) with the nonparametric covariance
// of the estimator's influence function, as for the GEV (stats/gev_lmom.hpp):
// the parameters are smooth functions of the sample L-moments l1, l2, l3
// (l1, l2 for two parameters; of the log10 values for the Lp3), whose
// Jacobian is taken by central differences of the exact fit.
FamilyFit fit_lmom_with_errors(Family f, std::span<const double> x);

// The p quantile (non-exceedance probability p) of a fit, NaN unless ok.
double quantile(const FamilyFit& fit, double p);
// Its delta-method standard error from fit.cov, NaN where cov is.
double quantile_se(const FamilyFit& fit, double p);

// The profile-likelihood interval at confidence `conf` of the p quantile of
// a maximum-likelihood fit of a three-parameter family (Glo, Gno, Pe3, Lp3,
// Weibull) to the same sample x: the quantiles q with
// 2 (l_max - max over the other parameters of l given q) <= chi2_1(conf).
// An end that does not exist, or a fit that is not ok or of two
// parameters, is NaN with the reason.
ProfileInterval profile_quantile(const FamilyFit& mle, std::span<const double> x, double p,
                                 double conf = 0.95);

}  // namespace korvalinde::stats
