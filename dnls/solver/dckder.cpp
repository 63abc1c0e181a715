#include <cmath>

#include "dnls/messages/machine.hpp"
#include "dnls/solver/dnls.hpp"

namespace dnls {

// Checks a Jacobian against forward differences in two calls. Mode 1 (any
// mode but 2) builds the displaced point xp; the caller then evaluates fvecp
// at xp. Mode 2 compares, per residual i, the change fvecp[i] - fvec[i] with
// the change that fjac predicts: err[i] is 1 for agreement, 0 for a relative
// discrepancy of sqrt(epsmch) or more, and falls logarithmically in between.
// A residual that is exactly zero at either point, or changes by less than
// 100*epsmch relative, cannot be judged and counts as correct (err = 1).
void DCKDER(int m, int n, const double* x, const double* fvec, const double* fjac, int ldfjac,
            double* xp, const double* fvecp, int mode, double* err) {
  constexpr double factor = 100.0, one = 1.0, zero = 0.0;

  const double epsmch = D1MACH(4);
  const double eps = std::sqrt(epsmch);

  if (mode != 2) {
    for (int j = 0; j < n; ++j) {
      double temp = eps * std::fabs(x[j]);
      if (temp == zero) temp = eps;
      xp[j] = x[j] + temp;
    }
    return;
  }

  const double epsf = factor * epsmch;
  const double epslog = std::log10(eps);

  // Change predicted by fjac along the displacement of mode 1, divided by eps.
  for (int i = 0; i < m; ++i) err[i] = zero;
  for (int j = 0; j < n; ++j) {
    const double temp = x[j] == zero ? one : std::fabs(x[j]);
    const double* col = fjac + static_cast<long>(j) * ldfjac;
    for (int i = 0; i < m; ++i) err[i] = err[i] + temp * col[i];
  }

  for (int i = 0; i < m; ++i) {
    const double diff = fvecp[i] - fvec[i];
    if (fvec[i] == zero || fvecp[i] == zero || !(std::fabs(diff) >= epsf * std::fabs(fvec[i]))) {
      err[i] = one;
      continue;
    }
    const double temp =
        eps * std::fabs(diff / eps - err[i]) / (std::fabs(fvec[i]) + std::fabs(fvecp[i]));
    err[i] = one;
    if (temp > epsmch && temp < eps) err[i] = (std::log10(temp) - epslog) / epslog;
    if (temp >= eps) err[i] = zero;
  }
}

}  // namespace dnls
