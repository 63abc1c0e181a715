#include <cmath>

#include "dnls/solver/dnls.hpp"

namespace dnls {

// Adds the row w (with right-hand side alpha) to the upper triangular
// system R*x = b: Givens rotation j eliminates the j-th component of the
// row against R(j,j). The strict lower triangle of r is not touched.
void DWUPDT(int n, double* r, int ldr, const double* w, double* b, double& alpha, double* cos,
            double* sin) {
  constexpr double one = 1.0, p5 = 0.5, p25 = 0.25, zero = 0.0;
  auto R = [r, ldr](int i, int j) -> double& { return r[static_cast<long>(j) * ldr + i]; };

  for (int j = 0; j < n; ++j) {
    double rowj = w[j];

    // Apply the previous rotations to column j.
    for (int i = 0; i < j; ++i) {
      const double temp = cos[i] * R(i, j) + sin[i] * rowj;
      rowj = -sin[i] * R(i, j) + cos[i] * rowj;
      R(i, j) = temp;
    }

    cos[j] = one;
    sin[j] = zero;
    if (rowj == zero) continue;

    if (std::fabs(R(j, j)) >= std::fabs(rowj)) {
      const double tan = rowj / R(j, j);
      cos[j] = p5 / std::sqrt(p25 + p25 * (tan * tan));
      sin[j] = cos[j] * tan;
    } else {
      const double cotan = R(j, j) / rowj;
      sin[j] = p5 / std::sqrt(p25 + p25 * (cotan * cotan));
      cos[j] = sin[j] * cotan;
    }
    R(j, j) = cos[j] * R(j, j) + sin[j] * rowj;
    const double temp = cos[j] * b[j] + sin[j] * alpha;
    alpha = -sin[j] * b[j] + cos[j] * alpha;
    b[j] = temp;
  }
}

}  // namespace dnls
