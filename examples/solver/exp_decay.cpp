// Fits the exponential decay y = c0 * exp(-c1 * t) + c2 to synthetic data with
// the Levenberg-Marquardt solver, once for each way of supplying the Jacobian:
//   option 1: the solver approximates it by forward differences,
//   option 2: the residual routine returns it whole (iflag 2),
//   option 3: the residual routine returns it one row at a time (iflag 3).
// Prints each fit; exits with status 1 unless every fit converged close to
// the parameters the data were made from.
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "dnls/solver/dnls.hpp"

namespace {

constexpr int kM = 40;  // observations
constexpr int kN = 3;   // parameters c0, c1, c2
constexpr double kTruth[kN] = {5.0, 0.7, 1.0};

// The residual routine: a callable object, so it carries its data and counts
// its calls; no global state.
struct DecayFit {
  double t[kM], y[kM];
  int evaluations = 0, jacobians = 0;

  DecayFit() {
    // Deterministic "noise" of amplitude 0.01.
    for (int i = 0; i < kM; ++i) {
      t[i] = 0.2 * i;
      y[i] = kTruth[0] * std::exp(-kTruth[1] * t[i]) + kTruth[2] + 0.01 * std::sin(1.7 * i + 0.3);
    }
  }

  void operator()(int& iflag, int m, int n, const double* c, double* fvec, double* fjac,
                  int ldfjac) {
    switch (iflag) {
      case 1:  // residuals
        ++evaluations;
        for (int i = 0; i < m; ++i) fvec[i] = c[0] * std::exp(-c[1] * t[i]) + c[2] - y[i];
        break;
      case 2:  // the whole Jacobian, m by n, by columns with leading dimension ldfjac
        ++jacobians;
        for (int i = 0; i < m; ++i) row(c, i, &fjac[i], ldfjac);
        break;
      case 3:  // row number ldfjac (counted from 1) of the Jacobian, into fjac[0..n-1]
        if (ldfjac == 1) ++jacobians;
        row(c, ldfjac - 1, fjac, 1);
        break;
      default:  // 0: progress report, not asked for here (nprint = 0)
        break;
    }
    (void)n;
  }

  // Derivatives of residual i with respect to c0, c1, c2, stored `stride` apart.
  void row(const double* c, int i, double* out, int stride) const {
    const double e = std::exp(-c[1] * t[i]);
    out[0] = e;
    out[stride] = -c[0] * t[i] * e;
    out[2 * stride] = 1.0;
  }
};

// One fit with option iopt from the start c = (1, 1, 0); true when it
// converged near the truth.
bool fit(int iopt) {
  DecayFit model;
  double c[kN] = {1.0, 1.0, 0.0}, fvec[kM];
  int iwa[kN], info = 0;
  // Work space per option: n*(m+5)+m for options 1 and 2, n*(n+5)+m for 3.
  const int lwa = iopt == 3 ? kN * (kN + 5) + kM : kN * (kM + 5) + kM;
  std::vector<double> wa(lwa);
  const double tol = std::sqrt(std::numeric_limits<double>::epsilon());

  dnls::DNLS1E(model, iopt, kM, kN, c, fvec, tol, 0, info, iwa, wa.data(), lwa);

  bool close = info >= 1 && info <= 3;
  for (int j = 0; j < kN; ++j) close = close && std::fabs(c[j] - kTruth[j]) < 0.02;
  std::printf(
      "option %d: info %d  c0 %.6f  c1 %.6f  c2 %.6f  |r| %.6f  %d residual, %d Jacobian"
      " evaluations  %s\n",
      iopt, info, c[0], c[1], c[2], dnls::DENORM(kM, fvec), model.evaluations, model.jacobians,
      close ? "ok" : "FAILED");
  return close;
}

}  // namespace

int main() {
  std::printf("truth:              c0 %.6f  c1 %.6f  c2 %.6f\n", kTruth[0], kTruth[1], kTruth[2]);
  bool ok = true;
  for (int iopt = 1; iopt <= 3; ++iopt) ok = fit(iopt) && ok;
  if (!ok) return 1;
  std::puts("all fits close to the truth");
  return 0;
}
