#include "korvalinde/classic/model.hpp"

#include "dnls/io/format.hpp"
#include "dnls/io/units.hpp"
#include "dnls/messages/xerror.hpp"
#include "dnls/solver/dnls.hpp"
#include "korvalinde/classic/blocks.hpp"

namespace korvalinde {

double fy1[kMaxBins];

namespace {

std::span<const double> cells(const double* v, int m) { return {v, static_cast<std::size_t>(m)}; }

}  // namespace

void findcutdpa(double p, const double params[2], double& q, int& rc) {
  rc = quantile(p, params[0], params[1], q) ? 1 : kBadProbability;
}

void corrl(int m, const double params[2], double& result) {
  result = correlation(cells(data1.x, m), cells(data1.y, m), params[0], params[1],
                       {fy1, static_cast<std::size_t>(m)});
}

double standerror(int m, const double* r) { return standard_error(cells(r, m)); }

double enorm(int m, const double* r) { return plain_norm(cells(r, m)); }

}  // namespace korvalinde

// Residuals observed minus fitted density, for the solver. Only residual
// evaluations (1) and print requests (0) are served: the fit always uses
// forward differences, so a Jacobian request ends the run.
void fcn(int& iflag, int m, int, const double* x, double* fvec, double*, int) {
  using korvalinde::data1;
  if (iflag == 0) return;
  if (iflag == 1) {
    korvalinde::residuals(korvalinde::cells(data1.x, m), korvalinde::cells(data1.y, m), x[0],
                          x[1], {fvec, static_cast<std::size_t>(m)});
    return;
  }
  dnls::fmt::write_free(dnls::io::kStdout, "-9999 DO_not_use_JACOBI");
  dnls::XERHLT("");
}
