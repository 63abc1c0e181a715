// Givens rotations of the solver's row eliminations.
#pragma once

#include <cmath>

namespace dnls {

struct Givens {
  double cos, sin;
};

// The rotation that eliminates b against a (b nonzero): -sin*a + cos*b = 0.
// From the tangent b/a when |a| >= |b|, else from the cotangent a/b, so the
// quotient never exceeds 1 in magnitude.
inline Givens givens(double a, double b) {
  constexpr double p5 = 0.5, p25 = 0.25;
  Givens g;
  if (std::fabs(a) >= std::fabs(b)) {
    const double tan = b / a;
    g.cos = p5 / std::sqrt(p25 + p25 * (tan * tan));
    g.sin = g.cos * tan;
  } else {
    const double cotan = a / b;
    g.sin = p5 / std::sqrt(p25 + p25 * (cotan * cotan));
    g.cos = g.sin * cotan;
  }
  return g;
}

// Applies the rotation to the pair (u, v).
inline void rotate(double cos, double sin, double& u, double& v) {
  const double temp = cos * u + sin * v;
  v = -sin * u + cos * v;
  u = temp;
}

}  // namespace dnls
