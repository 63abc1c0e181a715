// Parametric bootstrap of one fitted method.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "korvalinde/records/result.hpp"

namespace korvalinde::stats {

// Refits (a, b) to an ascending sample; false when the fit fails. Called
// concurrently from several threads: it must not share mutable state.
using Refit = std::function<bool(std::span<const double> sorted, double& a, double& b)>;

struct BootstrapSpec {
  std::size_t n = 0;       // size of every replicate sample
  int replicates = 0;      // B
  std::uint64_t seed = 0;  // S
  unsigned threads = 1;    // never changes the results
  double prob = 0.99;      // DPA_CUT probability
  std::span<const double> periods;
  // Polled before each replicate, from any thread; once it returns true the
  // remaining replicates are skipped (counted failed) and the caller is
  // expected to discard the result.
  std::function<bool()> interrupted = nullptr;
  double confidence = 0.95;  // of the percentile intervals
};

// Draws B samples of size n from the Gumbel distribution (a, b) -- replicate
// k from its own stream Xoshiro256ss::stream(S, k), x = a - b ln(-ln u) --,
// sorts and refits each, and returns central percentile intervals (of the
// plan's confidence) of a, b, the quantile and each return level, the
// standard deviations of a and b, and
// the p-values of D, W^2 and A^2: the share of successful replicates whose
// statistic (against their own refit) is >= the observed one in `observed`.
// A replicate whose refit fails (or throws, or gives b <= 0 or non-finite
// values) is counted in Boot::failed and left out of everything else.
// Percentiles interpolate linearly between order statistics: the p-point of
// m sorted values v_0..v_(m-1) is at position (m - 1) p.
Boot bootstrap(double a, double b, const Gof& observed, const Refit& refit,
               const BootstrapSpec& plan);

// The percentile p of ascending values, as defined above; NaN when empty.
double percentile(std::span<const double> sorted, double p);

}  // namespace korvalinde::stats
