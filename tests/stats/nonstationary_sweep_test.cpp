// The long robustness sweep of the fits with covariates: 10^5 values, the
// GEV with a location or location and log-scale trend and the GPD with a
// log-scale trend, over shapes, magnitudes and covariates far from 0.
// Every fit converges with the gradient at 0 or fails with a clear error.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <vector>

#include "korvalinde/detail/random.hpp"
#include "korvalinde/stats/nonstationary.hpp"

namespace korvalinde::stats {
namespace {

struct Case {
  NsModel model;
  double xi, scale, origin, trend;
};

void check(const Case& k, std::size_t n, detail::Xoshiro256ss& rng, int& converged, int& total) {
  const bool gpd = k.model.family == NsFamily::gpd;
  std::vector<double> x(n), t(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double u = static_cast<double>(i) / static_cast<double>(n);  // 0..1 over the record
    t[i] = k.origin + 100 * u;
    // Gumbel or exponential variate, mapped to the shape.
    const double e = gpd ? -std::log(rng.uniform()) : -std::log(-std::log(rng.uniform()));
    const double w = k.xi == 0 ? e : std::expm1(k.xi * e) / k.xi;
    const double sigma = 10 * std::exp(k.model.scale ? k.trend * u : 0.0);
    x[i] = gpd ? k.scale * sigma * w : k.scale * (100 + 30 * k.trend * u + sigma * w);
  }
  const NsFit f = fit_nonstationary({x, {t}, {"time"}}, k.model);
  ++total;
  if (!f.ok) {
    EXPECT_FALSE(f.error.empty());
    EXPECT_EQ(f.error.find('\n'), std::string::npos);
    return;
  }
  ++converged;
  double l;
  std::vector<double> g(f.theta.size());
  ASSERT_TRUE(ns_loglik(f, f.theta.data(), l, g.data(), nullptr));
  for (double v : g) EXPECT_LT(std::fabs(v), 1e-6 * std::sqrt(static_cast<double>(n))) << k.xi << ' ' << k.scale;
  for (double v : f.coef) EXPECT_TRUE(std::isfinite(v));
  for (double v : f.se) EXPECT_TRUE(std::isfinite(v) && v > 0);
  EXPECT_NEAR(f.coef.back(), k.xi, 0.05) << k.xi << ' ' << k.scale << ' ' << k.origin;
}

TEST(NonstationarySweep, HundredThousandValues) {
  detail::Xoshiro256ss rng(20261211);
  NsModel loc, locscale, gpd;
  locscale.scale = true;
  gpd.family = NsFamily::gpd;
  gpd.loc = false;
  gpd.scale = true;
  int converged = 0, total = 0;
  for (const NsModel& m : {loc, locscale, gpd})
    for (const double xi : {-0.5, -0.2, 0.0, 0.3, 0.8})
      for (const double scale : {1e-100, 1.0, 1e100})
        for (const double origin : {1900.0, 1e6})
          for (const double trend : {0.0, 0.5}) check({m, xi, scale, origin, trend}, 100000, rng, converged, total);
  EXPECT_GE(converged, total * 9 / 10) << converged << " of " << total;
}

}  // namespace
}  // namespace korvalinde::stats
