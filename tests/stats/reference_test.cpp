// Every statistic of four samples against values computed at 50 digits by
// make_reference.py: two real samples, one near 1e9 with a spread of 1e-3,
// one negative.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "korvalinde/stats/analyze.hpp"

namespace korvalinde::stats {
namespace {

const std::string kData = KORVALINDE_STATS_DATA;

std::vector<double> read_sample(const std::string& name) {
  std::ifstream in(kData + "/" + name);
  std::vector<double> x;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) x.push_back(std::stod(line));
  return x;
}

// reference["sample"]["key"]
std::map<std::string, std::map<std::string, double>> read_reference() {
  std::ifstream in(kData + "/reference.txt");
  std::map<std::string, std::map<std::string, double>> ref;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string sample, key, value;
    fields >> sample >> key >> value;
    ref[sample][key] = std::stod(value);
  }
  return ref;
}

void expect_rel(double got, double want, double tol, const std::string& what) {
  EXPECT_LE(std::fabs(got - want), tol * std::fabs(want))
      << what << ": got " << got << " want " << want;
}

TEST(StatsReference, AllStatisticsMatchHighPrecisionValues) {
  const auto ref = read_reference();
  ASSERT_EQ(ref.size(), 4u);
  for (const auto& [name, r] : ref) {
    SCOPED_TRACE(name);
    std::vector<double> x = read_sample(name);
    ASSERT_GE(x.size(), 30u);

    const Estimation mle = fit_mle(x);
    ASSERT_TRUE(mle.ok) << mle.error;
    expect_rel(mle.a, r.at("mle_a"), 1e-10, "mle a");
    expect_rel(mle.b, r.at("mle_b"), 1e-10, "mle b");
    expect_rel(mle.loglik, r.at("mle_loglik"), 1e-10, "loglik");
    expect_rel(mle.cov.aa, r.at("mle_var_a"), 1e-10, "var a");
    expect_rel(mle.cov.ab, r.at("mle_cov_ab"), 1e-10, "cov ab");
    expect_rel(mle.cov.bb, r.at("mle_var_b"), 1e-10, "var b");
    EXPECT_LT(mle.iterations, 15);

    std::sort(x.begin(), x.end());
    const Estimation lm = fit_lmom(x);
    ASSERT_TRUE(lm.ok) << lm.error;
    expect_rel(lm.a, r.at("lmom_a"), 1e-12, "lmom a");
    expect_rel(lm.b, r.at("lmom_b"), 1e-12, "lmom b");

    // The classic histogram with 10 bins.
    const double lo = x.front(), dx = (x.back() - x.front()) / 10;
    const int m = static_cast<int>((x.back() - lo) / dx) + 1;
    const std::vector<double> counts = cell_counts(x, lo, dx, m);
    const std::vector<double> periods{50, 1};
    const Analysis in{x, {lo, dx, counts}, 0.99, periods, x.back()};
    // The statistics given the estimates: the exact ones rounded to doubles.
    const double a = r.at("a_double"), b = r.at("b_double");
    MethodResult out;
    analyze_method(in, a, b, mle.cov, out);
    EXPECT_EQ(out.a, a);
    expect_rel(out.quantile.value, r.at("q99"), 1e-10, "q99");
    expect_rel(out.quantile.se, r.at("q99_se"), 1e-10, "q99 se");
    EXPECT_EQ(out.quantile.upper, out.quantile.value + kNormal95 * out.quantile.se);
    ASSERT_EQ(out.return_levels.size(), 2u);
    expect_rel(out.return_levels[0].level.value, r.at("rl50"), 1e-10, "level 50");
    expect_rel(out.return_levels[0].level.se, r.at("rl50_se"), 1e-10, "level 50 se");
    EXPECT_TRUE(std::isnan(out.return_levels[1].level.value));  // T = 1 has no level
    expect_rel(out.level_period, r.at("period_max"), 1e-10, "period");
    expect_rel(out.se_b * out.se_b, r.at("mle_var_b"), 1e-10, "se b");
    expect_rel(out.gof.ks, r.at("ks"), 1e-10, "ks");
    expect_rel(out.gof.cvm, r.at("cvm"), 1e-10, "cvm");
    expect_rel(out.gof.ad, r.at("ad"), 1e-10, "ad");
    expect_rel(out.gof.chi2, r.at("chi2"), 1e-10, "chi2");
    EXPECT_EQ(out.gof.chi2_df, static_cast<int>(r.at("chi2_df")));
    expect_rel(out.gof.chi2_p, r.at("chi2_p"), 1e-10, "chi2 p");

    // The least-squares covariance at the same (a, b) over the cells.
    std::vector<double> cx, cy;
    for (int i = 1; i <= m; ++i) {
      cx.push_back(dx * (i - 0.5) + lo);
      cy.push_back(counts[i - 1] / static_cast<double>(x.size()) / dx);
    }
    const Covariance ls = ls_covariance(cx, cy, a, b);
    expect_rel(ls.aa, r.at("ls_var_a"), 1e-10, "ls var a");
    expect_rel(ls.ab, r.at("ls_cov_ab"), 1e-10, "ls cov ab");
    expect_rel(ls.bb, r.at("ls_var_b"), 1e-10, "ls var b");
  }
}

}  // namespace
}  // namespace korvalinde::stats
