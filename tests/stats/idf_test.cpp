// Moving-window maxima against a plain computation, and the IDF formula.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <random>
#include <vector>

#include "korvalinde/detail/civil.hpp"
#include "korvalinde/stats/idf.hpp"

namespace korvalinde::stats {
namespace {

// Every window of k steps that lies on the record without a gap or a missing
// value, summed plainly, and of each year (by the window's start) the largest.
std::map<std::int64_t, double> plain_maxima(const std::vector<std::int64_t>& t,
                                            const std::vector<double>& v, std::int64_t step,
                                            std::size_t k) {
  std::map<std::int64_t, double> best;
  for (std::size_t i = 0; i + k <= t.size(); ++i) {
    if (t[i + k - 1] - t[i] != static_cast<std::int64_t>(k - 1) * step) continue;
    double s = 0;
    bool ok = true;
    for (std::size_t j = i; j < i + k; ++j) {
      ok = ok && !std::isnan(v[j]);
      s += v[j];
    }
    if (!ok) continue;
    const std::int64_t year = detail::civil_from_days(detail::day_of(t[i])).year;
    if (!best.count(year) || s > best[year]) best[year] = s;
  }
  return best;
}

TEST(Idf, WindowMaximaEqualAPlainComputationOnRecordsWithGaps) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(0, 1);
  const std::int64_t step = 3600;
  std::vector<std::int64_t> t;
  std::vector<double> v;
  // Six years of hours from 2001, with rows left out in runs and missing values.
  std::int64_t now = detail::days_from_civil(2001, 1, 1) * 86400;
  const std::int64_t end = detail::days_from_civil(2007, 1, 1) * 86400;
  for (; now < end; now += step) {
    if (u(rng) < 0.0003) now += step * static_cast<std::int64_t>(1 + 50 * u(rng));  // a gap
    t.push_back(now);
    const double r = u(rng);
    v.push_back(r < 0.0001 ? std::nan("") : r < 0.8 ? 0.0 : 40 * u(rng) * u(rng));
  }
  const std::vector<std::int64_t> durations{3600, 3 * 3600, 24 * 3600, 72 * 3600};
  BlockRule rule;
  rule.min_coverage = 0;
  std::vector<DurationMaxima> got;
  ASSERT_EQ(window_maxima(t, v, step, durations, rule, got), "");
  ASSERT_EQ(got.size(), durations.size());
  for (std::size_t d = 0; d < durations.size(); ++d) {
    const auto want = plain_maxima(t, v, step, static_cast<std::size_t>(durations[d] / step));
    ASSERT_EQ(got[d].maxima.size(), want.size()) << durations[d];
    for (const BlockMax& m : got[d].maxima) {
      const std::int64_t year = std::stoll(m.block);
      EXPECT_EQ(m.value, want.at(year)) << durations[d] << " " << m.block;
    }
  }
  // A year with too few complete windows is dropped at coverage 0.9: 2003
  // loses two months of values.
  for (std::size_t i = 0; i < t.size(); ++i) {
    const auto c = detail::civil_from_days(detail::day_of(t[i]));
    if (c.year == 2003 && (c.month == 6 || c.month == 7)) v[i] = std::nan("");
  }
  rule.min_coverage = 0.9;
  ASSERT_EQ(window_maxima(t, v, step, durations, rule, got), "");
  for (const DurationMaxima& m : got) {
    ASSERT_FALSE(m.dropped.empty());
    EXPECT_EQ(m.dropped[0].block, "2003");
    for (const BlockMax& b : m.maxima) EXPECT_NE(b.block, "2003");
  }
}

TEST(Idf, WindowMaximaRefuseWhatTheyCanNotSum) {
  const std::vector<std::int64_t> t{0, 3600, 7200, 9000};
  const std::vector<double> v{1, 2, 3, 4};
  const std::vector<std::int64_t> hour{3600};
  std::vector<DurationMaxima> out;
  EXPECT_NE(window_maxima(t, v, 3600, hour, {}, out).find("not on the record's step"), std::string::npos);
  const std::vector<std::int64_t> t2{0, 3600, 7200};
  EXPECT_NE(window_maxima(t2, {{1, -2, 3}}, 3600, hour, {}, out).find("negative depth -2"),
            std::string::npos);
  const std::vector<std::int64_t> half{5400};
  EXPECT_NE(window_maxima(t2, {{1, 2, 3}}, 3600, half, {}, out).find("not a multiple"), std::string::npos);
}

TEST(Idf, DurationsReadAndPrint) {
  std::int64_t s = 0;
  EXPECT_TRUE(parse_duration("5min", s) && s == 300);
  EXPECT_TRUE(parse_duration("1.5h", s) && s == 5400);
  EXPECT_TRUE(parse_duration("2d", s) && s == 172800);
  EXPECT_FALSE(parse_duration("5", s));
  EXPECT_FALSE(parse_duration("-1h", s));
  EXPECT_FALSE(parse_duration("0.5s", s));
  EXPECT_EQ(duration_label(300), "5min");
  EXPECT_EQ(duration_label(5400), "90min");
  EXPECT_EQ(duration_label(259200), "72h");
}

TEST(Idf, FormulaRecoversItsOwnCurve) {
  const std::vector<double> d{1.0 / 12, 0.25, 0.5, 1, 2, 3, 6, 12, 24, 48, 72};
  for (const double b : {0.0, 0.2, 1.5}) {
    std::vector<double> i;
    for (const double h : d) i.push_back(31.4 / std::pow(h + b, 0.71));
    const IdfFormula f = fit_idf_formula(d, i);
    ASSERT_TRUE(f.ok);
    EXPECT_NEAR(f.b, b, 1e-6 * (1 + b));
    EXPECT_NEAR(f.c, 0.71, 1e-6);
    EXPECT_NEAR(f.a, 31.4, 1e-5);
    EXPECT_LT(f.rms_log, 1e-7);
  }
  EXPECT_FALSE(fit_idf_formula(std::vector<double>{1, 2}, std::vector<double>{3, 2}).ok);
}

}  // namespace
}  // namespace korvalinde::stats

namespace korvalinde::stats {
namespace {

// The scaling models' maximum-likelihood estimates, log-likelihoods and
// standard errors against 30-digit references (make_idf_reference.py).
TEST(Idf, ScalingModelsEqualTheirReferences) {
  std::ifstream in(std::string(KORVALINDE_STATS_DATA) + "/idf_reference.txt");
  ASSERT_TRUE(in) << "idf_reference.txt";
  ScalingData data;
  std::map<std::string, std::map<std::string, double>> want;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream f(line);
    std::string kind, name;
    f >> kind;
    if (kind == "data") {
      double h, x;
      std::size_t year;
      f >> h >> year >> x;
      data.hours.push_back(h);
      data.cluster.push_back(year);
      data.x.push_back(x);
    } else {
      double v;
      f >> name >> v;
      want[kind][name] = v;
    }
  }
  ASSERT_EQ(data.x.size(), 100u);
  const char* names[5] = {"mu0", "sigma0", "shape", "alpha", "delta"};
  for (const bool general : {true, false}) {
    const ScalingFit fit = fit_scaling(data, general);
    ASSERT_TRUE(fit.ok) << fit.error;
    auto& w = want[general ? "general" : "simple"];
    for (std::size_t p = 0; p < (general ? 5u : 4u); ++p) {
      EXPECT_NEAR(fit.param[p], w[names[p]], 1e-8 * std::fabs(w[names[p]])) << names[p];
      const std::string se = std::string("se_") + names[p];
      EXPECT_NEAR(fit.se[p], w[se], 1e-6 * w[se]) << se;
      // The robust errors allow for the years' dependence: of the same order here,
      // where the durations' maxima were drawn independently.
      EXPECT_GT(fit.se_robust[p], 0.3 * w[se]);
      EXPECT_LT(fit.se_robust[p], 3 * w[se]);
    }
    EXPECT_NEAR(fit.loglik, w["loglik"], 1e-9 * std::fabs(w["loglik"]));
  }
  // The formula i = a / (d + b)^c of general scaling's intensities is the model
  // itself: b = delta, c = alpha.
  const ScalingFit g = fit_scaling(data, true);
  std::vector<double> h{0.25, 1, 6, 24}, v;
  for (const double d : h) v.push_back(scaling_intensity(g, 1, d, 50, 1.96).value);
  const IdfFormula f = fit_idf_formula(h, v);
  EXPECT_NEAR(f.b, g.param[4], 1e-6);
  EXPECT_NEAR(f.c, g.param[3], 1e-6);
  // Profile bounds of an intensity enclose it and lie on the heavy tail's side
  // of the delta-method interval: farther up than down.
  for (const bool general : {true, false}) {
    const ScalingFit fit = fit_scaling(data, general);
    const Estimate e = scaling_intensity(fit, 1, 6, 100, 1.959963984540054);
    const ProfileInterval p = scaling_intensity_profile(fit, data, 6, 100, 0.95);
    EXPECT_LT(p.lower.value, e.value);
    EXPECT_GT(p.upper.value, e.value);
    EXPECT_GT(p.upper.value - e.value, e.value - p.lower.value);
    EXPECT_NEAR(p.upper.value - p.lower.value, e.upper - e.lower, 0.5 * (e.upper - e.lower));
  }
  // The simple-scaling fit found on the way to general scaling is the fit itself.
  ScalingFit on_the_way;
  const ScalingFit again = fit_scaling(data, true, &on_the_way);
  const ScalingFit simple = fit_scaling(data, false);
  EXPECT_EQ(again.param, g.param);
  EXPECT_EQ(on_the_way.param, simple.param);
  EXPECT_EQ(on_the_way.cov_robust, simple.cov_robust);
  EXPECT_EQ(on_the_way.loglik, simple.loglik);
  const ScalingTest t = scaling_test(g, simple);
  EXPECT_NEAR(t.statistic, 2 * (want["general"]["loglik"] - want["simple"]["loglik"]), 1e-8);
  EXPECT_NEAR(t.p_mixture, 0.5 * t.p, 1e-15);
}

}  // namespace
}  // namespace korvalinde::stats
