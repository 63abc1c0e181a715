// The generalized extreme-value distribution fitted to a sample: maximum
// likelihood, L-moments, return levels with delta-method and profile-
// likelihood intervals, and the likelihood-ratio check of the Gumbel shape.
// Pure functions over caller-owned data; safe to call from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "korvalinde/dist/gev.hpp"
#include "korvalinde/records/result.hpp"
#include "korvalinde/stats/profile.hpp"

namespace korvalinde::stats {

using Matrix3 = std::array<std::array<double, 3>, 3>;

// The sample seen through y = (x - centre) / unit, in which the parameters
// are of order 1 whatever the data's location and magnitude.
struct GevSample {
  std::span<const double> x;
  double centre = 0, unit = 1;
  unsigned threads = 1;  // block sums in fixed order: never changes results
};

// The log-likelihood of the standardised sample at theta = (mu, ln sigma, xi)
// (standardised units) with its gradient and Hessian; false outside the
// support or for xi <= -1, where the likelihood has no maximum.
// With hessian false, d.h is left as it was (a cheaper evaluation).
bool gev_loglik(const GevSample& s, const std::array<double, 3>& theta, Derivs<3>& d,
                bool hessian = true);

// The same for the Gumbel at theta = (mu, ln sigma).
bool gumbel_loglik(const GevSample& s, const std::array<double, 2>& theta, Derivs<2>& d);

struct GevEstimate {
  bool ok = false;
  std::string error;  // one line when !ok
  dist::Gev d{kUndefined, kUndefined, kUndefined};
  Matrix3 cov{};       // of (loc, scale, shape); NaN when not available
  double loglik = kUndefined;  // maximum likelihood only
  int iterations = 0;          // maximum likelihood only
  // Maximum likelihood in standardised units, for the profiles.
  GevSample sample;
  std::array<double, 3> theta{};  // (mu, ln sigma, xi)
  Matrix3 theta_cov{};            // inverse observed information in theta
  bool theta_cov_valid = false;
};

// L-moments of the ascending sample from the unbiased probability-weighted
// moments; the shape is the root of tau3 = 2 (1 - 3^xi) / (1 - 2^xi) - 3
// (solved, not approximated). Needs 3 values and l2 > 0.
GevEstimate fit_gev_lmom(std::span<const double> sorted);

// The GEV with L-moments l1, l2 and ratio tau3, the shape that root; false
// with the reason in `why` (when given) for ratios out of range.
bool gev_from_lmoments(double l1, double l2, double tau3, dist::Gev& out, std::string* why = nullptr);

// Maximum likelihood from the L-moment fit, on the ascending sample: damped
// Newton over (mu, ln sigma, xi); the covariance is the inverse of the
// observed information. A sample whose likelihood has no maximum (the shape
// runs to -1 or below) is an error.
GevEstimate fit_gev_mle(std::span<const double> sorted, unsigned threads = 1);

// The quantile mu + sigma (e^(xi y0) - 1) / xi for the Gumbel reduced
// variate y0 = -ln(-ln p), with its delta-method error and the interval
// value +- z se.
Estimate gev_quantile(const GevEstimate& e, double y0, double z);

// Profile-likelihood intervals at critical value crit (chi-square(1)
// quantile) of the GEV quantiles with reduced variates y0 (one interval per
// y0, in any order): each search starts from the end points of the nearest
// smaller y0, which saves most of the work. Then of the shape.
std::vector<ProfileInterval> gev_quantile_profiles(const GevEstimate& mle, std::span<const double> y0,
                                                   double crit);
ProfileInterval gev_shape_profile(const GevEstimate& mle, double crit);

// The same for the Gumbel quantiles a + b y0 of the maximum-likelihood fit
// (a, b), on the sample standardised by (a, b).
std::vector<ProfileInterval> gumbel_quantile_profiles(std::span<const double> x, double a, double b,
                                                      std::span<const double> y0, double crit,
                                                      unsigned threads = 1);

// Likelihood ratio of GEV against Gumbel: D = 2 (l_gev - l_gumbel) >= 0 on
// 1 degree of freedom, p = P(chi2_1 > D).
struct GumbelTest {
  double statistic = kUndefined;
  int df = 1;
  double p = kUndefined;
};
GumbelTest gumbel_test(double loglik_gev, double loglik_gumbel);

}  // namespace korvalinde::stats
