// The uncertainty of the GEV fits: the L-moment standard errors against the
// spread of the estimates over simulated samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "korvalinde/detail/random.hpp"
#include "korvalinde/stats/gev_lmom.hpp"

namespace korvalinde::stats {
namespace {

std::vector<double> gev_sample(const dist::Gev& d, std::size_t n, std::uint64_t stream) {
  auto rng = detail::Xoshiro256ss::stream(23, stream);
  std::vector<double> x(n);
  for (double& v : x) v = dist::quantile(d, rng.uniform());
  std::sort(x.begin(), x.end());
  return x;
}

double sd(const std::vector<double>& v) {
  double m = 0, q = 0;
  for (double x : v) m += x;
  m /= static_cast<double>(v.size());
  for (double x : v) q += (x - m) * (x - m);
  return std::sqrt(q / static_cast<double>(v.size() - 1));
}

double root_mean_square(const std::vector<double>& v) {
  double q = 0;
  for (double x : v) q += x * x;
  return std::sqrt(q / static_cast<double>(v.size()));
}

// Over 500 samples of 200: the reported error of loc, scale, shape and
// the 100-year level (root mean square) is within 15% of the estimates' standard deviation, and
// so is the error of one sample of 100000 scaled to n = 200.
TEST(GevLmomErrors, MatchTheSpreadOfSimulatedEstimates) {
  constexpr std::size_t n = 200, big = 100000;
  constexpr int reps = 500;
  const double y100 = -std::log(-std::log(0.99));
  std::uint64_t stream = 0;
  for (const double shape : {-0.3, 0.0, 0.15, 0.3}) {
    SCOPED_TRACE(::testing::Message() << "shape " << shape);
    const dist::Gev truth{10, 2, shape};
    std::array<std::vector<double>, 4> est, se;
    for (int k = 0; k < reps; ++k) {
      const GevEstimate e = fit_gev_lmom_with_errors(gev_sample(truth, n, stream++));
      ASSERT_TRUE(e.ok) << e.error;
      const Estimate q = gev_quantile(e, y100, 1.96);
      const std::array<double, 4> v{e.d.loc, e.d.scale, e.d.shape, q.value};
      const std::array<double, 4> s{std::sqrt(e.cov[0][0]), std::sqrt(e.cov[1][1]),
                                    std::sqrt(e.cov[2][2]), q.se};
      for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(std::isfinite(s[i]) && s[i] > 0) << i;
        est[i].push_back(v[i]);
        se[i].push_back(s[i]);
      }
      EXPECT_NEAR(q.upper - q.value, 1.96 * q.se, 1e-9 * std::fabs(q.value));
    }
    const GevEstimate large = fit_gev_lmom_with_errors(gev_sample(truth, big, 1000 + stream));
    const double scale_to_n = std::sqrt(static_cast<double>(big) / n);
    const std::array<double, 4> large_se{std::sqrt(large.cov[0][0]), std::sqrt(large.cov[1][1]),
                                         std::sqrt(large.cov[2][2]),
                                         gev_quantile(large, y100, 1.96).se};
    for (int i = 0; i < 4; ++i) {
      SCOPED_TRACE(::testing::Message() << "parameter " << i);
      const double spread = sd(est[i]);
      EXPECT_NEAR(root_mean_square(se[i]) / spread, 1, 0.15);
      EXPECT_NEAR(large_se[i] * scale_to_n / spread, 1, 0.15);
    }
  }
}

}  // namespace
}  // namespace korvalinde::stats
