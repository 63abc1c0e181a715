#include "korvalinde/stats/gof_null.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <system_error>
#include <utility>
#include <vector>

#include "korvalinde/detail/parallel.hpp"
#include "korvalinde/detail/random.hpp"
#include "korvalinde/detail/sort.hpp"
#include "korvalinde/stats/gof.hpp"

namespace korvalinde::stats {

namespace {

constexpr std::size_t kReplicatesPerBlock = 16;  // replicates sharing one work buffer
// Keeps these streams apart from the bootstrap's for the same seed, and the
// GEV's from the Gumbel's.
constexpr std::uint64_t kStreamSalt = 0x6A09E667F3BCC909u;
constexpr std::uint64_t kGevStreamSalt = 0xBB67AE8584CAA73Bu;

struct Stats {
  bool ok = false;
  double ks = 0, cvm = 0, ad = 0;
};

// The law of one method from its replicates (replicate r at r * stride).
std::shared_ptr<const GofNullLaw> law_of(const std::vector<Stats>& stats, std::size_t first,
                                         std::size_t stride) {
  auto law = std::make_shared<GofNullLaw>();
  for (std::size_t i = first; i < stats.size(); i += stride) {
    const Stats& r = stats[i];
    if (!r.ok) continue;
    ++law->good;
    for (auto [value, list] : {std::pair{r.ks, &law->ks}, std::pair{r.cvm, &law->cvm},
                               std::pair{r.ad, &law->ad}}) {
      if (!std::isnan(value)) list->push_back(value);
    }
  }
  for (std::vector<double>* list : {&law->ks, &law->cvm, &law->ad})
    std::sort(list->begin(), list->end());
  return law;
}

// (1 + #{replicate statistic >= observed}) / (1 + good): a NaN replicate
// statistic is never >= anything.
double p_value(const std::vector<double>& sorted, std::size_t good, double observed) {
  if (std::isnan(observed) || good == 0) return kUndefined;
  const auto above = sorted.end() - std::lower_bound(sorted.begin(), sorted.end(), observed);
  return static_cast<double>(1 + above) / static_cast<double>(1 + good);
}

// Simulates the laws of the given methods (each independent of the others).
std::vector<std::shared_ptr<const GofNullLaw>> simulate(
    std::span<const GofMethod* const> methods, const GofNullPlan& plan, std::size_t m) {
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
          s.ok = methods[j]->refit(sample, a, b);
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
  std::vector<std::shared_ptr<const GofNullLaw>> laws;
  for (std::size_t j = 0; j < k; ++j) laws.push_back(law_of(stats, j, k));
  return laws;
}

// How the p-values of a sample of n values were found: `how`, then the
// asymptotic comparison for samples larger than those simulated.
std::string p_method_text(const std::string& how, std::size_t n, int replicates) {
  std::string s = how + ", B = " + std::to_string(replicates);
  if (n > kGofLargestSimulated)
    s += ", asymptotic: samples of " + std::to_string(kGofLargestSimulated) + ", sqrt(n) D";
  return s;
}

// The p-values of g's statistics under `law`, simulated at min(n, the
// largest simulated size): sqrt(n) D has the same limit law at every n.
void give_p_values(const GofNullLaw& law, const GofNullPlan& plan, std::string method, Gof& g) {
  const std::size_t m = std::min(plan.n, kGofLargestSimulated);
  const double ks_scale = std::sqrt(static_cast<double>(plan.n) / static_cast<double>(m));
  g.ks_p = p_value(law.ks, law.good, g.ks * ks_scale);
  g.cvm_p = p_value(law.cvm, law.good, g.cvm);
  g.ad_p = p_value(law.ad, law.good, g.ad);
  g.p_method = std::move(method);
}

}  // namespace

std::string gof_p_method(std::size_t n, int replicates) {
  return p_method_text("parametric bootstrap", n, replicates);
}

std::shared_ptr<const GofNullLaw> GofNullCache::find(const Key& key) const {
  const std::lock_guard lock(mutex_);
  const auto it = laws_.find(key);
  return it == laws_.end() ? nullptr : it->second;
}

void GofNullCache::insert(const Key& key, std::shared_ptr<const GofNullLaw> law) {
  const std::lock_guard lock(mutex_);
  laws_.emplace(key, std::move(law));
}

std::size_t GofNullCache::size() const {
  const std::lock_guard lock(mutex_);
  return laws_.size();
}

void GofNullCache::clear() {
  const std::lock_guard lock(mutex_);
  laws_.clear();
}

void gof_p_values(std::span<const GofMethod> methods, const GofNullPlan& plan) {
  if (methods.empty() || plan.replicates <= 0 || plan.n < 2) return;
  const std::size_t m = std::min(plan.n, kGofLargestSimulated);
  auto key = [&](const GofMethod& g) {
    return GofNullCache::Key{g.key, plan.n, plan.seed, plan.replicates};
  };
  // The laws in the cache, then those simulated now (kept for later).
  std::vector<std::shared_ptr<const GofNullLaw>> laws(methods.size());
  std::vector<const GofMethod*> missing;
  for (std::size_t j = 0; j < methods.size(); ++j) {
    if (plan.cache && methods[j].key >= 0) laws[j] = plan.cache->find(key(methods[j]));
    if (!laws[j]) missing.push_back(&methods[j]);
  }
  if (!missing.empty()) {
    const auto simulated = simulate(missing, plan, m);
    for (std::size_t i = 0; i < missing.size(); ++i) {
      const std::size_t j = static_cast<std::size_t>(missing[i] - methods.data());
      laws[j] = simulated[i];
      if (plan.cache && methods[j].key >= 0) plan.cache->insert(key(methods[j]), simulated[i]);
    }
  }

  for (std::size_t j = 0; j < methods.size(); ++j)
    give_p_values(*laws[j], plan, gof_p_method(plan.n, plan.replicates), *methods[j].gof);
}

std::string gev_gof_p_method(std::size_t n, int replicates) {
  return p_method_text("parametric bootstrap at the fitted GEV shape", n, replicates);
}

void gev_gof_p_values(std::span<const GevGofMethod> methods, const GofNullPlan& plan) {
  if (plan.replicates <= 0 || plan.n < 2) return;
  const std::size_t m = std::min(plan.n, kGofLargestSimulated);
  for (const GevGofMethod& method : methods) {
    const dist::Gev& d = method.fitted;
    if (!std::isfinite(d.shape)) continue;
    const std::vector<BootReplicate> reps =
        bootstrap_replicates({0, 1, d.shape}, gev_boot_model(method.refit), m,
                             static_cast<std::size_t>(plan.replicates), plan.seed ^ kGevStreamSalt,
                             plan.threads);
    std::vector<Stats> stats;
    for (const BootReplicate& r : reps) stats.push_back({r.ok, r.ks, r.cvm, r.ad});
    give_p_values(*law_of(stats, 0, 1), plan, gev_gof_p_method(plan.n, plan.replicates), *method.gof);
  }
}

}  // namespace korvalinde::stats
