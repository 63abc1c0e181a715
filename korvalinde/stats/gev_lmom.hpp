// Standard errors of the GEV fitted by L-moments.
#pragma once

#include <span>

#include "korvalinde/stats/gev.hpp"

namespace korvalinde::stats {

// The L-moment fit of the ascending sample (fit_gev_lmom) with the
// asymptotic covariance of (loc, scale, shape) in `cov`, so that
// gev_quantile gives its quantiles delta-method errors. The covariance is
// the nonparametric one of the estimator's influence function: the
// estimator is a smooth function of the probability-weighted moments
// b0, b1, b2, each an L-statistic whose empirical influence at every order
// statistic comes from suffix sums over the sorted sample; (loc, scale,
// shape) take the Jacobian of that function, and cov is the sample
// covariance of their influence values over n. It needs no model for the
// data (only finite variances, shape < 1/2), and stays NaN when the sample
// has fewer than 4 values or the fit fails.
GevEstimate fit_gev_lmom_with_errors(std::span<const double> sorted);

}  // namespace korvalinde::stats
