#include "korvalinde/stats/bootstrap.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "korvalinde/detail/parallel.hpp"
#include "korvalinde/stats/gev.hpp"
#include "korvalinde/stats/gof.hpp"
#include "korvalinde/dist/gumbel.hpp"
#include "korvalinde/detail/random.hpp"
#include "korvalinde/detail/sort.hpp"
#include "korvalinde/detail/sum.hpp"

namespace korvalinde::stats {

namespace {

constexpr std::size_t kReplicatesPerBlock = 16;  // replicates sharing one work buffer

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

double share_at_least(const std::vector<BootReplicate>& reps, double BootReplicate::*stat,
                      double observed, std::size_t good) {
  if (good == 0 || std::isnan(observed)) return kUndefined;
  std::size_t count = 0;
  for (const BootReplicate& r : reps)
    if (r.ok && r.*stat >= observed) ++count;
  return static_cast<double>(count) / static_cast<double>(good);
}

// The bootstrap of a model of `dims` parameters: what every family shows,
// and the parameters' intervals and standard deviations.
struct Summary : BootSummary {
  std::array<Interval, 5> params;
  std::array<double, 5> se{kUndefined, kUndefined, kUndefined, kUndefined, kUndefined};
};

// Copies the part that every family shows.
void summarise(const Summary& s, BootSummary& boot) { boot = s; }

// Runs the replicates and summarises them; `level(p, at)` is the quantile
// of parameters p at `at`.
template <class Level>
Summary run(const BootParams& fitted, int dims, const Gof& observed, const BootModel& model,
            const Level& level, const BootstrapSpec& plan) {
  Summary out;
  out.replicates = plan.replicates;
  out.return_levels.assign(plan.periods.size(), Interval{});
  if (plan.replicates <= 0) return out;
  if (!model.valid(fitted)) {
    out.failed = plan.replicates;  // nothing to draw from
    return out;
  }
  const auto count = static_cast<std::size_t>(plan.replicates);
  const std::vector<BootReplicate> reps =
      bootstrap_replicates(fitted, model, plan.n, count, plan.seed, plan.threads, plan.interrupted);
  if (plan.interrupted && plan.interrupted()) {
    out.failed = plan.replicates;
    return out;
  }

  std::array<std::vector<double>, 5> v;
  for (const BootReplicate& r : reps) {
    if (!r.ok) continue;
    for (int i = 0; i < dims; ++i) v[i].push_back(r.p[i]);
  }
  std::vector<BootParams> good_params;
  for (const BootReplicate& r : reps)
    if (r.ok) good_params.push_back(r.p);
  const std::size_t good = good_params.size();
  out.failed = static_cast<int>(count - good);
  for (int i = 0; i < dims; ++i) out.se[i] = standard_deviation(v[i]);

  std::vector<double> lv(good);
  auto level_interval = [&](const LevelAt& at) {
    if (std::isnan(at.y)) return Interval{};
    for (std::size_t i = 0; i < good; ++i) lv[i] = level(good_params[i], at);
    return central_interval(lv, plan.confidence);
  };
  out.quantile = level_interval({plan.prob, 1 - plan.prob, dist::gumbel_reduced(plan.prob)});
  for (std::size_t j = 0; j < plan.periods.size(); ++j) {
    const double t = plan.periods[j];
    out.return_levels[j] = level_interval({1 - 1 / t, 1 / t, dist::gumbel_period_reduced(t)});
  }
  for (int i = 0; i < dims; ++i) out.params[i] = central_interval(v[i], plan.confidence);

  out.ks_p = share_at_least(reps, &BootReplicate::ks, observed.ks, good);
  out.cvm_p = share_at_least(reps, &BootReplicate::cvm, observed.cvm, good);
  out.ad_p = share_at_least(reps, &BootReplicate::ad, observed.ad, good);
  return out;
}

}  // namespace

double percentile(std::span<const double> sorted, double p) {
  if (sorted.empty()) return kUndefined;
  const double h = static_cast<double>(sorted.size() - 1) * p;
  const auto lo = static_cast<std::size_t>(std::floor(h));
  if (lo + 1 >= sorted.size()) return sorted.back();
  return sorted[lo] + (h - static_cast<double>(lo)) * (sorted[lo + 1] - sorted[lo]);
}

std::vector<BootReplicate> bootstrap_replicates(const BootParams& fitted, const BootModel& model,
                                                std::size_t size, std::size_t count,
                                                std::uint64_t seed, unsigned threads,
                                                const std::function<bool()>& interrupted) {
  std::vector<BootReplicate> reps(count);
  const std::size_t blocks = (count + kReplicatesPerBlock - 1) / kReplicatesPerBlock;
  detail::parallel_for(blocks, threads, [&](std::size_t blk) {
    std::vector<double> sample(size), scratch(size);
    const std::size_t end = std::min(count, (blk + 1) * kReplicatesPerBlock);
    for (std::size_t k = blk * kReplicatesPerBlock; k < end; ++k) {
      if (interrupted && interrupted()) continue;
      detail::Xoshiro256ss rng = detail::Xoshiro256ss::stream(seed, k);
      for (double& x : sample) x = rng.uniform();
      model.draw(fitted, sample);
      detail::radix_sort(sample, scratch);
      BootReplicate& r = reps[k];
      try {
        r.ok = model.refit(sample, r.p);
      } catch (...) {
        r.ok = false;
      }
      r.ok = r.ok && model.valid(r.p);
      if (!r.ok) continue;
      Gof g;
      model.statistics(sample, r.p, g);
      r.ks = g.ks;
      r.cvm = g.cvm;
      r.ad = g.ad;
    }
  });
  return reps;
}

Boot bootstrap(double a, double b, const Gof& observed, const Refit& refit,
               const BootstrapSpec& plan) {
  BootModel model;
  model.draw = [](const BootParams& p, std::span<double> x) {
    for (double& v : x) v = dist::quantile(dist::Gumbel{p[0], p[1]}, v);
  };
  model.refit = [&](std::span<const double> s, BootParams& p) { return refit(s, p[0], p[1]); };
  model.valid = [](const BootParams& p) {
    return std::isfinite(p[0]) && std::isfinite(p[1]) && p[1] > 0;
  };
  model.statistics = [](std::span<const double> s, const BootParams& p, Gof& g) {
    edf_statistics(s, p[0], p[1], g);
  };
  const Summary s = run({a, b, 0}, 2, observed, model,
                        [](const BootParams& p, const LevelAt& at) { return p[0] + p[1] * at.y; }, plan);
  Boot boot;
  summarise(s, boot);
  boot.a = s.params[0];
  boot.b = s.params[1];
  boot.se_a = s.se[0];
  boot.se_b = s.se[1];
  return boot;
}

BootModel gev_boot_model(const GevRefit& refit) {
  BootModel model;
  model.draw = [](const BootParams& p, std::span<double> x) {
    for (double& v : x) v = dist::quantile(dist::Gev{p[0], p[1], p[2]}, v);
  };
  model.refit = [refit](std::span<const double> s, BootParams& p) {
    dist::Gev d{kUndefined, kUndefined, kUndefined};
    const bool ok = refit(s, d);
    p = {d.loc, d.scale, d.shape};
    return ok;
  };
  model.valid = [](const BootParams& p) {
    return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]) && p[1] > 0;
  };
  model.statistics = [](std::span<const double> s, const BootParams& p, Gof& g) {
    edf_statistics(s, dist::Gev{p[0], p[1], p[2]}, g);
  };
  return model;
}

GevBoot bootstrap_gev(const dist::Gev& d, const Gof& observed, const GevRefit& refit,
                      const BootstrapSpec& plan) {
  const Summary s = run({d.loc, d.scale, d.shape}, 3, observed, gev_boot_model(refit),
                        [](const BootParams& p, const LevelAt& at) {
                          return p[0] + p[1] * dist::gev_reduced(p[2], at.y);
                        },
                        plan);
  GevBoot boot;
  summarise(s, boot);
  boot.loc = s.params[0];
  boot.scale = s.params[1];
  boot.shape = s.params[2];
  boot.se_loc = s.se[0];
  boot.se_scale = s.se[1];
  boot.se_shape = s.se[2];
  return boot;
}

ModelBoot bootstrap_model(const BootParams& fitted, int dims, const Gof& observed, const BootModel& model,
                          const std::function<double(const BootParams&, const LevelAt&)>& level,
                          const BootstrapSpec& plan) {
  const Summary s = run(fitted, dims, observed, model, level, plan);
  ModelBoot boot;
  summarise(s, boot);
  boot.params.assign(s.params.begin(), s.params.begin() + dims);
  boot.se.assign(s.se.begin(), s.se.begin() + dims);
  return boot;
}

bool refit_gev_mle(std::span<const double> sorted, dist::Gev& d) {
  const GevEstimate e = fit_gev_mle(sorted, 1);
  d = e.d;
  return e.ok;
}

bool refit_gev_lmom(std::span<const double> sorted, dist::Gev& d) {
  const GevEstimate e = fit_gev_lmom(sorted);
  d = e.d;
  return e.ok;
}

}  // namespace korvalinde::stats
