// Properties and failure paths of the statistics: invariances of the
// estimators, the sort, the chi-square grouping, tail safety of the
// statistics, and the bootstrap's determinism and failure accounting.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "korvalinde/stats/analyze.hpp"
#include "korvalinde/stats/bootstrap.hpp"
#include "korvalinde/stats/gof_limit.hpp"
#include "korvalinde/stats/gof_null.hpp"
#include "korvalinde/detail/random.hpp"
#include "korvalinde/detail/sort.hpp"

namespace korvalinde::stats {
namespace {

std::vector<double> gumbel_sample(std::size_t n, double a, double b, std::uint64_t seed) {
  detail::Xoshiro256ss rng(seed);
  std::vector<double> x(n);
  for (double& v : x) v = a - b * std::log(-std::log(rng.uniform()));
  return x;
}

TEST(StatsEstimators, RejectSamplesWithoutTwoDistinctValues) {
  const std::vector<std::vector<double>> bad{{}, {1.5}, {2, 2, 2, 2}};
  for (const auto& x : bad) {
    const Estimation mle = fit_mle(x);
    EXPECT_FALSE(mle.ok);
    EXPECT_EQ(mle.error, "maximum likelihood needs at least 2 distinct values");
    EXPECT_FALSE(fit_lmom(x).ok);
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(fit_mle(std::vector<double>{1, nan, 2}).ok);
  EXPECT_FALSE(fit_lmom(std::vector<double>{2, 1}).ok);  // not sorted
  // Two distinct values are enough, whatever their distance from 0 and size.
  for (double offset : {0.0, -1e6, 1e12}) {
    const Estimation e = fit_mle(std::vector<double>{offset, offset + 1, offset + 1});
    ASSERT_TRUE(e.ok) << e.error;
    EXPECT_GT(e.b, 0);
    EXPECT_TRUE(e.cov.valid());
  }
  const Estimation tiny = fit_mle(std::vector<double>{1e-310, 2e-310});
  ASSERT_TRUE(tiny.ok) << tiny.error;
  EXPECT_NEAR(tiny.b / 1e-310, 0.4167782798, 1e-9);  // the same fit as {1, 2}
  // One value apart from 10^5 equal ones: the root sits at the mean of the
  // shifted data, reached at once.
  std::vector<double> outlier(100000, 0.0);
  outlier.back() = 1;
  const Estimation far = fit_mle(outlier);
  ASSERT_TRUE(far.ok);
  EXPECT_LE(far.iterations, 3);
  EXPECT_NEAR(far.b, 1e-5, 1e-15);
}

TEST(StatsEstimators, MaximumLikelihoodFollowsShiftAndScaleAndSolvesTheScoreEquations) {
  // On a grid of 2^-12, so that the shifted and scaled copies below are exact.
  std::vector<double> x = gumbel_sample(200000, 3, 2, 1);
  for (double& v : x) v = std::round(v * 4096) / 4096;
  const Estimation ref = fit_mle(x, 1);
  ASSERT_TRUE(ref.ok);
  EXPECT_NEAR(ref.a, 3, 0.03);
  EXPECT_NEAR(ref.b, 2, 0.03);
  // At the maximum mean(e^-z) = 1 and mean(z (1 - e^-z)) = 1.
  long double s0 = 0, s1 = 0;
  for (double v : x) {
    const long double z = (v - ref.a) / ref.b, e = std::exp(-z);
    s0 += e;
    s1 += z * (1 - e);
  }
  EXPECT_NEAR(static_cast<double>(s0 / x.size()), 1, 1e-11);
  EXPECT_NEAR(static_cast<double>(s1 / x.size()), 1, 1e-11);

  // Blocks are summed in a fixed order: the thread count changes nothing.
  const Estimation two = fit_mle(x, 2);
  EXPECT_EQ(two.a, ref.a);
  EXPECT_EQ(two.b, ref.b);
  EXPECT_EQ(two.loglik, ref.loglik);

  const double scale = 0x1p-10;
  for (double shift : {0x1p30, -0x1p29}) {
    std::vector<double> y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) y[i] = shift + scale * x[i];
    const Estimation e = fit_mle(y);
    ASSERT_TRUE(e.ok);
    EXPECT_NEAR(e.b / scale, ref.b, 1e-10 * ref.b);
    // The location is only as exact as a double near the shift.
    EXPECT_NEAR((e.a - shift) / scale, ref.a, 1e-10 * ref.b + 2e-16 * std::fabs(shift) / scale);
    EXPECT_NEAR(e.loglik, ref.loglik - x.size() * std::log(scale), 1e-10 * std::fabs(ref.loglik));
  }
}

TEST(StatsEstimators, LMomentCovarianceMatchesSimulation) {
  // The asymptotic covariance against the spread of 4000 fits of n = 400:
  // the simulated variances have a relative sd of about 2%.
  const std::size_t n = 400, runs = 4000;
  const double b = 2;
  std::vector<double> as, bs;
  Covariance cov{0, 0, 0};
  for (std::size_t k = 0; k < runs; ++k) {
    std::vector<double> x = gumbel_sample(n, 5, b, 50 + k);
    std::sort(x.begin(), x.end());
    const Estimation e = fit_lmom(x);
    ASSERT_TRUE(e.ok && e.cov.valid());
    as.push_back(e.a);
    bs.push_back(e.b);
    cov.aa += e.cov.aa / runs;
    cov.ab += e.cov.ab / runs;
    cov.bb += e.cov.bb / runs;
  }
  auto mean = [](const std::vector<double>& v) {
    double s = 0;
    for (double x : v) s += x;
    return s / static_cast<double>(v.size());
  };
  const double ma = mean(as), mb = mean(bs);
  double vaa = 0, vab = 0, vbb = 0;
  for (std::size_t k = 0; k < runs; ++k) {
    vaa += (as[k] - ma) * (as[k] - ma) / (runs - 1);
    vab += (as[k] - ma) * (bs[k] - mb) / (runs - 1);
    vbb += (bs[k] - mb) * (bs[k] - mb) / (runs - 1);
  }
  EXPECT_NEAR(vaa / cov.aa, 1, 0.08);
  EXPECT_NEAR(vbb / cov.bb, 1, 0.08);
  EXPECT_NEAR(vab / std::sqrt(vaa * vbb), cov.ab / std::sqrt(cov.aa * cov.bb), 0.04);
  EXPECT_NEAR(cov.bb * n / (b * b), 0.8046, 0.04);  // the factor, at b near 2
}

TEST(StatsSort, RadixSortMatchesStdSort) {
  for (std::size_t n : {std::size_t{10}, std::size_t{100000}}) {
    std::vector<double> x = gumbel_sample(n, 0, 1e3, n);
    x[n / 2] = -std::numeric_limits<double>::infinity();
    x[n / 3] = std::numeric_limits<double>::infinity();
    x[n / 4] = -0.0;
    x[n / 5] = std::numeric_limits<double>::denorm_min();
    for (std::size_t i = 0; i + 1 < n / 10; ++i) x[i] = x[i + n / 10];  // ties
    std::vector<double> want = x, scratch(n), small(n / 2);
    std::sort(want.begin(), want.end());
    std::vector<double> got = x;
    detail::radix_sort(got, scratch);
    EXPECT_EQ(got, want);
    got = x;
    detail::radix_sort(got, small);  // too little work space: still sorted
    EXPECT_EQ(got, want);
  }
  // Finite small samples go to buckets by value: spread, with zeros and
  // ties; bunched in one bucket but for an outlier; a range that overflows.
  for (std::size_t n : {std::size_t{100}, std::size_t{4095}}) {
    std::vector<double> spread = gumbel_sample(n, 0, 1, n), bunched = spread, wide = spread;
    spread[1] = -0.0;
    spread[2] = 0.0;
    spread[3] = spread[4];
    for (double& v : bunched) v = 1 + v * 1e-9;
    bunched[0] = 1e6;
    wide[0] = -1e308;
    wide[1] = 1e308;
    for (std::vector<double>* x : {&spread, &bunched, &wide}) {
      std::vector<double> want = *x;
      std::sort(want.begin(), want.end());
      detail::radix_sort(*x, 1);
      EXPECT_EQ(*x, want) << n;
    }
  }
  // In slices on threads: bit for bit what one thread gives (-0.0 first).
  const std::size_t n = std::size_t{1} << 20;
  std::vector<double> x = gumbel_sample(n, 0, 1e3, 7);
  for (std::size_t i = 0; i < n; i += 3) x[i] = i % 2 == 0 ? 0.0 : -0.0;
  std::vector<double> one = x;
  detail::radix_sort(one, 1);
  ASSERT_TRUE(std::is_sorted(one.begin(), one.end()));
  for (unsigned t : {2u, 3u}) {
    std::vector<double> got = x;
    detail::radix_sort(got, t);
    EXPECT_EQ(std::memcmp(got.data(), one.data(), n * sizeof(double)), 0) << t;
  }
  // Values that differ only in their lowest bits, few or many of them, in
  // many cells of the highest digit or in two too large for the cache.
  for (const auto& [low_bits, high_bits] : {std::pair{23, 6}, std::pair{30, 6}, std::pair{30, 1}}) {
    std::vector<double> y(n);
    std::uint64_t state = 99;
    for (double& v : y) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      const auto hi = static_cast<double>(state >> (64 - high_bits)), lo = static_cast<double>((state >> 20) % (1ULL << low_bits));
      v = 1 + hi * 0x1p-8 + lo * 0x1p-52;
    }
    std::vector<double> want = y;
    std::sort(want.begin(), want.end());
    detail::radix_sort(y, 2);
    EXPECT_EQ(y, want) << low_bits << " " << high_bits;
  }
}

TEST(StatsGof, ChiSquareGroupsCellsAndTailsStayFinite) {
  // 4 values, 3 cells: nothing reaches 5 expected, one group, no p-value.
  const std::vector<double> x{0, 1, 2, 3};
  const std::vector<double> counts = cell_counts(x, 0, 1.5, 3);
  EXPECT_EQ(counts, (std::vector<double>{2, 1, 1}));
  Gof g;
  chi_square({0, 1.5, counts}, x.size(), 1, 1, g);
  EXPECT_EQ(g.chi2_df, -2);
  EXPECT_NEAR(g.chi2, 0, 1e-12);  // one group holds everything: O = E = n
  EXPECT_TRUE(std::isnan(g.chi2_p));

  // A point 1000 scale units from the location in either direction: F or
  // 1 - F underflows, and the statistics stay finite (floored logarithms).
  edf_statistics(std::vector<double>{-1000, 0, 1, 1000}, 0, 1, g);
  EXPECT_TRUE(std::isfinite(g.ad));
  EXPECT_GT(g.ad, 100);
  EXPECT_NEAR(g.ks, 0.25, 1e-12);
  EXPECT_TRUE(std::isinf(return_period(1000, 0, 1)));

  // Large samples: the same statistics on any number of threads.
  std::vector<double> big = gumbel_sample(300000, 1, 1, 3);
  std::sort(big.begin(), big.end());
  Gof one, two;
  edf_statistics(big, 1, 1, one, 1);
  edf_statistics(big, 1, 1, two, 2);
  EXPECT_EQ(one.ks, two.ks);
  EXPECT_EQ(one.cvm, two.cvm);
  EXPECT_EQ(one.ad, two.ad);
  EXPECT_LT(one.ks, 0.01);
}

TEST(StatsBootstrap, DependsOnTheSeedOnlyAndCountsFailures) {
  std::vector<double> x = gumbel_sample(300, 10, 2, 7);
  std::sort(x.begin(), x.end());
  const Estimation fit = fit_lmom(x);
  Gof observed;
  edf_statistics(x, fit.a, fit.b, observed);
  const std::vector<double> periods{10, 100};
  BootstrapSpec plan{x.size(), 199, 42, 1, 0.99, periods};

  std::vector<Boot> runs;
  for (unsigned threads : {1u, 2u, 5u}) {
    plan.threads = threads;
    runs.push_back(bootstrap(fit.a, fit.b, observed, refit_lmom, plan));
  }
  auto same = [](const Interval& p, const Interval& q) {
    return p.lower == q.lower && p.upper == q.upper;
  };
  for (const Boot& r : runs) {
    EXPECT_EQ(r.failed, 0);
    EXPECT_TRUE(same(r.a, runs[0].a) && same(r.b, runs[0].b) && same(r.quantile, runs[0].quantile));
    EXPECT_TRUE(same(r.return_levels[1], runs[0].return_levels[1]));
    EXPECT_EQ(r.se_a, runs[0].se_a);
    EXPECT_EQ(r.ad_p, runs[0].ad_p);
  }
  const Boot& r = runs[0];
  EXPECT_LT(r.a.lower, fit.a);
  EXPECT_GT(r.a.upper, fit.a);
  EXPECT_NEAR(r.se_b, 2 * std::sqrt(0.8 / 300), 0.35 * 2 * std::sqrt(0.8 / 300));
  EXPECT_GT(r.ks_p, 0.01);
  plan.seed = 43;
  EXPECT_NE(bootstrap(fit.a, fit.b, observed, refit_lmom, plan).a.lower, r.a.lower);

  // Refits failing (or throwing) on about half the replicates are counted,
  // identically on any thread count; the rest still give intervals.
  const double median = fit.a - fit.b * std::log(std::log(2.0));
  const Refit flaky = [&](std::span<const double> s, double& a, double& b) {
    if (s[s.size() / 2] > median + 0.05) throw std::runtime_error("refit");
    return s[s.size() / 2] < median && refit_lmom(s, a, b);
  };
  plan.threads = 1;
  const Boot one = bootstrap(fit.a, fit.b, observed, flaky, plan);
  plan.threads = 2;
  const Boot two = bootstrap(fit.a, fit.b, observed, flaky, plan);
  EXPECT_GT(one.failed, 50);
  EXPECT_LT(one.failed, 150);
  EXPECT_EQ(one.failed, two.failed);
  EXPECT_EQ(one.replicates, 199);
  EXPECT_TRUE(same(one.b, two.b));
  EXPECT_TRUE(std::isfinite(one.b.lower));

  const Boot none = bootstrap(
      fit.a, fit.b, observed, [](std::span<const double>, double&, double&) { return false; },
      plan);
  EXPECT_EQ(none.failed, 199);
  EXPECT_TRUE(std::isnan(none.a.lower) && std::isnan(none.ks_p) && std::isnan(none.se_b));
  EXPECT_EQ(bootstrap(fit.a, -1, observed, refit_lmom, plan).failed, 199);
}

// The observed statistics of the sample under both estimators, with their
// p-values from the simulated null law.
std::vector<Gof> null_p_values(std::vector<double> x, std::uint64_t seed, unsigned threads = 1) {
  std::sort(x.begin(), x.end());
  std::vector<Gof> g(2);
  const Estimation mle = fit_mle(x), lmom = fit_lmom(x);
  edf_statistics(x, mle.a, mle.b, g[0]);
  edf_statistics(x, lmom.a, lmom.b, g[1]);
  const GofMethod methods[] = {{refit_mle, &g[0]}, {refit_lmom, &g[1]}};
  gof_p_values(methods, {x.size(), seed, threads});
  return g;
}

TEST(StatsGofNull, PValuesAreUniformUnderTheModelAndSmallAgainstOthers) {
  // Under the model P(p <= 0.1) = 0.1 (here within 3.5 binomial sd), with
  // parameters far from the simulated Gumbel(0, 1).
  int low[2][3] = {};
  const int samples = 300;
  for (int k = 0; k < samples; ++k) {
    const auto g = null_p_values(gumbel_sample(25, -300, 40, 1000 + k), k);
    for (int j = 0; j < 2; ++j) {
      low[j][0] += g[j].ks_p <= 0.1;
      low[j][1] += g[j].cvm_p <= 0.1;
      low[j][2] += g[j].ad_p <= 0.1;
    }
  }
  for (auto& method : low) {
    for (int count : method) EXPECT_NEAR(count, 30, 18);
  }
  // A normal sample of 300 is told apart by A^2; so is a large one through
  // the asymptotic law, which keeps a Gumbel sample of 20000 unremarkable.
  detail::Xoshiro256ss rng(5);
  std::vector<double> normal(300);
  for (double& v : normal) {
    v = std::sqrt(-2 * std::log(rng.uniform())) * std::cos(2 * std::numbers::pi * rng.uniform());
  }
  EXPECT_LT(null_p_values(normal, 1)[0].ad_p, 0.02);
  const auto large = null_p_values(gumbel_sample(20000, 3, 0.5, 9), 1);
  EXPECT_GT(large[0].ks_p, 0.01);
  EXPECT_NE(large[0].p_method.find("asymptotic"), std::string::npos);
  EXPECT_EQ(null_p_values(normal, 1)[0].p_method.find("asymptotic"), std::string::npos);
}

TEST(StatsGofNull, DependsOnTheSeedOnly) {
  const std::vector<double> x = gumbel_sample(80, 10, 2, 3);
  const auto one = null_p_values(x, 7, 1), three = null_p_values(x, 7, 3);
  for (int j = 0; j < 2; ++j) {
    EXPECT_EQ(one[j].ks_p, three[j].ks_p);
    EXPECT_EQ(one[j].cvm_p, three[j].cvm_p);
    EXPECT_EQ(one[j].ad_p, three[j].ad_p);
    EXPECT_GE(one[j].ad_p, 1.0 / 200);
    EXPECT_LE(one[j].ad_p, 1.0);
  }
  const auto other = null_p_values(x, 8, 1);
  EXPECT_TRUE(other[0].ad_p != one[0].ad_p || other[1].ks_p != one[1].ks_p);
}


// Limit laws of the statistics for known parameters, against mpmath at 30
// digits from other series (make_gof_limit_reference.py).
TEST(StatsGofLimit, TailsMatchTheReferenceSeries) {
  struct Case {
    double (*upper)(double);
    double x, p;
  };
  const Case cases[] = {
      {kolmogorov_upper, 0.3, 0.99999069419866543337},
      {kolmogorov_upper, 0.6, 0.86428277905060430481},
      {kolmogorov_upper, 0.9, 0.39273070794065437393},
      {kolmogorov_upper, 1.0, 0.2699996716773545212},
      {kolmogorov_upper, 1.36, 0.049485876755377909939},
      {kolmogorov_upper, 2.5, 7.4533063441573416001e-6},
      {cramer_von_mises_upper, 0.004, 0.99999999999995746562},
      {cramer_von_mises_upper, 0.05, 0.8762809310413489904},
      {cramer_von_mises_upper, 0.461, 0.050107127201756976594},
      {cramer_von_mises_upper, 1.0, 0.0024604521801339638697},
      {cramer_von_mises_upper, 2.5, 9.7421002020215855548e-7},
      {anderson_darling_upper, 0.1, 0.99997192189487363703},
      {anderson_darling_upper, 0.5, 0.74681437353034448443},
      {anderson_darling_upper, 2.492, 0.050022186359607865726},
      {anderson_darling_upper, 6.0, 0.00096745194152092292209},
      {anderson_darling_upper, 15.0, 7.6332231802342022868e-8},
  };
  for (const Case& c : cases) EXPECT_NEAR(c.upper(c.x), c.p, 1e-13 * c.p) << c.x;
  for (auto upper : {kolmogorov_upper, cramer_von_mises_upper, anderson_darling_upper}) {
    EXPECT_EQ(upper(0), 1);
    EXPECT_EQ(upper(1e6), 0);
    EXPECT_EQ(upper(std::numeric_limits<double>::infinity()), 0);
    EXPECT_TRUE(std::isnan(upper(std::numeric_limits<double>::quiet_NaN())));
    double last = 1;  // decreasing across every branch
    for (double x = 0.001; x < 20; x *= 1.05) {
      EXPECT_LE(upper(x), last + 1e-15) << x;
      last = upper(x);
    }
    EXPECT_GE(last, 0);
  }
}

// With fitted parameters the statistics run smaller than the laws of known
// ones: the limit p-values of Gumbel samples are high on average, and say so.
TEST(StatsGofLimit, FittedSamplesGiveHighApproximatePValues) {
  double sum = 0;
  for (int k = 0; k < 40; ++k) {
    std::vector<double> x = gumbel_sample(200, 5, 2, 50 + k);
    std::sort(x.begin(), x.end());
    const Estimation mle = fit_mle(x);
    Gof g;
    edf_statistics(x, mle.a, mle.b, g);
    limit_gof_p_values(x.size(), g);
    sum += g.ad_p + g.cvm_p + g.ks_p;
    EXPECT_NE(g.p_method.find("approximate"), std::string::npos);
  }
  EXPECT_GT(sum / 120, 0.7);  // 0.5 if the law were exact
}

}  // namespace
}  // namespace korvalinde::stats
