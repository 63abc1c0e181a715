// The shape of the GNO and Pearson III whose tau3 is a given t3, with its
// derivative in t3 and tau4 at that shape: the L-moment fits' root and the
// L-moment distance without a root find or quadrature. Tabled for
// |t3| <= 0.9 by piecewise Chebyshev series generated at 30 digits
// (scripts/make_lmoment_curves.py); exact to a few units in the last place.
#pragma once

namespace korvalinde::dist {

struct CurvePoint {
  bool ok = false;  // false outside the table: use the exact root and quadrature
  double shape = 0, dshape = 0, tau4 = 0;  // dshape = d shape / d t3
};

// The GNO's shape (tau3 odd in it, rising).
CurvePoint gno_curve(double t3);
// The Pearson III's skew.
CurvePoint pe3_curve(double t3);

}  // namespace korvalinde::dist
