// Fitting the generalized Pareto distribution (dist/gpd.hpp) to excesses
// over a threshold: maximum likelihood with its observed-information
// covariance and profile-likelihood intervals of return levels, L-moments,
// and goodness of fit.
#pragma once

#include <span>
#include <string>

#include "korvalinde/records/result.hpp"

namespace korvalinde::stats {

struct GpdEstimate {
  bool ok = false;
  std::string error;  // one line when !ok
  double scale = kUndefined, shape = kUndefined;
  // Covariance of (scale, shape): maximum likelihood only, NaN when the
  // observed information is not positive definite.
  double var_scale = kUndefined, cov_scale_shape = kUndefined, var_shape = kUndefined;
  double loglik = kUndefined;
  int iterations = 0;
};

// ln L of the excesses y >= 0; -inf outside the support, NaN for scale <= 0.
double gpd_loglik(std::span<const double> y, double scale, double shape);

// Maximum likelihood: safeguarded Newton on (ln sigma, xi) with the analytic
// gradient and Hessian, from the L-moment estimate (or the exponential one),
// with xi > -1 where the likelihood is bounded. The excesses are scaled by
// their mean first. Needs 2 distinct values.
GpdEstimate fit_gpd_mle(std::span<const double> y);

// L-moments (equal to the probability-weighted moments here) of the ascending
// excesses: xi = 2 - l1 / l2, sigma = l1 (1 - xi).
GpdEstimate fit_gpd_lmom(std::span<const double> sorted);

// Kolmogorov-Smirnov, Cramer-von Mises and Anderson-Darling statistics of the
// ascending excesses against the fitted distribution (chi-square left unset).
Gof gpd_gof(std::span<const double> sorted, double scale, double shape);

// The excess exceeded once in `m` > 1 exceedances, sigma c(xi) with
// c = ln m expm1(xi ln m) / (xi ln m), and its gradient in (sigma, xi).
struct ExcessLevel {
  double value, d_scale, d_shape;
};
ExcessLevel excess_level(double scale, double shape, double m);

// The 95% profile-likelihood interval of that excess level: the levels whose
// likelihood, maximised over xi with sigma = level / c(xi), is within
// chi2(1, 0.95) / 2 of the maximum. An end that is not reached (a flat
// profile) is NaN.
Interval gpd_profile_interval(std::span<const double> y, const GpdEstimate& mle, double m);

}  // namespace korvalinde::stats
