#include "dnls/messages/xerror.hpp"
#include "dnls/solver/dnls.hpp"

namespace dnls {

// Checks the arguments, derives every tuning value from tol and cuts wa into
// diag, qtf, three n-vectors, one m-vector and the Jacobian area:
//   wa[0, n)  diag          wa[n, 2n)   qtf
//   wa[2n, 3n), [3n, 4n), [4n, 5n)  work vectors
//   wa[5n, 5n+m)  work vector of m
//   wa[5n+m, ...) Jacobian, leading dimension m (options 1, 2) or n (option 3,
//                 which stores only the n by n triangle).
void DNLS1E(ResidualFn fcn, int iopt, int m, int n, double* x, double* fvec, double tol, int nprint,
            int& info, int* iwa, double* wa, int lwa) {
  constexpr double factor = 100.0, zero = 0.0;

  info = 0;
  // 64-bit sizes: an oversized m or n must not wrap around into a pass.
  const long long nn = n, mm = m;
  const bool invalid = iopt < 1 || iopt > 3 || n <= 0 || m < n || tol < zero ||
                       lwa < nn * (nn + 5) + mm || (iopt < 3 && lwa < nn * (mm + 5) + mm);
  if (!invalid) {
    int maxfev = 100 * (n + 1);
    if (iopt == 1) maxfev = 2 * maxfev;
    const int mode = 1, index = 5 * n + m, ldfjac = iopt == 3 ? n : m;
    int nfev = 0, njev = 0;
    DNLS1(fcn, iopt, m, n, x, fvec, &wa[index], ldfjac, tol, tol, zero, maxfev, zero, wa, mode,
          factor, nprint, info, nfev, njev, iwa, &wa[n], &wa[2 * n], &wa[3 * n], &wa[4 * n],
          &wa[5 * n]);
    if (info == 8) info = 4;
  }
  if (info == 0) XERMSG("SLATEC", "DNLS1E", "INVALID INPUT PARAMETER.", 2, 1);
}

}  // namespace dnls
