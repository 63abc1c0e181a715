#include "korvalinde/stats/lmoment_diagram.hpp"

#include <cmath>
#include <limits>

#include "korvalinde/dist/gno.hpp"
#include "korvalinde/dist/kappa.hpp"
#include "korvalinde/dist/pe3.hpp"

namespace korvalinde::stats {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

// tau3 falls from 1 at k = -1 to -1 + 2^(1-k) for large k: k in (-1, 60)
// brackets every tau3 in (-1, 1) a double can tell from -1.
double tau4_gev(double t3) {
  if (!(t3 > -1 && t3 < 1)) return kNaN;
  auto r = [](double k) { return dist::lmoment_ratios(dist::Kappa{0, 1, k, 0}); };
  return tau4_by_shape([&](double k) { return r(k).t3; }, r, -1 + 1e-12, 60, t3);
}

double tau4_gpa(double t3) {
  if (!(t3 > -1 && t3 < 1)) return kNaN;
  return t3 * (1 + 5 * t3) / (5 + t3);
}

std::vector<RatioCurve> lmoment_ratio_curves(double t3_lo, double t3_hi, std::size_t n) {
  std::vector<RatioCurve> curves{{"GLO", {}, {}}, {"GEV", {}, {}}, {"GNO", {}, {}},
                                 {"PE3", {}, {}}, {"GPA", {}, {}}, {"lower bound", {}, {}}};
  // The shapes over which the generalized normal and Pearson III reach
  // |tau3| of about 0.9 and 0.95.
  auto gno = [](double s) { return dist::lmoment_ratios(dist::Gno{0, 1, s}); };
  auto pe3 = [](double g) { return dist::lmoment_ratios(dist::Pe3{0, 1, g}); };
  if (n < 2 || !(t3_lo < t3_hi)) return curves;
  for (std::size_t i = 0; i < n; ++i) {
    const double t3 = t3_lo + (t3_hi - t3_lo) * static_cast<double>(i) / static_cast<double>(n - 1);
    const bool inside = t3 > -1 && t3 < 1;
    const double t4[] = {inside ? dist::tau4_glo(t3) : kNaN,        tau4_gev(t3),
                         inside ? tau4_by_shape(dist::gno_tau3, gno, -3, 3, t3) : kNaN,
                         inside ? tau4_by_shape(dist::pe3_tau3, pe3, -6, 6, t3) : kNaN,
                         tau4_gpa(t3),                                inside ? dist::tau4_lower_bound(t3) : kNaN};
    for (std::size_t c = 0; c < curves.size(); ++c) {
      curves[c].t3.push_back(t3);
      curves[c].t4.push_back(t4[c]);
    }
  }
  return curves;
}

}  // namespace korvalinde::stats
