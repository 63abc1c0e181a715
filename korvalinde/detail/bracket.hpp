// A root of a continuous function on a bracket over which it changes sign,
// by regula falsi with the Illinois modification (the value at an end kept
// twice in a row is halved), which converges superlinearly where plain
// regula falsi would stall at one end.
#pragma once

#include <cmath>

namespace korvalinde::detail {

// f(lo) = flo and f(hi) = fhi of opposite signs, lo < hi. Stops where f
// vanishes or the bracket is narrower than tol (1 + |lo|); NaN where f
// gives NaN.
template <class F>
double illinois_root(F&& f, double lo, double hi, double flo, double fhi, double tol) {
  int side = 0;
  for (int i = 0; i < 200 && hi - lo > tol * (1 + std::fabs(lo)); ++i) {
    const double x = (lo * fhi - hi * flo) / (fhi - flo);
    const double fx = f(x);
    if (std::isnan(fx) || fx == 0) return std::isnan(fx) ? fx : x;
    if ((fx > 0) == (flo > 0)) {
      lo = x, flo = fx;
      if (side == -1) fhi *= 0.5;
      side = -1;
    } else {
      hi = x, fhi = fx;
      if (side == 1) flo *= 0.5;
      side = 1;
    }
  }
  return 0.5 * (lo + hi);
}

}  // namespace korvalinde::detail
