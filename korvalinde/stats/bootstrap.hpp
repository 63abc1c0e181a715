// Parametric bootstrap of one fitted method, Gumbel or GEV.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "korvalinde/dist/gev.hpp"
#include "korvalinde/records/result.hpp"

namespace korvalinde::stats {

// Refits (a, b) to an ascending sample; false when the fit fails. Called
// concurrently from several threads: it must not share mutable state.
using Refit = std::function<bool(std::span<const double> sorted, double& a, double& b)>;

// The same for the GEV (loc, scale, shape).
using GevRefit = std::function<bool(std::span<const double> sorted, dist::Gev& d)>;

// The GEV refits by maximum likelihood and by L-moments (one thread each).
bool refit_gev_mle(std::span<const double> sorted, dist::Gev& d);
bool refit_gev_lmom(std::span<const double> sorted, dist::Gev& d);

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

// The plan for samples of n values from fit options that name the same
// settings (bootstrap, seed, threads, prob, periods, interrupted, confidence).
template <class Options>
BootstrapSpec bootstrap_plan(std::size_t n, const Options& o) {
  BootstrapSpec plan;
  plan.n = n;
  plan.replicates = o.bootstrap;
  plan.seed = o.seed;
  plan.threads = o.threads;
  plan.prob = o.prob;
  plan.periods = o.periods;
  plan.interrupted = o.interrupted;
  plan.confidence = o.confidence;
  return plan;
}

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

// The same for a GEV fit d: replicate k draws x = quantile(d, u) from the
// same stream as above and is refitted by `refit`; intervals and standard
// deviations of loc, scale and shape.
GevBoot bootstrap_gev(const dist::Gev& d, const Gof& observed, const GevRefit& refit,
                      const BootstrapSpec& plan);

// One replicate of a model with up to 5 parameters: its refit and the
// statistics D, W^2, A^2 of the replicate against that refit.
using BootParams = std::array<double, 5>;
struct BootReplicate {
  bool ok = false;
  BootParams p{};
  double ks = 0, cvm = 0, ad = 0;
};

// What the bootstrap draws from and refits.
struct BootModel {
  // Replaces each uniform u of the sample by the model's u-quantile.
  std::function<void(const BootParams&, std::span<double> sample)> draw;
  std::function<bool(std::span<const double> sorted, BootParams&)> refit;
  // False for parameters that are no distribution (not finite, scale <= 0).
  std::function<bool(const BootParams&)> valid;
  std::function<void(std::span<const double> sorted, const BootParams&, Gof&)> statistics;
};

// The GEV's: draws by the quantile, validity, statistics against the GEV.
BootModel gev_boot_model(const GevRefit& refit);

// The replicates: replicate k of `count` draws `size` values from `fitted`
// with the stream Xoshiro256ss::stream(seed, k), sorts and refits them. A
// replicate skipped by `interrupted`, whose refit fails or throws, or whose
// refit is not valid has ok == false. Independent of `threads`.
std::vector<BootReplicate> bootstrap_replicates(const BootParams& fitted, const BootModel& model,
                                                std::size_t size, std::size_t count,
                                                std::uint64_t seed, unsigned threads,
                                                const std::function<bool()>& interrupted = nullptr);

// Where a level is taken: non-exceedance probability p, exceedance q = 1 - p
// (exact for a return period T: q = 1/T) and the Gumbel reduced variate y.
struct LevelAt {
  double p, q, y;
};

// The bootstrap of any model of `dims` (1..5) parameters, replicates as
// bootstrap_replicates draws them: what every family shows, and the
// parameters' percentile intervals and standard deviations (dims of each).
// `level` is the model's level at a LevelAt.
struct ModelBoot : BootSummary {
  std::vector<Interval> params;
  std::vector<double> se;
};
ModelBoot bootstrap_model(const BootParams& fitted, int dims, const Gof& observed, const BootModel& model,
                          const std::function<double(const BootParams&, const LevelAt&)>& level,
                          const BootstrapSpec& plan);

// The percentile p of ascending values, as defined above; NaN when empty.
double percentile(std::span<const double> sorted, double p);

}  // namespace korvalinde::stats
