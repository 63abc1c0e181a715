#include "korvalinde/stats/lmoment_diagram.hpp"

#include <cmath>
#include <limits>

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
// brackets every tau3 in (-1, 1) a double can tell from -1. Regula falsi
// with the Illinois modification, to the last bits of k.
double tau4_gev(double t3) {
  if (!(t3 > -1 && t3 < 1)) return kNaN;
  double lo = -1 + 1e-12, hi = 60, t4 = kNaN, s3 = 0;
  if (!gev_taus(lo, s3, t4)) return kNaN;
  double flo = s3 - t3;
  if (!gev_taus(hi, s3, t4)) return kNaN;
  double fhi = s3 - t3;
  if (!(flo > 0 && fhi < 0)) return kNaN;
  int side = 0;
  for (int i = 0; i < 200 && hi - lo > 4 * std::numeric_limits<double>::epsilon() * (1 + std::fabs(lo)); ++i) {
    const double k = (lo * fhi - hi * flo) / (fhi - flo);
    if (!gev_taus(k, s3, t4)) return kNaN;
    const double f = s3 - t3;
    if (f == 0) return t4;
    if (f > 0) {
      lo = k, flo = f;
      if (side == -1) fhi *= 0.5;
      side = -1;
    } else {
      hi = k, fhi = f;
      if (side == 1) flo *= 0.5;
      side = 1;
    }
  }
  return gev_taus(0.5 * (lo + hi), s3, t4) ? t4 : kNaN;
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
