// The fitting core's least-squares fit gives the classic run's numbers to the
// last bit: the same sample through the classic stages and through fit_sample.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "korvalinde/classic/blocks.hpp"
#include "korvalinde/classic/histogram.hpp"
#include "korvalinde/classic/model.hpp"
#include "korvalinde/classic/reader.hpp"
#include "korvalinde/classic/solver_entry.hpp"
#include "korvalinde/core/fit.hpp"
#include "dnls/messages/machine.hpp"

namespace {

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

void expect_equal(const std::string& path, int bins, double prob) {
  SCOPED_TRACE(path + ", " + std::to_string(bins) + " bins");
  int status = 0, count = 0;
  korvalinde::Message message{};
  korvalinde::ini_data(status, message, path, count);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(korvalinde::check_binning(count, bins, message), 0);
  int m = 0;
  double params[2], minimum, dx;
  korvalinde::preproccdata(count, bins, m, params, minimum, dx);
  static double fvec[korvalinde::kMaxBins], wa[110050];
  int iwa[2], info = 0;
  dnls::DNLS1E(1, m, 2, params, fvec, std::sqrt(dnls::D1MACH(4)), 0, info, iwa, wa, 110050);
  double cut = 0, rerror = 0;
  int rc = 0;
  korvalinde::findcutdpa(prob, params, cut, rc);
  korvalinde::corrl(m, params, rerror);

  korvalinde::FitOptions options;
  options.bins = bins;
  options.prob = prob;
  options.mle = options.lmom = false;
  const korvalinde::FitResult r =
      korvalinde::fit_sample({korvalinde::data0, std::size_t(count)}, options, path);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.m, m);
  EXPECT_EQ(r.ls.info, info);
  EXPECT_EQ(bits(r.ls.a), bits(params[0]));
  EXPECT_EQ(bits(r.ls.b), bits(params[1]));
  EXPECT_EQ(bits(r.ls.quantile.value), bits(cut));
  EXPECT_EQ(bits(r.ls.serror), bits(korvalinde::standerror(m, fvec)));
  EXPECT_EQ(bits(r.ls.l2), bits(korvalinde::enorm(m, fvec)));
  EXPECT_EQ(bits(r.ls.rerror), bits(rerror));
}

TEST(FitEqualsClassic, BitForBit) {
  const std::string root = KORVALINDE_SOURCE_DIR;
  expect_equal(root + "/examples/sample.txt", 50, 0.99);
  expect_equal(root + "/examples/sample.txt", 7, 0.5);
  expect_equal(root + "/tests/stats/data/portpirie_sealevel.txt", 20, 0.999);
  expect_equal(root + "/tests/e2e/cases/ctl_commas/data.txt", 20, 0.99);
}

// A value that is not finite is named by its position, the first of them,
// whatever the thread count.
TEST(FitSample, NamesTheFirstValueThatIsNotFinite) {
  std::vector<double> x(200000);
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>(i % 977);
  x[180000] = -INFINITY;
  x[150000] = NAN;
  for (unsigned threads : {1u, 2u}) {
    korvalinde::FitOptions options;
    options.threads = threads;
    const korvalinde::FitResult r = korvalinde::fit_sample(x, options, "x");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "value 150001 is not finite") << threads;
  }
}

}  // namespace
