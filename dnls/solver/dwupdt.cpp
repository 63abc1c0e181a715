#include "dnls/solver/dnls.hpp"
#include "dnls/solver/givens.hpp"

namespace dnls {

// Adds the row w (with right-hand side alpha) to the upper triangular
// system R*x = b: Givens rotation j eliminates the j-th component of the
// row against R(j,j). The strict lower triangle of r is not touched.
void DWUPDT(int n, double* r, int ldr, const double* w, double* b, double& alpha, double* cos,
            double* sin) {
  constexpr double one = 1.0, zero = 0.0;
  auto R = [r, ldr](int i, int j) -> double& { return r[static_cast<long>(j) * ldr + i]; };

  for (int j = 0; j < n; ++j) {
    double rowj = w[j];

    // Apply the previous rotations to column j.
    for (int i = 0; i < j; ++i) rotate(cos[i], sin[i], R(i, j), rowj);

    cos[j] = one;
    sin[j] = zero;
    if (rowj == zero) continue;

    const Givens g = givens(R(j, j), rowj);
    cos[j] = g.cos;
    sin[j] = g.sin;
    R(j, j) = cos[j] * R(j, j) + sin[j] * rowj;
    rotate(cos[j], sin[j], b[j], alpha);
  }
}

}  // namespace dnls
