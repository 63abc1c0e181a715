#include "korvalinde/stats/gof_null.hpp"

#include <algorithm>
#include <cmath>
#include <system_error>
#include <vector>

#include "korvalinde/detail/parallel.hpp"
#include "korvalinde/detail/random.hpp"
#include "korvalinde/detail/sort.hpp"
#include "korvalinde/stats/gof.hpp"

namespace korvalinde::stats {

namespace {

constexpr std::size_t kReplicatesPerBlock = 16;  // replicates sharing one work buffer
// Keeps these streams apart from the bootstrap's for the same seed.
constexpr std::uint64_t kStreamSalt = 0x6A09E667F3BCC909u;

struct Stats {
  bool ok = false;
  double ks = 0, cvm = 0, ad = 0;
};

double p_value(const std::vector<Stats>& reps, double Stats::*stat, double observed) {
  if (std::isnan(observed)) return kUndefined;
  std::size_t good = 0, above = 0;
  for (const Stats& r : reps) {
    if (!r.ok) continue;
    ++good;
    if (r.*stat >= observed) ++above;
  }
  if (good == 0) return kUndefined;
  return static_cast<double>(1 + above) / static_cast<double>(1 + good);
}

}  // namespace

std::string gof_p_method(std::size_t n, int replicates) {
  std::string s = "parametric bootstrap, B = " + std::to_string(replicates);
  if (n > kGofLargestSimulated)
    s += ", asymptotic: samples of " + std::to_string(kGofLargestSimulated) + ", sqrt(n) D";
  return s;
}

void gof_p_values(std::span<const GofMethod> methods, const GofNullPlan& plan) {
  if (methods.empty() || plan.replicates <= 0 || plan.n < 2) return;
  const std::size_t m = std::min(plan.n, kGofLargestSimulated);
  const auto count = static_cast<std::size_t>(plan.replicates);
  const std::size_t k = methods.size();
  std::vector<Stats> stats(count * k);  // replicate r, method j at r * k + j

  const std::size_t blocks = (count + kReplicatesPerBlock - 1) / kReplicatesPerBlock;
  auto run_block = [&](std::size_t blk) {
    std::vector<double> sample(m), scratch(m);
    const std::size_t end = std::min(count, (blk + 1) * kReplicatesPerBlock);
    for (std::size_t r = blk * kReplicatesPerBlock; r < end; ++r) {
      detail::Xoshiro256ss rng = detail::Xoshiro256ss::stream(plan.seed ^ kStreamSalt, r);
      for (double& x : sample) x = -std::log(-std::log(rng.uniform()));
      detail::radix_sort(sample, scratch);
      for (std::size_t j = 0; j < k; ++j) {
        Stats& s = stats[r * k + j];
        double a = kUndefined, b = kUndefined;
        try {
          s.ok = methods[j].refit(sample, a, b);
        } catch (...) {
          s.ok = false;
        }
        s.ok = s.ok && std::isfinite(a) && std::isfinite(b) && b > 0;
        if (!s.ok) continue;
        Gof g;
        edf_statistics(sample, a, b, g);
        s.ks = g.ks;
        s.cvm = g.cvm;
        s.ad = g.ad;
      }
    }
  };
  // Threads the system refuses leave the work to this one: each block
  // rewrites its own replicates, so the results stay the same.
  try {
    detail::parallel_for(blocks, plan.threads, run_block);
  } catch (const std::system_error&) {
    for (std::size_t blk = 0; blk < blocks; ++blk) run_block(blk);
  }

  // sqrt(n) D has the same limit law at every n.
  const double ks_scale = std::sqrt(static_cast<double>(plan.n) / static_cast<double>(m));
  std::vector<Stats> column(count);
  for (std::size_t j = 0; j < k; ++j) {
    Gof& g = *methods[j].gof;
    for (std::size_t r = 0; r < count; ++r) column[r] = stats[r * k + j];
    g.ks_p = p_value(column, &Stats::ks, g.ks * ks_scale);
    g.cvm_p = p_value(column, &Stats::cvm, g.cvm);
    g.ad_p = p_value(column, &Stats::ad, g.ad);
    g.p_method = gof_p_method(plan.n, plan.replicates);
  }
}

}  // namespace korvalinde::stats
