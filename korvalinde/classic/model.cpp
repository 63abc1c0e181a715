#include "korvalinde/classic/model.hpp"

#include <cmath>

#include "dnls/io/format.hpp"
#include "dnls/io/units.hpp"
#include "dnls/messages/xerror.hpp"
#include "dnls/solver/dnls.hpp"
#include "korvalinde/classic/blocks.hpp"

namespace korvalinde {

double fy1[kMaxBins];

double extremeval(double x, double a, double b) {
  const double z = (x - a) / b;
  const double t1 = std::exp(-z);
  const double t2 = std::exp(-std::exp(-z));
  return (t2 * t1) / b;
}

void findcutdpa(double p, const double params[2], double& quantile, int& rc) {
  // Written so that NaN is refused as well.
  if (!(p > 0 && p <= 1)) {
    rc = kBadProbability;
    return;
  }
  quantile = params[0] - params[1] * std::log(-std::log(p));
  rc = 1;
}

void corrl(int m, const double params[2], double& result) {
  double sf = 0, sy = 0;
  for (int i = 0; i < m; ++i) {
    fy1[i] = extremeval(data1.x[i], params[0], params[1]);
    sf += fy1[i];
    sy += data1.y[i];
  }
  const double fmean = sf / static_cast<double>(m);
  const double ymean = sy / static_cast<double>(m);
  double suu = 0, suv = 0, svv = 0;
  for (int i = 0; i < m; ++i) {
    const double u = fy1[i] - fmean;
    const double v = data1.y[i] - ymean;
    suu += u * u;
    suv += u * v;
    svv += v * v;
  }
  result = std::sqrt(suv * suv / svv / suu);
}

double standerror(int m, const double* residuals) {
  double sum = 0;
  for (int i = 0; i < m; ++i) sum += residuals[i] * residuals[i];
  return std::sqrt(sum / static_cast<double>(m - 1));
}

double enorm(int m, const double* residuals) {
  double sum = 0;
  for (int i = 0; i < m; ++i) sum += residuals[i] * residuals[i];
  return std::sqrt(sum);
}

}  // namespace korvalinde

// Residuals observed minus fitted density, for the solver. Only residual
// evaluations (1) and print requests (0) are served: the fit always uses
// forward differences, so a Jacobian request ends the run.
void fcn(int& iflag, int m, int, const double* x, double* fvec, double*, int) {
  using korvalinde::data1;
  if (iflag == 0) return;
  if (iflag == 1) {
    for (int i = 0; i < m; ++i) fvec[i] = data1.y[i] - korvalinde::extremeval(data1.x[i], x[0], x[1]);
    return;
  }
  dnls::fmt::write_free(dnls::io::kStdout, "-9999 DO_not_use_JACOBI");
  dnls::XERHLT("");
}
