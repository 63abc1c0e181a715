// ln(1 + u) / u and (e^v - 1) / v, the building blocks of the distributions
// whose shape passes through 0: log1p and expm1 are exact to rounding for
// small arguments, so the ratios are too; at 0 they are 1.
#pragma once

#include <cmath>

namespace korvalinde::dist {

inline double log1p_ratio(double u) { return u == 0 ? 1.0 : std::log1p(u) / u; }

inline double expm1_ratio(double v) { return v == 0 ? 1.0 : std::expm1(v) / v; }

}  // namespace korvalinde::dist
