#include "dnls/io/format.hpp"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using dnls::fmt::Arg;

std::vector<std::string> records(std::string_view layout, std::initializer_list<Arg> values) {
  std::vector<std::string> out;
  dnls::fmt::render(
      layout, std::span<const Arg>(values.begin(), values.size()),
      [](void* c, std::string_view r) { static_cast<std::vector<std::string>*>(c)->emplace_back(r); },
      &out);
  return out;
}

std::string F(int w, int d, double v) {
  std::string s(static_cast<std::size_t>(w), '?');
  dnls::fmt::put_F(s.data(), w, d, v);
  return s;
}

std::string PE(int w, int d, double v) {
  std::string s(static_cast<std::size_t>(w), '?');
  dnls::fmt::put_PE(s.data(), 1, w, d, v);
  return s;
}

TEST(FormatF, RoundsAndJustifies) {
  EXPECT_EQ(F(12, 7, 1.5), "   1.5000000");
  EXPECT_EQ(F(10, 5, -25.995734), " -25.99573");
  EXPECT_EQ(F(15, 5, 123456789.0), "123456789.00000");
  EXPECT_EQ(F(5, 0, 3.0), "   3.");
}

TEST(FormatF, ExactTiesGoToEvenAndNearTiesFollowTheBinaryValue) {
  EXPECT_EQ(F(6, 2, 0.125), "  0.12");   // exact tie, down to even
  EXPECT_EQ(F(6, 2, 0.375), "  0.38");   // exact tie, up to even
  EXPECT_EQ(F(6, 2, 2.675), "  2.67");   // 2.67499999... in binary
  EXPECT_EQ(F(6, 2, 1.005), "  1.00");   // 1.00499999...
  EXPECT_EQ(F(6, 1, 0.25), "   0.2");
}

TEST(FormatF, NegativeZeroAndLeadingZero) {
  EXPECT_EQ(F(12, 7, -1e-9), "  -0.0000000");
  EXPECT_EQ(F(9, 7, 0.25), "0.2500000");
  EXPECT_EQ(F(8, 7, 0.25), ".2500000");
  EXPECT_EQ(F(9, 7, -0.25), "-.2500000");
  EXPECT_EQ(F(7, 7, 0.25), "*******");
}

TEST(FormatF, OverflowGivesAsterisks) {
  EXPECT_EQ(F(15, 7, 1e7), "***************");
  EXPECT_EQ(F(15, 7, 9999999.9999999), "9999999.9999999");
  EXPECT_EQ(F(15, 5, 1e7), " 10000000.00000");
  EXPECT_EQ(F(12, 7, 1e300), "************");
}

TEST(FormatF, SpecialValues) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(F(12, 7, inf), "    Infinity");
  EXPECT_EQ(F(12, 7, -inf), "   -Infinity");
  EXPECT_EQ(F(10, 7, std::nan("")), "       NaN");
  EXPECT_EQ(F(5, 2, inf), "  Inf");
}

TEST(FormatF, ExactPathAgreesWithPrintfRounding) {
  // printf's exact rounding in the C locale is the reference.
  ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  std::uint64_t state = 0x9E3779B97F4A7C15u;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  for (int k = 0; k < 200000; ++k) {
    const int d = static_cast<int>(next() % 10);
    double v;
    switch (k % 4) {
      case 0:  // any magnitude below 1e9
        v = std::ldexp(static_cast<double>(next() >> 11), static_cast<int>(next() % 90) - 113);
        break;
      case 1:  // decimal ties and near ties: n / 2 / 10^d, one ulp either way
        v = (static_cast<double>(next() % 2000000) + 0.5) / std::pow(10.0, d);
        v = std::nextafter(v, (k & 8) ? 1e300 : -1e300);
        if (k & 16) v = (static_cast<double>(next() % 2000000) + 0.5) / std::pow(10.0, d);
        break;
      case 2:  // exactly representable ties such as 0.125
        v = std::ldexp(static_cast<double>(next() % 100000), -static_cast<int>(next() % 12));
        break;
      default:  // near the 1e9 limit
        v = 1e9 - std::ldexp(static_cast<double>(next() % 1000000), -static_cast<int>(next() % 30));
    }
    if (k & 32) v = -v;
    if (!(std::fabs(v) < 1e9)) continue;
    char want[64];
    int n = std::snprintf(want, sizeof want, "%.*f", d, v);
    if (d == 0) want[n++] = '.';
    ASSERT_EQ(F(40, d, v), std::string(40 - n, ' ') + std::string(want, n)) << d << " " << v;
  }
  // Any magnitude and up to 30 decimals; the significant digits of 1PE.
  for (int k = 0; k < 20000; ++k) {
    const int d = static_cast<int>(next() % 31);
    double v = std::ldexp(static_cast<double>(next() >> 11), static_cast<int>(next() % 200) - 150);
    if (k & 1) v = -v;
    char want[128];
    int n = std::snprintf(want, sizeof want, "%.*f", d, v);
    if (d == 0) want[n++] = '.';
    ASSERT_EQ(F(90, d, v), std::string(90 - n, ' ') + std::string(want, n)) << d << " " << v;
    // 1PE: printf's mantissa, then E and two exponent digits, or three without the E.
    std::snprintf(want, sizeof want, "%.*E", d, v);
    const char* e = std::strchr(want, 'E');
    const int exponent = std::atoi(e + 1);
    char tail[8];
    std::snprintf(tail, sizeof tail, std::abs(exponent) <= 99 ? "E%+03d" : "%+04d", exponent);
    const std::string pe =
        std::string(want, static_cast<std::size_t>(e - want)) + (d == 0 ? "." : "") + tail;
    ASSERT_EQ(PE(60, d, v), std::string(60 - pe.size(), ' ') + pe) << d << " " << v;
  }
}

TEST(FormatI, Fields) {
  std::string s(15, '?');
  dnls::fmt::put_I(s.data(), 15, 1);
  EXPECT_EQ(s, "              1");
  dnls::fmt::put_I(s.data(), 3, -1234);
  EXPECT_EQ(s.substr(0, 3), "***");
  dnls::fmt::put_I(s.data(), 10, -2147483647 - 1);
  EXPECT_EQ(s.substr(0, 10), "**********");
  dnls::fmt::put_I(s.data(), 11, -2147483647 - 1);
  EXPECT_EQ(s.substr(0, 11), "-2147483648");
}

TEST(FormatPE, ScientificWithOneLeadingDigit) {
  EXPECT_EQ(PE(15, 6, 0.0123456789), "   1.234568E-02");
  EXPECT_EQ(PE(15, 6, -4.5), "  -4.500000E+00");
  EXPECT_EQ(PE(15, 6, 0.0), "   0.000000E+00");
  EXPECT_EQ(PE(15, 6, 1.5e-300), "   1.500000-300");
  EXPECT_EQ(PE(10, 6, 1.0), "**********");
  EXPECT_EQ(PE(15, 6, std::nan("")), "            NaN");
}

TEST(FormatLayout, ReportLinesKeepBlanksAndEmptyLines) {
  auto r = records("(2x,I15,20x, 'EXIT PATAMETER < 0, ERROR FITTING  ',//)", {-2});
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0], "               -2                    EXIT PATAMETER < 0, ERROR FITTING  ");
  EXPECT_EQ(r[1], "");
  EXPECT_EQ(r[2], "");

  r = records("(//,'Extreme value fitting: ',//,  10x, 'f(x)',/)", {});
  ASSERT_EQ(r.size(), 6u);
  EXPECT_EQ(r[2], "Extreme value fitting: ");
  EXPECT_EQ(r[3], "");
  EXPECT_EQ(r[4], "          f(x)");
  EXPECT_EQ(r[5], "");
}

TEST(FormatLayout, GroupsRepeatCountsAndText) {
  auto r = records("(A1,A11,2x,3(A12,2x))", {"#", "X(i)", "Y(i)", "Fitted_Y(i)", "DELTA"});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0], "#       X(i)          Y(i)   Fitted_Y(i)         DELTA");
  EXPECT_EQ(r[0].size(), 54u);

  r = records("(4(F12.7,2x))", {1.5, 0.25, 0.2312345, 0.0187655});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0], "   1.5000000     0.2500000     0.2312345     0.0187655");

  r = records("(2x,2F15.7,5x,'S')", {1.0, -2.0});
  EXPECT_EQ(r[0], "        1.0000000     -2.0000000     S");

  r = records("(A3,'|',A)", {"ABCDE", "xy  "});
  EXPECT_EQ(r[0], "ABC|xy  ");
  r = records("(A6,'|')", {""});
  EXPECT_EQ(r[0], "      |");
}

TEST(FormatLayout, PendingBlanksAndValuesRunningOut) {
  EXPECT_EQ(records("(1X)", {}), std::vector<std::string>{" "});
  EXPECT_EQ(records("('ab',3x)", {}), std::vector<std::string>{"ab"});
  EXPECT_EQ(records("('it''s')", {}), std::vector<std::string>{"it's"});
  // The write ends at the first numeric item without a value.
  EXPECT_EQ(records("('n=',I3,' end')", {}), std::vector<std::string>{"n="});
}

TEST(FormatLayout, InternalWrite) {
  char buf[128];
  std::size_t n = dnls::fmt::format_to(
      buf, sizeof buf, "('DERIVATIVE OF FUNCTION ',I8,' MAY BE WRONG, ERR = ',1PE15.6,1X,"
                       "' TOO CLOSE TO 0.')",
      {3, 0.0123456789});
  EXPECT_EQ(std::string(buf, n),
            "DERIVATIVE OF FUNCTION        3 MAY BE WRONG, ERR =    1.234568E-02  TOO CLOSE TO 0.");
  EXPECT_EQ(n, 84u);
}

}  // namespace
