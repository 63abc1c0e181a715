#include "korvalinde/classic/histogram.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <string>

#include "korvalinde/classic/blocks.hpp"

namespace {

using korvalinde::data0;
using korvalinde::data1;
using korvalinde::yt;

int put(std::initializer_list<double> values) {
  int n = 0;
  for (double v : values) data0[n++] = v;
  return n;
}

struct Binned {
  int m;
  double a, b, minimum, dx;
};

Binned bin(int count, int bins) {
  Binned r{};
  double params[2];
  korvalinde::preproccdata(count, bins, r.m, params, r.minimum, r.dx);
  r.a = params[0];
  r.b = params[1];
  return r;
}

TEST(Histogram, OneSamplePerBin) {
  Binned r = bin(put({1, 2, 3, 4}), 3);
  EXPECT_EQ(r.m, 4);
  EXPECT_EQ(r.dx, 1.0);
  EXPECT_EQ(r.minimum, 1.0);
  EXPECT_EQ(r.b, 0.6);
  EXPECT_EQ(r.a, 1.5);  // the first of equal maxima
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(data1.y[i], 0.25);
    EXPECT_EQ(data1.x[i], 1.5 + i);
  }
  EXPECT_EQ(data1.x[4], 0.0);
  EXPECT_EQ(data1.y[4], 0.0);
}

TEST(Histogram, EmptyBinsFillLeftToRightAndAddTheirIntegerParts) {
  // Counts 3, 0, 0, 5: bin 2 becomes 4, bin 3 then 0.5 * (4 + 5) = 4.5.
  Binned r = bin(put({0, 0, 0, 3, 3, 3, 3, 3}), 3);
  ASSERT_EQ(r.m, 4);
  EXPECT_EQ(yt[0], 3.0);
  EXPECT_EQ(yt[1], 4.0);
  EXPECT_EQ(yt[2], 4.5);
  EXPECT_EQ(yt[3], 5.0);
  const double total = 8 + 4 + 4;  // 4.5 adds 4
  EXPECT_EQ(data1.y[2], 4.5 / total / 1.0);
  EXPECT_EQ(r.a, data1.x[3]);
}

TEST(Histogram, FullestFirstBinGivesItsCentre) {
  Binned r = bin(put({10, 10, 10, 11, 12, 14}), 4);
  EXPECT_EQ(r.dx, 1.0);
  EXPECT_EQ(r.a, 10.5);
  EXPECT_EQ(r.m, 5);
}

TEST(Histogram, WidthThatRoundsBelowTheBinCountGivesThatManyBins) {
  // (max - min) / dx rounds just below the bin count: M equals the bin count.
  for (int bins = 1; bins < 200; ++bins) {
    Binned r = bin(put({0.0, 0.1, 1.0 / 3.0, 0.7}), bins);
    const double ratio = (0.7 - 0.0) / r.dx;
    EXPECT_EQ(r.m, static_cast<int>(ratio) + 1);
    EXPECT_GT(data1.y[r.m - 1], 0.0);  // the maximum always lands in bin M
  }
}

TEST(CheckBinning, RejectsBinCountsAndUnusableRanges) {
  korvalinde::Message m{};
  const int n = put({1, 2, 3});
  EXPECT_EQ(korvalinde::check_binning(n, 0, m), korvalinde::kBadBinCount);
  EXPECT_EQ(std::string(m.view()).find("-9200 NUMBER OF BINS MUST BE 1 TO 9999"), 0u);
  EXPECT_EQ(korvalinde::check_binning(n, 10000, m), korvalinde::kBadBinCount);
  EXPECT_EQ(korvalinde::check_binning(n, -5, m), korvalinde::kBadBinCount);
  EXPECT_EQ(korvalinde::check_binning(n, 1, m), 0);
  EXPECT_EQ(korvalinde::check_binning(n, 9999, m), 0);

  EXPECT_EQ(korvalinde::check_binning(0, 10, m), korvalinde::kNoRange);
  EXPECT_EQ(std::string(m.view()).find("-9300 FITTING DATA HAVE NO USABLE RANGE"), 0u);
  EXPECT_EQ(korvalinde::check_binning(put({5}), 10, m), korvalinde::kNoRange);
  EXPECT_EQ(korvalinde::check_binning(put({5, 5, 5}), 10, m), korvalinde::kNoRange);
  EXPECT_EQ(korvalinde::check_binning(put({-1.7e308, 1.7e308}), 10, m), korvalinde::kNoRange);
  EXPECT_EQ(korvalinde::check_binning(put({0, 4.9e-324}), 2, m), korvalinde::kNoRange);
  EXPECT_EQ(korvalinde::check_binning(put({0, 4.9e-324}), 1, m), 0);
}

}  // namespace
