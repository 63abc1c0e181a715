// Declustering and the extremal index on hand-made records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "korvalinde/stats/blocks.hpp"
#include "korvalinde/stats/pot.hpp"

namespace korvalinde::stats {
namespace {

constexpr double NA = std::nan("");

TEST(Pot, RunsDeclusteringCountsMissingStepsAsQuiet) {
  // Rows without times: exceedances of 5 at rows 1, 2, 5, 9 and 10; row 7 is
  // missing, so rows 6..8 are three quiet steps.
  const std::vector<double> v{1, 6, 7, 2, 3, 9, 1, NA, 2, 8, 6};
  const Clusters none = decluster({}, v, 1, 5, 0);
  EXPECT_EQ(none.n_exceed, 5u);
  EXPECT_EQ(none.maxima, (std::vector<double>{6, 7, 9, 8, 6}));
  EXPECT_EQ(none.gaps, (std::vector<std::int64_t>{1, 3, 4, 1}));
  EXPECT_EQ(none.at, (std::vector<std::size_t>{1, 2, 5, 9, 10}));
  const Clusters two = decluster({}, v, 1, 5, 2);
  EXPECT_EQ(two.maxima, (std::vector<double>{7, 9, 8}));
  EXPECT_EQ(two.at, (std::vector<std::size_t>{2, 5, 9}));
  // A tied maximum is timed by its first row.
  EXPECT_EQ(decluster({}, std::vector<double>{6, 8, 7, 8, 1}, 1, 5, 1).at, (std::vector<std::size_t>{1}));
  EXPECT_EQ(decluster({}, v, 1, 5, 3).maxima, (std::vector<double>{9, 8}));
  EXPECT_EQ(decluster({}, v, 1, 5, 4).maxima, (std::vector<double>{9}));
  // The same record with times a day apart and the missing row left out.
  std::vector<std::int64_t> t;
  std::vector<double> w;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (std::isnan(v[i])) continue;
    t.push_back(static_cast<std::int64_t>(i) * 86400 + 3600);
    w.push_back(v[i]);
  }
  EXPECT_EQ(sampling_step(t), 86400);
  EXPECT_EQ(decluster(t, w, 86400, 5, 2).maxima, (std::vector<double>{7, 9, 8}));
}

TEST(Pot, ObservedYearsAreTheSpanLessLongGapsAndMissingSteps) {
  // 400 daily rows from day 0, row 10 missing, then 61 days without rows
  // (60 beyond the step), and day 105 given twice: the step stays a day.
  constexpr std::int64_t day = 86400;
  std::vector<std::int64_t> t;
  std::vector<double> v;
  for (std::int64_t d = 0; d < 461; ++d) {
    if (d > 200 && d <= 260) continue;
    for (int k = 0; k < (d == 105 ? 2 : 1); ++k) {
      t.push_back(d * day);
      v.push_back(d == 10 ? NA : d % 7 == 0 ? 20.0 + static_cast<double>(d % 5) : 1.0);
    }
  }
  EXPECT_EQ(sampling_step(t), day);
  PotOptions o;
  o.threshold = 10;
  o.periods = {10};
  PotResult r;
  std::string error;
  ASSERT_TRUE(analyze_pot(t, v, day, o, r, error)) << error;
  ASSERT_EQ(r.gaps.size(), 1u);
  EXPECT_EQ(r.gaps[0].from, 200 * day);
  EXPECT_EQ(r.gaps[0].to, 261 * day);
  EXPECT_EQ(r.max_gap, 10 * day);
  EXPECT_DOUBLE_EQ(r.span_years, 461 / 365.25);
  EXPECT_DOUBLE_EQ(r.years, (461.0 - 60 - 1) / 365.25);
  // Run 0: every exceedance is a cluster, the two of day 105 too.
  EXPECT_EQ(r.n_clusters, r.n_exceed);
  EXPECT_EQ(r.n_exceed, 58u);
  EXPECT_DOUBLE_EQ(r.rate_per_year, 58 / r.years);
  // Gaps up to --max-gap (here 60 days) are observed time; observations a
  // year, when given, count the years instead.
  o.max_gap = 60.0 * day;
  ASSERT_TRUE(analyze_pot(t, v, day, o, r, error)) << error;
  EXPECT_TRUE(r.gaps.empty());
  EXPECT_DOUBLE_EQ(r.years, (461.0 - 1) / 365.25);
  o.per_year = 100;
  ASSERT_TRUE(analyze_pot(t, v, day, o, r, error)) << error;
  EXPECT_DOUBLE_EQ(r.years, (t.size() - 1) / 100.0);
}

TEST(Pot, IntervalsEstimator) {
  // Gaps of at most 2 give 2 (sum T)^2 / ((N - 1) sum T^2) >= 1: no clustering.
  EXPECT_EQ(intervals_estimator(std::vector<std::int64_t>{1, 2, 1, 1}), 1.0);
  // Longer gaps: 2 (sum (T - 1))^2 / ((N - 1) sum (T - 1)(T - 2)), at most 1.
  EXPECT_NEAR(intervals_estimator(std::vector<std::int64_t>{1, 1, 10, 1, 12}),
              2.0 * 20 * 20 / (5 * (72 + 110)), 1e-15);
  EXPECT_EQ(intervals_estimator(std::vector<std::int64_t>{5, 9, 30}), 1.0);
  EXPECT_TRUE(std::isnan(intervals_estimator(std::vector<std::int64_t>{3})));
}

TEST(Pot, SampleQuantileMatchesSortedOrderStatistics) {
  // Values of both signs, ties, zeros and NaN, many to a bucket of the
  // radix selection: q (n - 1) interpolates between the sorted values.
  std::vector<double> v;
  std::uint64_t x = 12345;
  for (int i = 0; i < 20000; ++i) {
    x = x * 6364136223846793005u + 1442695040888963407u;
    const double u = static_cast<double>(x >> 11) / 9007199254740992.0;
    v.push_back(i % 97 == 0 ? NA : i % 13 == 0 ? 0.0 : std::round((u - 0.3) * 2000) / 100);
  }
  std::vector<double> sorted;
  for (double d : v) {
    if (!std::isnan(d)) sorted.push_back(d);
  }
  std::sort(sorted.begin(), sorted.end());
  for (double q : {0.0, 1e-4, 0.25, 0.5, 0.9, 0.999, 0.99995, 1.0}) {
    const double h = q * static_cast<double>(sorted.size() - 1);
    const auto lo = static_cast<std::size_t>(h);
    const double above = sorted[std::min(lo + 1, sorted.size() - 1)];
    EXPECT_EQ(sample_quantile(v, q), sorted[lo] + (h - static_cast<double>(lo)) * (above - sorted[lo])) << q;
    EXPECT_EQ(sample_quantile(v, q, 3), sample_quantile(v, q)) << q;
  }
  EXPECT_TRUE(std::isnan(sample_quantile(std::vector<double>{NA, NA}, 0.5)));
}

}  // namespace
}  // namespace korvalinde::stats
