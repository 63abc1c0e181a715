// GEV fits with covariates on real series and their years against 30-digit
// values of make_nonstationary_reference.py, and the GPD of a daily record's
// peaks with a time trend in ln sigma against make_nonstationary_gpd_reference.py:
// coefficients, standard errors, log-likelihoods, likelihood-ratio statistics
// and the profile bounds of the effective 100-year levels, of their change
// and of ln PR.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "korvalinde/stats/nonstationary.hpp"

namespace korvalinde::stats {
namespace {

const std::string kData = KORVALINDE_STATS_DATA;

void expect_rel(double got, double want, double tol, const std::string& what) {
  EXPECT_LE(std::fabs(got - want), tol * std::fabs(want)) << what << ": got " << got << " want " << want;
}

// The log-likelihood, the LR statistics and the profile bounds of the
// 100-year levels at the first and last points, of their change and of ln PR.
void expect_analysis(const NsAnalysis& a, const std::map<std::string, double>& r) {
  expect_rel(a.fit.loglik, r.at("loglik"), 1e-9, "loglik");
  for (const NsLrTest& lr : a.lr_tests) expect_rel(lr.statistic, r.at("lr_" + lr.against), 1e-9, lr.against);
  ASSERT_EQ(a.at.size(), 2u);
  const char* point[] = {"first", "last"};
  for (int p = 0; p < 2; ++p) {
    const ProfileInterval& b = a.at[p].levels[0].profile;
    expect_rel(b.lower.value, r.at(std::string("rl100_") + point[p] + "_lower"), 1e-7, "level lower");
    expect_rel(b.upper.value, r.at(std::string("rl100_") + point[p] + "_upper"), 1e-7, "level upper");
  }
  expect_rel(a.change[0].profile.lower.value, r.at("change100_lower"), 1e-7, "change lower");
  expect_rel(a.change[0].profile.upper.value, r.at("change100_upper"), 1e-7, "change upper");
  const NsProbabilityRatio& pr = a.probability_ratio;
  expect_rel(pr.ln_pr, r.at("lnpr"), 1e-9, "ln PR");
  EXPECT_TRUE(pr.profile.lower.reason.empty() && pr.profile.upper.reason.empty())
      << pr.profile.lower.reason << pr.profile.upper.reason;
  expect_rel(pr.profile.lower.value, r.at("lnpr_lower"), 1e-7, "ln PR lower");
  expect_rel(pr.profile.upper.value, r.at("lnpr_upper"), 1e-7, "ln PR upper");
}

TEST(NonstationaryReference, RealSeriesMatchHighPrecisionValues) {
  std::map<std::string, std::map<std::string, double>> ref;
  std::ifstream in(kData + "/nonstationary_reference.txt");
  for (std::string c, k, v; in >> c >> k >> v;) ref[c][k] = std::stod(v);
  ASSERT_EQ(ref.size(), 3u);
  for (const auto& [name, r] : ref) {
    SCOPED_TRACE(name);
    const std::string series = name.substr(0, name.find(':'));
    const bool scale = name.substr(name.find(':') + 1) == "loc,scale";
    std::vector<double> x, t;
    std::ifstream data(kData + "/" + series + ".txt");
    for (double v; data >> v;) x.push_back(v);
    const double first = series == "venice_sealevel" ? 1931 : 1923;
    for (std::size_t i = 0; i < x.size(); ++i) t.push_back(first + static_cast<double>(i));
    NsModel model;
    model.scale = scale;
    NsRequest req;
    req.periods = {100};
    const NsAnalysis a = analyze_nonstationary({x, {t}, {"time"}}, model, req);
    ASSERT_TRUE(a.fit.ok) << a.fit.error;
    for (std::size_t i = 0; i < a.fit.coef.size(); ++i) {
      expect_rel(a.fit.coef[i], r.at("coef" + std::to_string(i)), 1e-8, a.fit.names[i]);
      expect_rel(a.fit.se[i], r.at("se" + std::to_string(i)), 1e-6, "se " + a.fit.names[i]);
    }
    expect_analysis(a, r);
  }
}

TEST(NonstationaryReference, DailyPeaksGpdMatchHighPrecisionValues) {
  std::map<std::string, double> r;
  std::ifstream in(kData + "/nonstationary_gpd_reference.txt");
  for (std::string k, v; in >> k >> v;) r[k] = std::stod(v);
  std::vector<double> t, y;
  std::ifstream data(kData + "/danish_peaks_over10.txt");
  for (double a, b; data >> a >> b;) {
    t.push_back(a);
    y.push_back(b);
  }
  ASSERT_EQ(y.size(), 106u);
  NsRequest req;
  req.periods = {100};
  req.threshold = 10;
  req.rate = r.at("rate");
  const NsAnalysis a = analyze_nonstationary({y, {t}, {"time"}}, NsModel{NsFamily::gpd, false, true}, req);
  ASSERT_TRUE(a.fit.ok) << a.fit.error;
  ASSERT_EQ(a.fit.names, (std::vector<std::string>{"log_sigma0", "log_sigma_time", "xi"}));
  for (std::size_t i = 0; i < a.fit.coef.size(); ++i) {
    expect_rel(a.fit.coef[i], r.at("coef" + std::to_string(i)), 1e-8, a.fit.names[i]);
    expect_rel(a.fit.se[i], r.at("se" + std::to_string(i)), 1e-6, "se " + a.fit.names[i]);
  }
  ASSERT_EQ(a.lr_tests.size(), 1u);
  expect_analysis(a, r);
}

}  // namespace
}  // namespace korvalinde::stats
