// The vectorisable exp and log1p of the GEV likelihood against long double
// over their whole range, and their special values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "korvalinde/detail/random.hpp"
#include "korvalinde/detail/vmath.hpp"

namespace korvalinde::detail {
namespace {

// Relative error in units of 2^-53.
double err(double got, long double want) {
  return static_cast<double>(std::fabs((got - want) / want) * 0x1p53L);
}

TEST(VectorMath, WithinAboutOneUlpOverTheRange) {
  auto rng = Xoshiro256ss::stream(5, 0);
  double worst_exp = 0, worst_log = 0;
  for (int i = 0; i < 400000; ++i) {
    // exp: uniform over its normal range and dense near 0.
    const double a = i % 2 ? -708 + 1417 * rng.uniform() : (rng.uniform() - 0.5) * std::ldexp(1.0, i % 40 - 30);
    worst_exp = std::max(worst_exp, err(vexp(a), std::exp(static_cast<long double>(a))));
    // log1p: u from just above -1 to 1e300, log-uniform on both sides of 0.
    const double m = std::exp(-745 * rng.uniform() + (i % 3 == 0 ? 690 : 0));
    const double u = i % 2 ? m : -m / (1 + m);
    if (u > -1 && u != 0)
      worst_log = std::max(worst_log, err(vlog1p(u), std::log1p(static_cast<long double>(u))));
  }
  EXPECT_LT(worst_exp, 2.0);
  EXPECT_LT(worst_log, 2.0);
}

TEST(VectorMath, OverflowUnderflowAndEdges) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(vexp(709.8), inf);
  EXPECT_EQ(vexp(1e300), inf);
  EXPECT_EQ(vexp(inf), inf);
  EXPECT_EQ(vexp(-746), 0.0);
  EXPECT_EQ(vexp(-inf), 0.0);
  EXPECT_EQ(vexp(0), 1.0);
  // Subnormal results keep their few bits.
  EXPECT_NEAR(vexp(-740) / static_cast<double>(std::exp(-740.0L)), 1, 1e-10);
  EXPECT_EQ(vlog1p(0), 0.0);
  EXPECT_EQ(vlog1p(1e-300), 1e-300);
  EXPECT_NEAR(vlog1p(1.7e308), std::log1p(1.7e308), 1e-13);
  EXPECT_NEAR(vlog1p(-1 + 0x1p-52), std::log1p(-1 + 0x1p-52), 1e-13);
}

}  // namespace
}  // namespace korvalinde::detail
