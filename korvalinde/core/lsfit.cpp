#include "korvalinde/core/lsfit.hpp"

#include <cmath>

#include "dnls/messages/machine.hpp"
#include "dnls/messages/xerror.hpp"
#include "dnls/solver/dnls.hpp"
#include "korvalinde/core/histogram.hpp"
#include "korvalinde/core/model.hpp"

namespace korvalinde {

void LsWorkspace::size_for(int max_cells) {
  const auto m = static_cast<std::size_t>(max_cells);
  for (auto* v : {&x, &y, &counts, &raw, &fvec, &fitted}) {
    if (v->size() < m) v->resize(m);
  }
  // Option 1 of the solver: n*(m+5)+m with n = 2.
  if (wa.size() < 3 * m + 10) wa.resize(3 * m + 10);
}

LsFit ls_binning(std::span<const double> values, int bins, bool sorted) {
  LsFit r;
  switch (check_binning(values, bins, kMaxBinsFit, kMaxBinsFit + 1, sorted)) {
    case BinCheck::BadBinCount: r.status = LsFit::Status::BadBinCount; return r;
    case BinCheck::NoRange: r.status = LsFit::Status::NoRange; return r;
    case BinCheck::Ok: break;
  }
  double maximum;
  histogram_cells(values, bins, r.minimum, maximum, r.dx, r.m, sorted);
  return r;
}

LsFit fit_ls(std::span<const double> values, int bins, LsWorkspace& ws, bool solve, bool sorted) {
  LsFit r = ls_binning(values, bins, sorted);
  if (r.status != LsFit::Status::Ok) return r;
  const int max_cells = kMaxBinsFit + 1;
  // M is at most bins + 1 (and below max_cells by the check).
  ws.size_for(std::min(bins + 2, max_cells));

  double params[2];
  build_histogram(values, bins, {ws.x, ws.y, ws.counts, ws.raw}, params, r.minimum, r.dx, r.m,
                  sorted);
  const auto m = static_cast<std::size_t>(r.m);
  const std::span<const double> x(ws.x.data(), m), y(ws.y.data(), m);
  const std::span<double> fvec(ws.fvec.data(), m);
  r.x = x;
  r.y = y;
  r.raw = {ws.raw.data(), m};
  if (!solve) return r;

  int nfev = 0;
  auto residual = [&](int& iflag, int, int, const double* p, double* f, double*, int) {
    if (iflag != 1) return;  // print requests only: the Jacobian is by differences
    ++nfev;
    residuals(x, y, p[0], p[1], {f, m});
  };
  int info = 0;
  {
    const dnls::QuietScope quiet;
    const double tol = std::sqrt(dnls::D1MACH(4));
    dnls::DNLS1E(residual, 1, r.m, 2, params, fvec.data(), tol, 0, info, ws.iwa, ws.wa.data(),
                 static_cast<int>(ws.wa.size()));
  }
  r.info = info;
  r.nfev = nfev;
  r.a = params[0];
  r.b = params[1];
  if (info < 1 || info > 3) {
    r.status = LsFit::Status::SolverFailed;
    return r;
  }
  r.rerror = correlation(x, y, r.a, r.b, {ws.fitted.data(), m});
  r.sum_sq = sum_of_squares(fvec);
  r.l2 = plain_norm(fvec);
  r.serror = standard_error(fvec);
  r.fvec = fvec;
  return r;
}

}  // namespace korvalinde
