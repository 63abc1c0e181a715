// Estimating the Gumbel location a and scale b from a sample: maximum
// likelihood and L-moments, and the covariance of the histogram least-squares
// fit. Pure functions over caller-owned data; safe to call from any thread.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "korvalinde/records/result.hpp"

namespace korvalinde::stats {

// Covariance matrix of (a, b); NaN entries when it does not exist.
// The matrix is unit^2 times the entries: a unit other than 1 (the scale of
// the data) keeps it finite where b^2 would overflow or underflow.
struct Covariance {
  double aa = kUndefined, ab = kUndefined, bb = kUndefined;
  double unit = 1;
  bool valid() const;  // finite, positive variances, |correlation| <= 1
};

struct Estimation {
  bool ok = false;
  std::string error;  // one line when !ok
  double a = kUndefined, b = kUndefined;
  Covariance cov;              // maximum likelihood and L-moments
  double loglik = kUndefined;  // maximum likelihood only
  int iterations = 0;          // maximum likelihood only
};

// Maximum likelihood on the raw sample (any order). b solves the profile
// equation b = mean(x) - sum x e^(-x/b) / sum e^(-x/b) (Newton safeguarded by
// bisection), then a = -b ln((1/n) sum e^(-x/b)); the covariance is the
// inverse of the observed information. The data are shifted to their minimum
// and scaled by their range, so large offsets and negative values lose
// nothing. Sums over blocks of fixed size are combined in a fixed order: the
// result does not depend on `threads`. Needs 2 distinct finite values.
Estimation fit_mle(std::span<const double> x, unsigned threads = 1);

// L-moments of the ascending sample: l1 = mean, l2 = 2 b1 - b0 from the
// unbiased probability-weighted moments; b = l2 / ln 2, a = l1 - gamma b.
// The covariance is the asymptotic one at the fitted model, b^2 / n times
// [[1.11283, 0.22871], [0.22871, 0.80462]]. Needs 2 distinct finite values.
Estimation fit_lmom(std::span<const double> sorted);

// Why `what` (e.g. "L-moments") of an ascending sample of finite values come
// out not finite or not positive: fewer than 2 distinct values, or a spread
// that overflows (l2 not finite) or underflows double precision.
std::string lmom_fault(std::span<const double> sorted, double l2, std::string_view what);

// Adapters with the shape of a bootstrap refit.
bool refit_mle(std::span<const double> sample, double& a, double& b);
bool refit_lmom(std::span<const double> sorted, double& a, double& b);

// Covariance of the histogram least-squares fit at its final (a, b):
// s^2 (J^T J)^-1 with J the Jacobian of the residuals y_i - f(x_i) over the
// cells (centres x, densities y) and s^2 = sum of squared residuals / (M - 2).
// Undefined for M <= 2 or a singular J^T J.
Covariance ls_covariance(std::span<const double> x, std::span<const double> y, double a, double b);

}  // namespace korvalinde::stats
