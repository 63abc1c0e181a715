#include "korvalinde/dist/lmoment_curves.hpp"

#include <cmath>
#include <cstddef>
#include <span>

namespace korvalinde::dist {

namespace {

constexpr std::size_t kTerms = 22;

// On [lo, hi] in u = t3^2: shape = t3 sum c_j T_j(x), tau4 = sum d_j T_j(x).
struct CurvePiece {
  double lo, hi;
  double shape[kTerms];
  double tau4[kTerms];
};

#include "korvalinde/dist/lmoment_curves_table.inc"

struct Series {
  double value, slope;  // slope in x
};

// Clenshaw's recurrence for the sum and its derivative (U_(j-1) terms).
Series clenshaw(const double (&c)[kTerms], double x) {
  double b1 = 0, b2 = 0, d1 = 0, d2 = 0;
  for (std::size_t j = kTerms; j-- > 1;) {
    const double b = 2 * x * b1 - b2 + c[j];
    const double d = 2 * x * d1 - d2 + 2 * b1;
    b2 = b1, b1 = b;
    d2 = d1, d1 = d;
  }
  return {x * b1 - b2 + c[0], x * d1 - d2 + b1};
}

CurvePoint curve(std::span<const CurvePiece> pieces, double t3) {
  // A fit asks for its family's point twice (the shape, then tau4 for the
  // L-moment distance): the last point is kept.
  thread_local const CurvePiece* last_pieces = nullptr;
  thread_local double last_t3 = 0;
  thread_local CurvePoint last;
  if (pieces.data() == last_pieces && t3 == last_t3 && std::signbit(t3) == std::signbit(last_t3)) return last;
  CurvePoint r;
  const double u = t3 * t3;
  if (!(u >= pieces.front().lo && u <= pieces.back().hi)) return r;
  std::size_t k = 0;
  while (u > pieces[k].hi) ++k;
  const CurvePiece& p = pieces[k];
  const double w = 2 / (p.hi - p.lo);
  const double x = std::fmin(1.0, std::fmax(-1.0, (2 * u - p.lo - p.hi) / (p.hi - p.lo)));
  const Series s = clenshaw(p.shape, x);
  // shape = t3 P(u): d shape / d t3 = P + 2 u P'(u), with P'(u) = w dP/dx.
  r.ok = true;
  r.shape = t3 * s.value;
  r.dshape = s.value + 2 * u * w * s.slope;
  r.tau4 = clenshaw(p.tau4, x).value;
  last_pieces = pieces.data(), last_t3 = t3, last = r;
  return r;
}

}  // namespace

CurvePoint gno_curve(double t3) { return curve(kGnoPieces, t3); }
CurvePoint pe3_curve(double t3) { return curve(kPe3Pieces, t3); }

}  // namespace korvalinde::dist
