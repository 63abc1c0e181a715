// Micro-benchmarks of the statistics: maximum likelihood on large samples
// (the GEV on one and two threads; the GLO, GNO, PE3 and Weibull on 10^6
// values), the radix sort against std::sort, the goodness of
// fit statistics, their p-values, and the parametric bootstrap of 999
// replicates of 1000.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "korvalinde/dist/normal.hpp"
#include "korvalinde/stats/bootstrap.hpp"
#include "korvalinde/stats/estimate.hpp"
#include "korvalinde/stats/family_mle.hpp"
#include "korvalinde/stats/gev.hpp"
#include "korvalinde/stats/gof.hpp"
#include "korvalinde/stats/gof_null.hpp"
#include "korvalinde/detail/random.hpp"
#include "korvalinde/detail/sort.hpp"

namespace {

using namespace korvalinde::stats;
namespace detail = korvalinde::detail;

std::vector<double> sample(std::size_t n) {
  detail::Xoshiro256ss rng(12345);
  std::vector<double> x(n);
  for (double& v : x) v = 10 - 2 * std::log(-std::log(rng.uniform()));
  return x;
}

void BM_Mle(benchmark::State& state) {
  const std::vector<double> x = sample(static_cast<std::size_t>(state.range(0)));
  const auto threads = static_cast<unsigned>(state.range(1));
  for (auto _ : state) benchmark::DoNotOptimize(fit_mle(x, threads));
}
BENCHMARK(BM_Mle)
    ->Args({1000, 1})
    ->Args({10000000, 1})
    ->Args({10000000, 2})
    ->Unit(benchmark::kMillisecond);

// The GEV work of one sorted sample: maximum likelihood of the GEV and the
// Gumbel, the likelihood ratio, and profile intervals of the levels of 9
// periods and of the shape. range(0) = n, range(1) = threads within a fit;
// ->Threads(2) runs two fits at once (the series/s of fit_many on 2 cores).
void BM_GevCheck(benchmark::State& state) {
  std::vector<double> x = sample(static_cast<std::size_t>(state.range(0)));
  std::sort(x.begin(), x.end());
  const auto threads = static_cast<unsigned>(state.range(1));
  const double crit = korvalinde::dist::chi2_1_quantile(0.95);
  std::vector<double> y0;
  for (const double t : {2, 5, 10, 20, 50, 100, 200, 500, 1000})
    y0.push_back(korvalinde::dist::gumbel_period_reduced(t));
  for (auto _ : state) {
    const GevEstimate g = fit_gev_mle(x, threads);
    const Estimation e = fit_mle(x, threads);
    benchmark::DoNotOptimize(gumbel_test(g.loglik, e.loglik));
    benchmark::DoNotOptimize(gev_shape_profile(g, crit));
    benchmark::DoNotOptimize(gev_quantile_profiles(g, y0, crit));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GevCheck)->Args({100, 1})->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_GevCheck)->Args({1000000, 2})->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RadixSort(benchmark::State& state) {
  const std::vector<double> x = sample(static_cast<std::size_t>(state.range(0)));
  std::vector<double> y(x.size()), scratch(x.size());
  for (auto _ : state) {
    y = x;
    detail::radix_sort(y, scratch);
    benchmark::DoNotOptimize(y.data());
  }
}
BENCHMARK(BM_RadixSort)->Arg(1000)->Arg(100000)->Arg(10000000)->Unit(benchmark::kMillisecond);

void BM_StdSort(benchmark::State& state) {
  const std::vector<double> x = sample(static_cast<std::size_t>(state.range(0)));
  std::vector<double> y(x.size());
  for (auto _ : state) {
    y = x;
    std::sort(y.begin(), y.end());
    benchmark::DoNotOptimize(y.data());
  }
}
BENCHMARK(BM_StdSort)->Arg(100000)->Arg(10000000)->Unit(benchmark::kMillisecond);

void BM_EdfStatistics(benchmark::State& state) {
  std::vector<double> x = sample(1000);
  std::sort(x.begin(), x.end());
  korvalinde::Gof g;
  for (auto _ : state) {
    edf_statistics(x, 10, 2, g);
    benchmark::DoNotOptimize(g.ad);
  }
}
BENCHMARK(BM_EdfStatistics);

// 999 replicates of 1000 values; range(0) selects the refit: 0 L-moments,
// 1 maximum likelihood.
void BM_Bootstrap(benchmark::State& state) {
  std::vector<double> x = sample(1000);
  std::sort(x.begin(), x.end());
  korvalinde::Gof observed;
  edf_statistics(x, 10, 2, observed);
  const std::vector<double> periods{2, 5, 10, 20, 50, 100, 200, 500, 1000};
  const BootstrapSpec plan{x.size(), 999, 1, static_cast<unsigned>(state.range(1)), 0.99, periods};
  const Refit refit = state.range(0) == 0 ? Refit(refit_lmom) : Refit(refit_mle);
  for (auto _ : state) benchmark::DoNotOptimize(bootstrap(10, 2, observed, refit, plan));
}
BENCHMARK(BM_Bootstrap)
    ->Args({0, 1})
    ->Args({0, 2})
    ->Args({1, 1})
    ->Args({1, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();


// The goodness-of-fit p-values a default run adds: the null law of D, W^2
// and A^2 simulated with 199 replicates, each refitted by maximum likelihood
// and L-moments; n values, on 1 or 2 threads.
void BM_GofPValues(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const auto threads = static_cast<unsigned>(state.range(1));
  std::vector<double> x = sample(n);
  std::sort(x.begin(), x.end());
  korvalinde::Gof mle, lmom;
  edf_statistics(x, 10, 2, mle);
  lmom = mle;
  for (auto _ : state) {
    const GofMethod methods[] = {{refit_mle, &mle}, {refit_lmom, &lmom}};
    gof_p_values(methods, {n, 1, threads});
    benchmark::DoNotOptimize(mle.ks_p);
  }
}
BENCHMARK(BM_GofPValues)
    ->Args({30, 1})
    ->Args({100, 1})
    ->Args({1000, 1})
    ->Args({1000, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The GEV methods' p-values: a law simulated at each fit's shape.
void BM_GevGofPValues(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const auto threads = static_cast<unsigned>(state.range(1));
  std::vector<double> x = sample(n);
  std::sort(x.begin(), x.end());
  const GevEstimate e_mle = fit_gev_mle(x), e_lmom = fit_gev_lmom(x);
  korvalinde::Gof mle, lmom;
  edf_statistics(x, e_mle.d, mle);
  edf_statistics(x, e_lmom.d, lmom);
  for (auto _ : state) {
    const GevGofMethod methods[] = {{refit_gev_mle, e_mle.d, &mle}, {refit_gev_lmom, e_lmom.d, &lmom}};
    gev_gof_p_values(methods, {n, 1, threads});
    benchmark::DoNotOptimize(mle.ks_p);
  }
}
BENCHMARK(BM_GevGofPValues)
    ->Args({100, 1})
    ->Args({1000, 1})
    ->Args({1000, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Maximum likelihood of a three-parameter family (range(0): 0 GLO, 1 GNO,
// 2 PE3, 3 Weibull) on 10^6 values of the sample above; the target is at
// most 1 s. The CPU time is the process's (both threads); the counter is
// the Newton iterations of the fit.
void BM_FamilyMle(benchmark::State& state) {
  const std::vector<double> x = sample(1000000);
  constexpr Family kFamilies[] = {Family::Glo, Family::Gno, Family::Pe3, Family::Weibull};
  const Family f = kFamilies[state.range(0)];
  int iterations = 0;
  for (auto _ : state) {
    const FamilyFit fit = fit_mle(f, x);
    iterations = fit.ok ? fit.iterations : -1;
    benchmark::DoNotOptimize(fit);
  }
  state.counters["iterations"] = iterations;
}
BENCHMARK(BM_FamilyMle)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace
