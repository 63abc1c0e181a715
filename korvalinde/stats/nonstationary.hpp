// The GEV, the Gumbel and the GPD with parameters linear in covariates,
// fitted by maximum likelihood: the location mu(c) = b0 + b'c and the
// log-scale ln sigma(c) = s0 + s'c, the shape constant. Effective return
// levels at covariate points, their change between two points and the
// probability ratio of a level, with delta-method and profile-likelihood
// bounds; likelihood-ratio tests against the nested models; residual
// diagnostics. Pure functions over caller-owned data.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "korvalinde/records/result.hpp"

namespace korvalinde::stats {

enum class NsFamily { gev, gumbel, gpd };

// Which parameters follow the covariates. The GPD's location is its
// threshold: only its scale can vary (and its exceedance rate stays constant).
struct NsModel {
  NsFamily family = NsFamily::gev;
  bool loc = true;     // GEV, Gumbel: mu(c) linear
  bool scale = false;  // ln sigma(c) linear
  // GEV, Gumbel: the fixed-dispersion model mu(c) = mu0 exp(a'c / mu0),
  // sigma(c) = sigma0 exp(a'c / mu0), so that sigma / mu stays constant
  // (loc and scale are then ignored).
  bool dispersion = false;
};

inline constexpr std::size_t kMaxCovariates = 3;

// The series: maxima (GEV, Gumbel) or excesses over the threshold (GPD),
// and the covariates, each as long as x, every value finite.
struct NsData {
  std::span<const double> x;
  std::vector<std::span<const double>> c;
  std::vector<std::string> names;  // of the covariates
};

struct NsFit {
  bool ok = false;
  std::string error;  // one line when !ok
  NsModel model;
  std::size_t n = 0, p = 0;  // values, covariates
  // Coefficients in the user's units, in the order: the location block
  // (mu0 at covariates 0, then one slope per covariate, or mu alone), the
  // scale block (log_sigma0 and the slopes, or sigma alone), xi; with their
  // names, standard errors and covariance (row-major, k x k).
  std::vector<std::string> names;
  std::vector<double> coef, se, cov;
  double loglik = kUndefined, aic = kUndefined, bic = kUndefined;
  int iterations = 0;
  // The fit in standardised units: y = (x - centre) / unit (GPD and the
  // dispersion model: x / unit),
  // covariates (c - mean) / spread, theta = (xi, location block, scale
  // block), with its inverse observed information. The dispersion model's
  // theta is (xi, m0, b, ln s0): mu = m0 exp(b'c), ln sigma = ln s0 + b'c.
  double centre = 0, unit = 1;
  std::vector<double> mean, spread;
  std::vector<double> theta, theta_cov;
  std::vector<double> y, cs;  // the standardised series; covariates column by column
};

// Maximum likelihood from the stationary L-moment fit (or from `start`, a
// fit of a nested model of the same data, when given). Errors for a
// constant or collinear covariate, fewer values than parameters + 2, more
// than kMaxCovariates covariates, and a likelihood with no interior maximum.
NsFit fit_nonstationary(const NsData& data, const NsModel& model, const NsFit* start = nullptr);

// The log-likelihood of a fit's standardised series at theta with its
// gradient and (when h is not null) Hessian (k x k, row-major), in the
// standardised units; false outside the support. Exposed for tests.
bool ns_loglik(const NsFit& fit, const double* theta, double& l, double* g, double* h);

struct NsLrTest {
  std::string against;  // "stationary", "loc" (location trend only), "gumbel"
  double statistic = kUndefined;
  int df = 0;
  double p = kUndefined;
};

// One level of an effective return level or its change: value, delta-method
// standard error and bounds, profile-likelihood bounds.
struct NsLevel {
  double period = kUndefined;
  double value = kUndefined, se = kUndefined, lower = kUndefined, upper = kUndefined;
  ProfileInterval profile;
  double percent = kUndefined;  // changes: 100 change / level at the first point
};

struct NsPoint {
  std::vector<double> c;
  bool extrapolated = false;  // outside the observed range of some covariate
  std::vector<NsLevel> levels;
};

struct NsProbabilityRatio {
  double level = kUndefined;
  double pr = kUndefined, ln_pr = kUndefined, se_ln_pr = kUndefined;
  double lower = kUndefined, upper = kUndefined;  // delta-method bounds of ln PR
  ProfileInterval profile;                        // of ln PR
  double far = kUndefined;                        // 1 - 1 / PR
  std::string error;
};

struct NsRequest {
  std::vector<double> periods{2, 10, 100};
  std::vector<std::vector<double>> at;  // covariate points; empty: first and last observed (one covariate)
  std::vector<double> reference;        // the reference point; empty: the last observation
  double level = kUndefined;            // of the probability ratio; NaN: the 100-year level at the first point
  double confidence = 0.95;
  bool profiles = true;
  // GPD: the threshold and the exceedances per year, for the levels.
  double threshold = 0, rate = 1;
};

struct NsAnalysis {
  NsFit fit;
  std::vector<NsLrTest> lr_tests;
  std::vector<ProfileInterval> coef_profiles;  // per coefficient; intercepts unprofiled
  // mu and sigma at the reference point, with standard errors.
  std::vector<double> reference;
  Estimate mu_ref, sigma_ref;
  std::vector<NsPoint> at;
  std::vector<NsLevel> change;  // between at[0] and at[1]
  NsProbabilityRatio probability_ratio;
  Gof residual_gof;  // of the residuals against the standard Gumbel or exponential
};

NsAnalysis analyze_nonstationary(const NsData& data, const NsModel& model, const NsRequest& request);

// The residuals transformed to the standard Gumbel (GEV, Gumbel) or the
// standard exponential (GPD), in the order of the series.
std::vector<double> ns_residuals(const NsFit& fit);

// The effective T-year level of every observation (delta bounds at
// `confidence`): row i, period j at [i * periods.size() + j].
std::vector<NsLevel> ns_levels_per_observation(const NsFit& fit, std::span<const double> periods,
                                               double confidence, double threshold = 0, double rate = 1);

}  // namespace korvalinde::stats
