#include <algorithm>
#include <cmath>

#include "dnls/messages/machine.hpp"
#include "dnls/solver/dnls.hpp"

namespace dnls {

// Forward-difference Jacobian, one residual evaluation per column. Each x[j]
// is displaced for its column and restored exactly afterwards; a negative
// iflag from fcn stops at once, leaving x[j] displaced.
void DFDJC3(ResidualFn fcn, int m, int n, double* x, const double* fvec, double* fjac, int ldfjac,
            int& iflag, double epsfcn, double* wa) {
  constexpr double zero = 0.0;

  const double epsmch = D1MACH(4);
  const double eps = std::sqrt(std::max(epsfcn, epsmch));
  iflag = 1;
  for (int j = 0; j < n; ++j) {
    const double temp = x[j];
    double h = eps * std::fabs(temp);
    if (h == zero) h = eps;
    x[j] = temp + h;
    fcn(iflag, m, n, x, wa, fjac, ldfjac);
    if (iflag < 0) return;
    x[j] = temp;
    double* col = fjac + static_cast<long>(j) * ldfjac;
    for (int i = 0; i < m; ++i) col[i] = (wa[i] - fvec[i]) / h;
  }
}

}  // namespace dnls
