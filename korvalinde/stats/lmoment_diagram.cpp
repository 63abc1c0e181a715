#include "korvalinde/stats/lmoment_diagram.hpp"

#include <cmath>
#include <limits>

#include "korvalinde/detail/bracket.hpp"
#include "korvalinde/dist/kappa.hpp"

namespace korvalinde::stats {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// tau3 and tau4 of the GEV of Hosking's shape k (the Kappa at h = 0).
bool gev_taus(double k, double& t3, double& t4) {
  double e[6];
  if (!dist::detail_kappa::ratio_terms(k, 0, 4, e)) return false;
  t3 = dist::detail_kappa::tau3_of(e);
  t4 = dist::detail_kappa::tau4_of(e);
  return std::isfinite(t3) && std::isfinite(t4);
}

}  // namespace

// tau3 falls from 1 at k = -1 to -1 + 2^(1-k) for large k: k in (-1, 60)
// brackets every tau3 in (-1, 1) a double can tell from -1; the root is
// found to the last bits of k.
double tau4_gev(double t3) {
  if (!(t3 > -1 && t3 < 1)) return kNaN;
  double s3 = 0, t4 = kNaN;
  auto f = [&](double k) { return gev_taus(k, s3, t4) ? s3 - t3 : kNaN; };
  const double lo = -1 + 1e-12, hi = 60, flo = f(lo), fhi = f(hi);
  if (!(flo > 0 && fhi < 0)) return kNaN;
  const double k = detail::illinois_root(f, lo, hi, flo, fhi, 4 * std::numeric_limits<double>::epsilon());
  return std::isnan(k) || std::isnan(f(k)) ? kNaN : t4;  // f sets t4
}

double tau4_gpa(double t3) {
  if (!(t3 > -1 && t3 < 1)) return kNaN;
  return t3 * (1 + 5 * t3) / (5 + t3);
}

std::vector<RatioCurve> lmoment_ratio_curves(double t3_lo, double t3_hi, std::size_t n) {
  std::vector<RatioCurve> curves{{"GLO", {}, {}}, {"GEV", {}, {}}, {"GPA", {}, {}}, {"lower bound", {}, {}}};
  if (n < 2 || !(t3_lo < t3_hi)) return curves;
  for (std::size_t i = 0; i < n; ++i) {
    const double t3 = t3_lo + (t3_hi - t3_lo) * static_cast<double>(i) / static_cast<double>(n - 1);
    const bool inside = t3 > -1 && t3 < 1;
    const double t4[] = {inside ? dist::tau4_glo(t3) : kNaN, tau4_gev(t3), tau4_gpa(t3),
                         inside ? dist::tau4_lower_bound(t3) : kNaN};
    for (std::size_t c = 0; c < curves.size(); ++c) {
      curves[c].t3.push_back(t3);
      curves[c].t4.push_back(t4[c]);
    }
  }
  return curves;
}

}  // namespace korvalinde::stats
