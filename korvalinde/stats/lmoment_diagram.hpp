// The theoretical curves of the L-moment ratio diagram: tau4 as a function of
// tau3 for the three-parameter families that regional analysis chooses
// among, and the lower bound of tau4 over all distributions.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace korvalinde::stats {

// One curve: tau4 at each tau3 of the grid (NaN where the family does not
// reach that tau3).
struct RatioCurve {
  std::string name;  // "GLO", "GEV", "GNO", "PE3", "GPA", "lower bound"
  std::vector<double> t3, t4;
};

// tau4 of the GEV whose tau3 is t3 (its shape found to full precision);
// NaN unless -1 < t3 < 1.
double tau4_gev(double t3);

// tau4 of the generalized Pareto, t3 (1 + 5 t3) / (5 + t3).
double tau4_gpa(double t3);

// The curves of GLO, GEV, GNO, PE3, GPA and the lower bound at n values of
// tau3 evenly spaced over [t3_lo, t3_hi] (n >= 2, -1 < t3_lo < t3_hi < 1).
std::vector<RatioCurve> lmoment_ratio_curves(double t3_lo, double t3_hi, std::size_t n);

}  // namespace korvalinde::stats
