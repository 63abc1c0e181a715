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

// tau4 of the member of a one-shape family whose tau3 is t3: `ratios(s)` is
// the L-moment ratios at shape s, and tau3 is monotone in s over [lo, hi];
// the shape is found to the last bits. NaN where t3 lies outside the tau3 of
// [lo, hi] or a ratio is not finite. E.g. for the GEV in Hosking's k,
// tau4_by_shape([](double k) { return lmoment_ratios(Kappa{0, 1, k, 0}); }, -1 + 1e-12, 60, t3).
template <class Ratios>
double tau4_by_shape(Ratios&& ratios, double lo, double hi, double t3) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  double t4 = nan;
  auto f = [&](double s) {
    const dist::LmomentRatios r = ratios(s);
    t4 = r.t4;
    return std::isfinite(r.t3) && std::isfinite(r.t4) ? r.t3 - t3 : nan;
  };
  const double flo = f(lo), fhi = f(hi);
  if (flo == 0 || fhi == 0) {
    f(flo == 0 ? lo : hi);
    return t4;
  }
  if (!(flo * fhi < 0)) return nan;
  const double s = detail::illinois_root(f, lo, hi, flo, fhi, 4 * std::numeric_limits<double>::epsilon());
  return std::isnan(s) || std::isnan(f(s)) ? nan : t4;  // f sets t4
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
