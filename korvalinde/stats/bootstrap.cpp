#include "korvalinde/stats/bootstrap.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "korvalinde/detail/parallel.hpp"
#include "korvalinde/stats/gof.hpp"
#include "korvalinde/dist/gumbel.hpp"
#include "korvalinde/detail/random.hpp"
#include "korvalinde/detail/sort.hpp"
#include "korvalinde/detail/sum.hpp"

namespace korvalinde::stats {

namespace {

constexpr std::size_t kReplicatesPerBlock = 16;  // replicates sharing one work buffer

struct Replicate {
  bool ok = false;
  double a = 0, b = 0;
  double ks = 0, cvm = 0, ad = 0;
};

// The central percentile interval of confidence c.
Interval central_interval(std::vector<double>& values, double c) {
  std::sort(values.begin(), values.end());
  return {percentile(values, (1 - c) / 2), percentile(values, (1 + c) / 2)};
}

double standard_deviation(std::span<const double> v) {
  if (v.size() < 2) return kUndefined;
  detail::Sum s;
  for (double x : v) s.add(x);
  const double mean = s.value() / static_cast<double>(v.size());
  detail::Sum q;
  for (double x : v) q.add((x - mean) * (x - mean));
  return std::sqrt(q.value() / static_cast<double>(v.size() - 1));
}

double share_at_least(const std::vector<Replicate>& reps, double Replicate::*stat, double observed,
                      std::size_t good) {
  if (good == 0 || std::isnan(observed)) return kUndefined;
  std::size_t count = 0;
  for (const Replicate& r : reps)
    if (r.ok && r.*stat >= observed) ++count;
  return static_cast<double>(count) / static_cast<double>(good);
}

}  // namespace

double percentile(std::span<const double> sorted, double p) {
  if (sorted.empty()) return kUndefined;
  const double h = static_cast<double>(sorted.size() - 1) * p;
  const auto lo = static_cast<std::size_t>(std::floor(h));
  if (lo + 1 >= sorted.size()) return sorted.back();
  return sorted[lo] + (h - static_cast<double>(lo)) * (sorted[lo + 1] - sorted[lo]);
}

Boot bootstrap(double a, double b, const Gof& observed, const Refit& refit,
               const BootstrapSpec& plan) {
  Boot boot;
  boot.replicates = plan.replicates;
  boot.return_levels.assign(plan.periods.size(), Interval{});
  if (plan.replicates <= 0) return boot;
  if (!std::isfinite(a) || !std::isfinite(b) || !(b > 0)) {
    boot.failed = plan.replicates;  // nothing to draw from
    return boot;
  }
  const auto count = static_cast<std::size_t>(plan.replicates);
  std::vector<Replicate> reps(count);

  const std::size_t blocks = (count + kReplicatesPerBlock - 1) / kReplicatesPerBlock;
  detail::parallel_for(blocks, plan.threads, [&](std::size_t blk) {
    std::vector<double> sample(plan.n), scratch(plan.n);
    const std::size_t end = std::min(count, (blk + 1) * kReplicatesPerBlock);
    for (std::size_t k = blk * kReplicatesPerBlock; k < end; ++k) {
      if (plan.interrupted && plan.interrupted()) continue;
      detail::Xoshiro256ss rng = detail::Xoshiro256ss::stream(plan.seed, k);
      for (double& x : sample) x = dist::quantile(dist::Gumbel{a, b}, rng.uniform());
      detail::radix_sort(sample, scratch);
      Replicate& r = reps[k];
      try {
        r.ok = refit(sample, r.a, r.b);
      } catch (...) {
        r.ok = false;
      }
      r.ok = r.ok && std::isfinite(r.a) && std::isfinite(r.b) && r.b > 0;
      if (!r.ok) continue;
      Gof g;
      edf_statistics(sample, r.a, r.b, g);
      r.ks = g.ks;
      r.cvm = g.cvm;
      r.ad = g.ad;
    }
  });
  if (plan.interrupted && plan.interrupted()) {
    boot.failed = plan.replicates;
    return boot;
  }

  std::vector<double> va, vb;
  for (const Replicate& r : reps) {
    if (!r.ok) continue;
    va.push_back(r.a);
    vb.push_back(r.b);
  }
  const std::size_t good = va.size();
  boot.failed = static_cast<int>(count - good);
  boot.se_a = standard_deviation(va);
  boot.se_b = standard_deviation(vb);

  std::vector<double> v(good);
  auto level_interval = [&](double y) {
    if (std::isnan(y)) return Interval{};
    for (std::size_t i = 0; i < good; ++i) v[i] = va[i] + vb[i] * y;
    return central_interval(v, plan.confidence);
  };
  boot.quantile = level_interval(dist::gumbel_reduced(plan.prob));
  for (std::size_t j = 0; j < plan.periods.size(); ++j)
    boot.return_levels[j] = level_interval(dist::gumbel_period_reduced(plan.periods[j]));
  // Last: sorting breaks the pairing of va and vb.
  boot.a = central_interval(va, plan.confidence);
  boot.b = central_interval(vb, plan.confidence);

  boot.ks_p = share_at_least(reps, &Replicate::ks, observed.ks, good);
  boot.cvm_p = share_at_least(reps, &Replicate::cvm, observed.cvm, good);
  boot.ad_p = share_at_least(reps, &Replicate::ad, observed.ad, good);
  return boot;
}

}  // namespace korvalinde::stats
