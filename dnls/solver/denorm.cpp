#include <cmath>

#include "dnls/solver/dnls.hpp"

namespace dnls {

// Three accumulators keep the squares in range: s2 sums the squares of
// intermediate components directly, s1 and s3 sum the squares of large and
// small components scaled by the largest magnitude seen in their class.
double DENORM(int n, const double* x) {
  constexpr double one = 1.0, zero = 0.0;
  constexpr double rdwarf = 3.834e-20, rgiant = 1.304e19;

  double s1 = zero, s2 = zero, s3 = zero, x1max = zero, x3max = zero;
  const double agiant = rgiant / static_cast<double>(n);
  for (int i = 0; i < n; ++i) {
    const double xabs = std::fabs(x[i]);
    if (xabs > rdwarf && xabs < agiant) {
      s2 = s2 + xabs * xabs;
    } else if (xabs <= rdwarf) {
      if (xabs <= x3max) {
        if (xabs != zero) {
          const double t = xabs / x3max;
          s3 = s3 + t * t;
        }
      } else {
        const double t = x3max / xabs;
        s3 = one + s3 * (t * t);
        x3max = xabs;
      }
    } else if (xabs <= x1max) {
      const double t = xabs / x1max;
      s1 = s1 + t * t;
    } else {
      const double t = x1max / xabs;
      s1 = one + s1 * (t * t);
      x1max = xabs;
    }
  }

  if (s1 != zero) return x1max * std::sqrt(s1 + (s2 / x1max) / x1max);
  if (s2 != zero) {
    if (s2 >= x3max) return std::sqrt(s2 * (one + (x3max / s2) * (x3max * s3)));
    return std::sqrt(x3max * ((s2 / x3max) + (x3max * s3)));
  }
  return x3max * std::sqrt(s3);
}

}  // namespace dnls
