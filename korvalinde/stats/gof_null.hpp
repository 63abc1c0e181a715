// p-values of the EDF statistics D, W^2 and A^2 that allow for the estimated
// parameters. For an estimator of (a, b) that follows shifts and scalings of
// the sample (maximum likelihood, L-moments, and the histogram fit, whose
// bins span the sample), the statistics' law under the fitted Gumbel model is
// the same for every (a, b): it is simulated once from Gumbel(0, 1), every
// replicate refitted by each method.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "korvalinde/records/result.hpp"
#include "korvalinde/stats/bootstrap.hpp"

namespace korvalinde::stats {

// Replicates, and the largest sample simulated at full size. A larger sample
// is compared through the statistics' asymptotic law, simulated with samples
// of kGofLargestSimulated values: sqrt(n) D, W^2 and A^2 settle well below it.
inline constexpr int kGofReplicates = 199;
inline constexpr std::size_t kGofLargestSimulated = 1000;

// The simulated law of one method's D, W^2 and A^2 for one sample size: the
// statistics of the replicates whose refit succeeded, each sorted ascending
// (NaN ones left out of the lists, but counted in `good`).
struct GofNullLaw {
  std::size_t good = 0;
  std::vector<double> ks, cvm, ad;
};

// The laws simulated for a run of fits, so that samples of the same size
// simulate them once: the law depends only on the method, the size, the seed
// and the replicates, and the p-values stay the same bit for bit. The keys
// name the methods; a cache must only be shared by fits whose refit of one
// key is the same. Safe to use from several threads.
class GofNullCache {
 public:
  using Key = std::tuple<int, std::size_t, std::uint64_t, int>;  // method, n, seed, replicates
  std::shared_ptr<const GofNullLaw> find(const Key& key) const;
  void insert(const Key& key, std::shared_ptr<const GofNullLaw> law);
  std::size_t size() const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::map<Key, std::shared_ptr<const GofNullLaw>> laws_;
};

struct GofNullPlan {
  std::size_t n = 0;       // size of the observed sample
  std::uint64_t seed = 0;  // replicate k draws from its own stream of the seed
  unsigned threads = 1;    // never changes the results
  int replicates = kGofReplicates;
  GofNullCache* cache = nullptr;  // laws already simulated, and where to keep new ones
};

// One fitted method: how to refit it, and its observed statistics (ks, cvm,
// ad), whose ks_p, cvm_p, ad_p and p_method are set. A p-value is
// (1 + #{replicate statistic >= observed}) / (1 + successful replicates);
// replicates whose refit fails are left out of that method's count.
struct GofMethod {
  Refit refit;
  Gof* gof = nullptr;
  int key = -1;  // the method, for the plan's cache; -1: not cached
};

void gof_p_values(std::span<const GofMethod> methods, const GofNullPlan& plan);

// The words of Gof::p_method for a sample of n values.
std::string gof_p_method(std::size_t n, int replicates = kGofReplicates);

// The same p-values for GEV fits. The statistics' law with estimated
// parameters does not depend on loc and scale (both estimators follow shifts
// and scalings of the sample) but does on the shape: each method's law is
// simulated at its own fit, from GEV(0, 1, shape) with replicate r drawn from
// stream r of the seed (salted apart from the Gumbel's), every replicate
// refitted by the method. Samples above kGofLargestSimulated values are
// compared through the asymptotic law as above. No cache: the law is the
// fit's own.
struct GevGofMethod {
  GevRefit refit;
  dist::Gev fitted;
  Gof* gof = nullptr;
};
void gev_gof_p_values(std::span<const GevGofMethod> methods, const GofNullPlan& plan);

// Gof::p_method of the GEV's p-values.
std::string gev_gof_p_method(std::size_t n, int replicates = kGofReplicates);

}  // namespace korvalinde::stats
