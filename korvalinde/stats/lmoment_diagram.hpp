// The theoretical curves of the L-moment ratio diagram: tau4 as a function of
// tau3 for the three-parameter families that regional analysis chooses
// among, and the lower bound of tau4 over all distributions.
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "korvalinde/detail/bracket.hpp"
#include "korvalinde/dist/lmoment_ratios.hpp"

namespace korvalinde::stats {

// One curve: tau4 at each tau3 of the grid (NaN where the family does not
// reach that tau3).
struct RatioCurve {
  std::string name;  // "GLO", "GEV", "GNO", "PE3", "GPA", "lower bound"
  std::vector<double> t3, t4;
};

// tau4 of the member of a one-shape family whose tau3 is t3: `tau3(s)` is
// its L-skewness at shape s, monotone in s over [lo, hi], and `ratios(s)` its
// L-moment ratios; the shape is found to the last bits from tau3 alone (the
// families whose tau4 needs a quadrature pay for it once). NaN where t3 lies
// outside the tau3 of [lo, hi] or a ratio is not finite. E.g. for the GEV in
// Hosking's k, with r(k) = lmoment_ratios(Kappa{0, 1, k, 0}):
// tau4_by_shape([&](double k) { return r(k).t3; }, r, -1 + 1e-12, 60, t3).
template <class Tau3, class Ratios>
double tau4_by_shape(Tau3&& tau3, Ratios&& ratios, double lo, double hi, double t3) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  auto f = [&](double s) {
    const double v = tau3(s);
    return std::isfinite(v) ? v - t3 : nan;
  };
  auto t4_at = [&](double s) {
    const double t4 = ratios(s).t4;
    return std::isfinite(t4) ? t4 : nan;
  };
  const double flo = f(lo), fhi = f(hi);
  if (flo == 0 || fhi == 0) return t4_at(flo == 0 ? lo : hi);
  if (!(flo * fhi < 0)) return nan;
  const double s = detail::illinois_root(f, lo, hi, flo, fhi, 4 * std::numeric_limits<double>::epsilon());
  return std::isnan(s) || std::isnan(f(s)) ? nan : t4_at(s);
}

// tau4 of the GEV whose tau3 is t3 (its shape found to full precision);
// NaN unless -1 < t3 < 1.
double tau4_gev(double t3);

// tau4 of the generalized Pareto, t3 (1 + 5 t3) / (5 + t3).
double tau4_gpa(double t3);

// The curves of GLO, GEV, GNO, PE3, GPA and the lower bound at n values of
// tau3 evenly spaced over [t3_lo, t3_hi] (n >= 2, -1 < t3_lo < t3_hi < 1).
std::vector<RatioCurve> lmoment_ratio_curves(double t3_lo, double t3_hi, std::size_t n);

}  // namespace korvalinde::stats
