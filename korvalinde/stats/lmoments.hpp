// Sample L-moments and the L-moment fits of every family: the parameters
// whose L-moments equal the sample's, found exactly (closed forms where they
// exist, otherwise roots to full double precision).
#pragma once

#include <cstddef>
#include <span>

#include "korvalinde/dist/lmoment_ratios.hpp"

namespace korvalinde::dist {
struct Kappa;
struct Wakeby;
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
bool fit_lmom(const dist::LmomentRatios& r, dist::Wakeby& out);

}  // namespace korvalinde::stats
