// The variate y = ln(1 + shape z) / shape of z = (x - loc) / scale, z itself at
// shape 0, in which the GEV, the generalized logistic and the generalized
// normal are written (their reduced variate), and its inverse
// z = (e^(shape y) - 1) / shape. log1p and expm1 keep both exact to rounding
// for any small shape, so these families pass continuously into their shape-0
// limits.
#pragma once

#include <cmath>
#include <limits>

#include "korvalinde/dist/ratios.hpp"
#include "korvalinde/dist/support.hpp"

namespace korvalinde::dist {

// y at z; NaN outside the support (1 + shape z <= 0) or for NaN z.
inline double shape_variate(double shape, double z) {
  const double u = shape * z;
  if (!(u > -1)) return std::numeric_limits<double>::quiet_NaN();
  return z * log1p_ratio(u);
}

// z at y, the end point -1/shape for the infinite y on the bounded side.
inline double shape_variate_inverse(double shape, double y) {
  if (std::isinf(y)) {
    const bool bounded = (y > 0) == (shape < 0);
    return bounded ? -1.0 / shape : y;
  }
  return y * expm1_ratio(shape * y);
}

// The support of such a family: bounded below at loc - scale / shape for a
// positive shape, above for a negative one.
inline Support shape_support(double loc, double scale, double shape) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  if (shape > 0) return {loc - scale / shape, inf};
  if (shape < 0) return {-inf, loc - scale / shape};
  return {-inf, inf};
}

}  // namespace korvalinde::dist
