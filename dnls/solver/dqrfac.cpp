#include <algorithm>
#include <cmath>

#include "dnls/messages/machine.hpp"
#include "dnls/solver/dnls.hpp"

namespace dnls {

// Householder QR with optional column pivoting (largest remaining column
// norm first). On return A holds R above the diagonal and the Householder
// vectors on and below it; the diagonal of R is in rdiag. ipvt holds column
// numbers counted from 1.
void DQRFAC(int m, int n, double* a, int lda, bool pivot, int* ipvt, int /*lipvt*/, double* rdiag,
            double* acnorm, double* wa) {
  constexpr double one = 1.0, p05 = 0.05, zero = 0.0;
  auto at = [a, lda](int i, int j) { return a + static_cast<long>(j) * lda + i; };
  auto A = [at](int i, int j) -> double& { return *at(i, j); };

  const double epsmch = D1MACH(4);

  for (int j = 0; j < n; ++j) {
    acnorm[j] = DENORM(m, at(0, j));
    rdiag[j] = acnorm[j];
    wa[j] = rdiag[j];
    if (pivot) ipvt[j] = j + 1;
  }

  const int minmn = std::min(m, n);
  for (int j = 0; j < minmn; ++j) {
    if (pivot) {
      // Bring the column of largest remaining norm into position j; on a tie
      // the lowest index wins.
      int kmax = j;
      for (int k = j; k < n; ++k) {
        if (rdiag[k] > rdiag[kmax]) kmax = k;
      }
      if (kmax != j) {
        for (int i = 0; i < m; ++i) std::swap(A(i, j), A(i, kmax));
        rdiag[kmax] = rdiag[j];
        wa[kmax] = wa[j];
        std::swap(ipvt[j], ipvt[kmax]);
      }
    }

    // Householder transformation that reduces column j to a multiple of e_j.
    double ajnorm = DENORM(m - j, at(j, j));
    if (ajnorm != zero) {
      if (A(j, j) < zero) ajnorm = -ajnorm;
      for (int i = j; i < m; ++i) A(i, j) = A(i, j) / ajnorm;
      A(j, j) = A(j, j) + one;

      // Apply it to the remaining columns and downdate their norms.
      for (int k = j + 1; k < n; ++k) {
        double sum = zero;
        for (int i = j; i < m; ++i) sum = sum + A(i, j) * A(i, k);
        double temp = sum / A(j, j);
        for (int i = j; i < m; ++i) A(i, k) = A(i, k) - temp * A(i, j);
        if (pivot && rdiag[k] != zero) {
          temp = A(j, k) / rdiag[k];
          rdiag[k] = rdiag[k] * std::sqrt(std::max(zero, one - temp * temp));
          const double ratio = rdiag[k] / wa[k];
          if (p05 * (ratio * ratio) <= epsmch) {
            // Too much cancellation: recompute the norm of the rest of column k.
            rdiag[k] = DENORM(m - j - 1, at(j + 1, k));
            wa[k] = rdiag[k];
          }
        }
      }
    }
    rdiag[j] = -ajnorm;
  }
}

}  // namespace dnls
