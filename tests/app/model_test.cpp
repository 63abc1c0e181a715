#include "korvalinde/classic/model.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "dnls/solver/dnls.hpp"
#include "korvalinde/classic/blocks.hpp"
#include "tests/support/child.hpp"

namespace {

using korvalinde::extremeval;

TEST(Model, DensityAtTheLocation) {
  EXPECT_DOUBLE_EQ(extremeval(2.0, 2.0, 0.5), std::exp(-1.0) / 0.5);
  // The product first, then one division by b.
  const double z = (3.0 - 1.0) / 2.0;
  EXPECT_EQ(extremeval(3.0, 1.0, 2.0), (std::exp(-std::exp(-z)) * std::exp(-z)) / 2.0);
}

TEST(Model, CutValue) {
  const double p[2] = {3.0, 2.0};
  double q = 0;
  int rc = 0;
  korvalinde::findcutdpa(std::exp(-1.0), p, q, rc);
  EXPECT_EQ(rc, 1);
  EXPECT_NEAR(q, 3.0, 1e-15);
  korvalinde::findcutdpa(1.0, p, q, rc);
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(q, std::numeric_limits<double>::infinity());
  korvalinde::findcutdpa(0.99, p, q, rc);
  EXPECT_EQ(q, 3.0 - 2.0 * std::log(-std::log(0.99)));
  for (double bad : {0.0, -0.5, 1.0000001, std::nan("")}) {
    q = 42;
    rc = 0;
    korvalinde::findcutdpa(bad, p, q, rc);
    EXPECT_EQ(rc, korvalinde::kBadProbability) << bad;
    EXPECT_EQ(q, 42.0);
  }
}

TEST(Model, StatisticsOfResiduals) {
  const double r[3] = {3.0, -4.0, 0.0};
  EXPECT_EQ(korvalinde::enorm(3, r), 5.0);
  EXPECT_EQ(korvalinde::standerror(3, r), std::sqrt(25.0 / 2.0));
}

TEST(Model, CorrelationMagnitudeIgnoresTheSign) {
  // Observed densities rise where the fitted density falls.
  const double p[2] = {0.0, 1.0};
  for (int i = 0; i < 5; ++i) {
    korvalinde::data1.x[i] = 1.0 + i;
    korvalinde::data1.y[i] = 0.1 * i;
  }
  double c = 0;
  korvalinde::corrl(5, p, c);
  EXPECT_GT(c, 0.9);
  EXPECT_LE(c, 1.0);
  EXPECT_EQ(korvalinde::fy1[2], extremeval(3.0, 0.0, 1.0));
}

TEST(Model, ResidualsAreObservedMinusFitted) {
  korvalinde::data1.x[0] = 1.0;
  korvalinde::data1.y[0] = 0.5;
  const double x[2] = {1.0, 2.0};
  double f[1] = {0};
  int iflag = 1;
  fcn(iflag, 1, 2, x, f, nullptr, 1);
  EXPECT_EQ(f[0], 0.5 - extremeval(1.0, 1.0, 2.0));
  iflag = 0;
  f[0] = 7;
  fcn(iflag, 1, 2, x, f, nullptr, 1);
  EXPECT_EQ(f[0], 7.0);
}

TEST(Model, JacobianRequestEndsTheRun) {
  auto run = testsupport::run_in_child([] {
    const double x[2] = {1.0, 2.0};
    double f[1], j[2];
    int iflag = 2;
    fcn(iflag, 1, 2, x, f, j, 1);
  });
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, " -9999 DO_not_use_JACOBI\n");
  EXPECT_EQ(run.err, "");
}

}  // namespace
