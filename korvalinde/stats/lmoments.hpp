// Sample L-moments and the L-moment fits of every family: the parameters
// whose L-moments equal the sample's, found exactly (closed forms where they
// exist, otherwise roots to full double precision).
#pragma once

#include <cstddef>
#include <span>

#include "korvalinde/dist/lmoment_ratios.hpp"

namespace korvalinde::dist {
struct Exponential;
struct Gev;
struct Glo;
struct Gno;
struct Gpa;
struct Gumbel;
struct Kappa;
struct Lognormal;
struct Lp3;
struct Normal;
struct Pe3;
struct Wakeby;
struct Weibull;
}  // namespace korvalinde::dist

namespace korvalinde::stats {

// n and the L-moments of a sample: l1, l2, t = l2 / l1 (the L-CV), t3, t4, t5.
struct SampleLmoments {
  std::size_t n;
  double l1, l2, t, t3, t4, t5;
};

// From the ascending sample by the unbiased probability-weighted moments
// b0..b4; a ratio needs as many values as its order (t5 NaN for n < 5).
SampleLmoments sample_lmoments(std::span<const double> sorted);

// L-moment fits: true with `out` set when the ratios lie in the family's
// feasible region, false (out untouched) otherwise. The Kappa uses l1, l2,
// t3 and t4; the Wakeby l1 to t5.
bool fit_lmom(const dist::LmomentRatios& r, dist::Kappa& out);
// The three-parameter families use l1, l2 and t3 (the Lp3 those of the
// log10 sample), the two-parameter ones l1 and l2 (the Lognormal with lower
// bound 0 needs l1 > 0 and l2 < l1). The shape is a root of tau3 to full
// precision where it has no closed form: GEV, GNO, PE3, Weibull.
bool fit_lmom(const dist::LmomentRatios& r, dist::Gev& out);
bool fit_lmom(const dist::LmomentRatios& r, dist::Gumbel& out);
bool fit_lmom(const dist::LmomentRatios& r, dist::Gpa& out);
bool fit_lmom(const dist::LmomentRatios& r, dist::Glo& out);
bool fit_lmom(const dist::LmomentRatios& r, dist::Gno& out);
bool fit_lmom(const dist::LmomentRatios& r, dist::Pe3& out);
bool fit_lmom(const dist::LmomentRatios& r, dist::Lp3& out);
bool fit_lmom(const dist::LmomentRatios& r, dist::Weibull& out);
bool fit_lmom(const dist::LmomentRatios& r, dist::Exponential& out);
bool fit_lmom(const dist::LmomentRatios& r, dist::Normal& out);
bool fit_lmom(const dist::LmomentRatios& r, dist::Lognormal& out);

// The ratios of a sample as the fits take them (t5 NaN when not computed).
inline dist::LmomentRatios ratios(const SampleLmoments& s) { return {s.l1, s.l2, s.t3, s.t4, s.t5}; }
bool fit_lmom(const dist::LmomentRatios& r, dist::Wakeby& out);

}  // namespace korvalinde::stats
