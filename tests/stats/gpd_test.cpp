// The generalized Pareto fits against values computed at 30 digits by
// make_gpd_reference.py, and properties of the distribution near shape 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "korvalinde/dist/gpd.hpp"
#include "korvalinde/stats/gpd_fit.hpp"

namespace korvalinde::stats {
namespace {

const std::string kData = KORVALINDE_STATS_DATA;

std::vector<double> excesses(const std::string& name) {
  std::ifstream in(kData + "/" + name);
  const double over = name.starts_with("danish") ? 10 : 0;
  std::vector<double> y;
  for (double v; in >> v;) y.push_back(v - over);
  return y;
}

void expect_rel(double got, double want, double tol, const std::string& what) {
  EXPECT_LE(std::fabs(got - want), tol * std::fabs(want)) << what << ": got " << got << " want " << want;
}

TEST(GpdReference, EstimatesAndProfileIntervalsMatchHighPrecisionValues) {
  std::ifstream in(kData + "/gpd_reference.txt");
  std::map<std::string, std::map<std::string, double>> ref;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream f(line);
    std::string sample, key, value;
    f >> sample >> key >> value;
    ref[sample][key] = std::stod(value);
  }
  ASSERT_EQ(ref.size(), 3u);
  for (const auto& [name, r] : ref) {
    SCOPED_TRACE(name);
    std::vector<double> y = excesses(name);
    ASSERT_GE(y.size(), 100u);
    const GpdEstimate m = fit_gpd_mle(y);
    ASSERT_TRUE(m.ok) << m.error;
    expect_rel(m.scale, r.at("mle_scale"), 1e-9, "scale");
    expect_rel(m.shape, r.at("mle_shape"), 1e-9, "shape");
    expect_rel(m.loglik, r.at("mle_loglik"), 1e-12, "loglik");
    expect_rel(m.var_scale, r.at("mle_var_scale"), 1e-7, "var scale");
    expect_rel(m.cov_scale_shape, r.at("mle_cov"), 1e-7, "cov");
    expect_rel(m.var_shape, r.at("mle_var_shape"), 1e-7, "var shape");
    expect_rel(excess_level(m.scale, m.shape, 40).value, r.at("level"), 1e-9, "level");
    const Interval p = gpd_profile_interval(y, m, 40);
    expect_rel(p.lower, r.at("profile_lower"), 1e-8, "profile lower");
    expect_rel(p.upper, r.at("profile_upper"), 1e-8, "profile upper");

    std::sort(y.begin(), y.end());
    const GpdEstimate l = fit_gpd_lmom(y);
    ASSERT_TRUE(l.ok) << l.error;
    expect_rel(l.scale, r.at("lmom_scale"), 1e-12, "lmom scale");
    expect_rel(l.shape, r.at("lmom_shape"), 1e-12, "lmom shape");
  }
}

TEST(GpdDistribution, TailsAreConsistentAndShapeZeroIsTheExponential) {
  using namespace korvalinde::dist;
  for (double shape : {-0.4, -1e-9, 0.0, 1e-12, 1e-6, 0.3, 1.5}) {
    const Gpd d{2.5, shape};
    for (double y : {1e-12, 0.01, 1.0, 7.0, 40.0}) {
      if (shape < 0 && y >= -2.5 / shape) continue;
      SCOPED_TRACE(testing::Message() << "shape " << shape << " y " << y);
      EXPECT_NEAR(cdf(d, y) + sf(d, y), 1.0, 1e-15);
      EXPECT_NEAR(std::exp(log_cdf(d, y)) / cdf(d, y), 1.0, 1e-13);
      EXPECT_NEAR(quantile(d, cdf(d, y)) / y, 1.0, 1e-11);
      EXPECT_NEAR(quantile_log_sf(d, log_sf(d, y)) / y, 1.0, 1e-14);
      if (y > 0.01) {
        EXPECT_NEAR(quantile_complement(d, sf(d, y)) / y, 1.0, 1e-11);
      }
      // The exponential limit: within a relative shape * y / scale of it.
      const double expo = -y / 2.5;
      EXPECT_NEAR(log_sf(d, y), expo, std::fabs(shape) * y * y / 2.5 + 1e-15 * std::fabs(expo));
      EXPECT_NEAR(log_pdf(d, y), std::log(1 / 2.5) + log_sf(d, y) - std::log1p(shape * y / 2.5), 1e-13);
    }
  }
  // The bounded case: no mass beyond the end point, a quantile of 1 is it.
  const Gpd b{3, -0.5};
  EXPECT_EQ(sf(b, 6.5), 0.0);
  EXPECT_EQ(quantile(b, 1.0), 6.0);
  // A deep upper tail keeps its digits where 1 - p would round to 0.
  EXPECT_NEAR(quantile_complement(Gpd{1, 0}, 1e-300) / (300 * std::log(10.0)), 1.0, 1e-14);
}

TEST(GpdFit, ScaleEquivariantAndRefusesDegenerateSamples) {
  std::vector<double> y = excesses("gpd_heavy.txt");
  const GpdEstimate a = fit_gpd_mle(y);
  for (double& v : y) v *= 1e6;
  const GpdEstimate b = fit_gpd_mle(y);
  ASSERT_TRUE(a.ok && b.ok);
  EXPECT_NEAR(b.scale / (a.scale * 1e6), 1.0, 1e-10);
  EXPECT_NEAR(b.shape, a.shape, 1e-10);
  EXPECT_FALSE(fit_gpd_mle(std::vector<double>{1.0, 1.0, 1.0}).ok);
  EXPECT_FALSE(fit_gpd_mle(std::vector<double>{1.0}).ok);
  EXPECT_FALSE(fit_gpd_lmom(std::vector<double>{}).ok);
}

}  // namespace
}  // namespace korvalinde::stats
