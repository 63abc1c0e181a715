// The three-parameter generalized Pareto distribution: the excess law Gpd
// moved to a location, F(x) = H(x - loc) for scale > 0 and shape (positive
// the heavy tail; Hosking's k = -shape), on loc <= x < loc - scale / shape
// when shape < 0, the exponential at shape 0.
#pragma once

#include <cmath>

#include "korvalinde/dist/gpd.hpp"
#include "korvalinde/dist/lmoment_ratios.hpp"
#include "korvalinde/dist/support.hpp"

namespace korvalinde::dist {

struct Gpa {
  double loc = 0, scale = 1, shape = 0;
};

namespace detail_gpa {
inline Gpd excess(const Gpa& d) { return {d.scale, d.shape}; }
}  // namespace detail_gpa

inline double cdf(const Gpa& d, double x) { return cdf(detail_gpa::excess(d), x - d.loc); }
inline double sf(const Gpa& d, double x) { return sf(detail_gpa::excess(d), x - d.loc); }
inline double log_cdf(const Gpa& d, double x) { return log_cdf(detail_gpa::excess(d), x - d.loc); }
inline double log_sf(const Gpa& d, double x) { return log_sf(detail_gpa::excess(d), x - d.loc); }
inline double pdf(const Gpa& d, double x) { return pdf(detail_gpa::excess(d), x - d.loc); }
inline double log_pdf(const Gpa& d, double x) { return log_pdf(detail_gpa::excess(d), x - d.loc); }
inline double quantile(const Gpa& d, double p) { return d.loc + quantile(detail_gpa::excess(d), p); }
inline double quantile_complement(const Gpa& d, double q) {
  return d.loc + quantile_complement(detail_gpa::excess(d), q);
}
inline Support support(const Gpa& d) {
  return {d.loc, d.shape < 0 ? d.loc - d.scale / d.shape : std::numeric_limits<double>::infinity()};
}

// l1 = loc + scale / (1 - s), l2 = scale / ((1 - s)(2 - s)),
// tau3 = (1 + s) / (3 - s), tau4 = tau3 (2 + s) / (4 - s),
// tau5 = tau4 (3 + s) / (5 - s); finite for s < 1.
inline LmomentRatios lmoment_ratios(const Gpa& d) {
  const double s = d.shape;
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  if (!(s < 1)) return {nan, nan, nan, nan, nan};
  const double t3 = (1 + s) / (3 - s), t4 = t3 * (2 + s) / (4 - s);
  return {d.loc + d.scale / (1 - s), d.scale / ((1 - s) * (2 - s)), t3, t4, t4 * (3 + s) / (5 - s)};
}

}  // namespace korvalinde::dist
