// The covariates of a dated series: decimal years, block years, and the fit
// of a series on a table that lacks a year (the block dropped from every fit
// of the series, the non-stationary one equal to the statistics' own).
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "korvalinde/core/dated.hpp"
#include "korvalinde/detail/civil.hpp"

namespace korvalinde {
namespace {

std::int64_t at(std::int64_t y, int m, int d) {
  return detail::days_from_civil(y, m, d) * detail::kSecondsPerDay;
}

TEST(Covariates, DecimalYearsAndBlockYears) {
  EXPECT_EQ(decimal_year(at(2000, 1, 1)), 2000.0);
  EXPECT_EQ(decimal_year(at(2000, 7, 2) + 3600), 2000 + 183.0 / 366);  // the day, not the hour
  EXPECT_EQ(decimal_year(at(1900, 3, 1)), 1900 + 59.0 / 365);         // 1900 is no leap year
  EXPECT_EQ(decimal_year(at(1931, 12, 31)), 1931 + 364.0 / 365);       // before 1970
  EXPECT_EQ(block_year("2012"), 2012.0);
  EXPECT_EQ(block_year("2012-03"), 2012 + 2.0 / 12);
  EXPECT_TRUE(std::isnan(block_year("")));
}

TEST(Covariates, AYearWithoutACovariateLeavesEveryFitOfTheSeries) {
  // Daily values over 30 years with a rising level; the table lacks 1985.
  Series s;
  std::vector<double> maxima;
  auto table = std::make_shared<CovariateTable>();
  table->file = "g.csv";
  table->names = {"g"};
  std::uint64_t state = 7;
  for (int y = 1980; y < 2010; ++y) {
    double top = -1e300;
    for (int d = 0; d < 365; ++d) {
      s.time.push_back(at(y, 1, 1) + d * detail::kSecondsPerDay);
      state = state * 6364136223846793005u + 1442695040888963407u;  // a fixed pseudo-random stream
      const double u = (static_cast<double>(state >> 11) + 0.5) / 9007199254740992.0;
      const double v = 10 + 0.2 * (y - 1980) - std::log(-std::log(u));
      s.value.push_back(v);
      top = std::max(top, v);
    }
    if (y != 1985) {
      table->rows[y] = {0.02 * (y - 1980) + 0.01 * std::sin(y)};
      maxima.push_back(top);
    }
  }
  DatedPlan plan;
  stats::BlockRule rule;
  ASSERT_TRUE(stats::parse_block("year", rule));
  plan.block = rule;
  plan.block_name = "year";
  CovariatePlan cp;
  cp.names = {"g"};
  cp.table = table;
  plan.covariates = cp;
  FitOptions o;
  o.gev = true;
  o.gof_p = o.gev_gof_p = false;
  const SeriesFit f = fit_series(s, false, plan, o, "daily");
  ASSERT_TRUE(f.result.ok) << f.result.error;
  ASSERT_TRUE(f.result.nonstationary);
  const NonstationaryResult& ns = *f.result.nonstationary;
  ASSERT_TRUE(ns.error.empty()) << ns.error;
  EXPECT_EQ(f.result.n, 29u);
  EXPECT_EQ(f.result.dated->n_blocks, 29u);
  ASSERT_EQ(f.result.dated->blocks_dropped.size(), 1u);
  EXPECT_EQ(f.result.dated->blocks_dropped[0].block, "1985");
  // The stationary fits see the same 29 maxima.
  std::vector<double> sorted = maxima;  // sorted in place
  const FitResult alone = fit_sample_sorting(sorted, o, "daily");
  EXPECT_EQ(f.result.gev.mle.loc, alone.gev.mle.loc);
  EXPECT_EQ(f.result.mle.a, alone.mle.a);
  // And the non-stationary fit is the statistics' on the joined covariate.
  std::vector<double> g;
  for (const auto& [y, v] : table->rows) g.push_back(v[0]);
  const stats::NsAnalysis direct = stats::analyze_nonstationary({maxima, {g}, {"g"}}, {}, {});
  ASSERT_EQ(ns.x, maxima);
  ASSERT_EQ(ns.c[0], g);
  ASSERT_EQ(ns.analysis.fit.coef.size(), direct.fit.coef.size());
  for (std::size_t i = 0; i < direct.fit.coef.size(); ++i) EXPECT_EQ(ns.analysis.fit.coef[i], direct.fit.coef[i]);
  EXPECT_GT(ns.analysis.fit.coef[1], 0);  // the trend is found
  EXPECT_GT(ns.sen.slope, 0);
}

}  // namespace
}  // namespace korvalinde
