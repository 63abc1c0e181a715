// Sample number conversion: every accepted token must give strtod's correctly
// rounded value (bit for bit, the sign of zero included) and exactly the
// grammar [sign] digits [. digits] [(E|e|D|d) [sign] digits] is accepted.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "korvalinde/classic/reader.hpp"
#include "korvalinde/input/number.hpp"

namespace {

using korvalinde::parse_sample;

// The grammar as a state machine. Accepting: digits (2), digits and a point
// with or without more digits (3), a point and digits (5), a complete
// exponent (8).
bool in_grammar(const std::string& t) {
  int state = 0;
  for (char c : t) {
    const bool digit = c >= '0' && c <= '9';
    const bool sign = c == '+' || c == '-';
    const bool letter = c == 'E' || c == 'e' || c == 'D' || c == 'd';
    switch (state) {
      case 0: state = sign ? 1 : digit ? 2 : c == '.' ? 4 : -1; break;
      case 1: state = digit ? 2 : c == '.' ? 4 : -1; break;
      case 2: state = digit ? 2 : c == '.' ? 3 : letter ? 6 : -1; break;
      case 3: state = digit ? 3 : letter ? 6 : -1; break;
      case 4: state = digit ? 5 : -1; break;
      case 5: state = digit ? 5 : letter ? 6 : -1; break;
      case 6: state = sign ? 7 : digit ? 8 : -1; break;
      default: state = digit ? 8 : -1; break;  // 7 and 8
    }
    if (state < 0) return false;
  }
  return state == 2 || state == 3 || state == 5 || state == 8;
}

// The expected outcome, by other means: the grammar above and strtod
// (correctly rounded) with the exponent letter spelled E.
bool reference(const std::string& token, double& value) {
  if (!in_grammar(token)) return false;
  std::string text = token;
  for (char& c : text) {
    if (c == 'D' || c == 'd') c = 'E';
  }
  value = std::strtod(text.c_str(), nullptr);
  return std::isfinite(value);
}

::testing::AssertionResult same_as_reference(const std::string& token) {
  double want = 0, got = 0;
  const bool accept = reference(token, want);
  if (parse_sample(token, got) != accept) {
    return ::testing::AssertionFailure() << "'" << token << "' should be "
                                         << (accept ? "accepted" : "refused");
  }
  if (accept && std::bit_cast<std::uint64_t>(got) != std::bit_cast<std::uint64_t>(want)) {
    char text[100];
    std::snprintf(text, sizeof text, "%.17g, not %.17g", got, want);
    return ::testing::AssertionFailure() << "'" << token << "' gives " << text;
  }
  return ::testing::AssertionSuccess();
}

std::string digits(std::mt19937_64& rng, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += static_cast<char>('0' + rng() % 10);
  return s;
}

TEST(ParseExact, EdgeTokens) {
  for (const char* t : {
           // signs, bare points, leading and trailing zeros
           "0", "-0", "+0", "-0.0", "-.0", "0.", "-0e5", "5.", ".5", "-.5", "+.5e1", "-5.E-1",
           "00.5", "-0000000000000000000000001.5", "1.50000000000000000000000000",
           "0.000000000000000000000000000000000000000000000000001",
           // D exponents
           "1D5", "1d-5", "2.5D+3", "-9.9D-1", "1.25d022",
           // around 2^53 = 9007199254740992
           "9007199254740991", "9007199254740992", "9007199254740993", "9007199254740994",
           "9007199254740995", "9007199254740993.0", "900719925474099.3", "9007199254740.993e3",
           "18014398509481985", "-9007199254740993", "4503599627370497.5",
           // exponents at the limit of exact powers of ten
           "1e22", "1e23", "1e-22", "1e-23", "9007199254740992e22", "9007199254740992e-22",
           "9007199254740993e22", "123456789e22", "123456789e-22", "1.5e-22", "0.1e23",
           "1234567890123456789e3", "12345678901234567890e3", "1e+0022", "1e-0000000000000022",
           // 16-byte bodies and their neighbours
           "1234567890123456", "123456789012345.6", ".123456789012345", "12345678.12345678",
           "12345678901234567", "1234567890123456.", "9999999999999999", "0.999999999999999",
           // long mantissas, correctly rounded only with every digit
           "0.1000000000000000055511151231257827", "0.1000000000000000055511151231257828",
           "2.2250738585072011e-308", "2.2250738585072012e-308", "1.00000000000000011102230246251565",
           "1.00000000000000011102230246251566", "179769313486231570814527423731704356798070e267",
           // underflow to subnormals and to zero, overflow refused
           "4.9e-324", "2.4703282292062327e-324", "2.4703282292062328e-324", "1e-400", "-1e-400",
           "0e999999999999999999999", "0.000e-99999", "1.7976931348623157e308",
           "1.7976931348623158e308", "1.7976931348623159e308", "1.8e308", "-1e309",
           "1e99999999999999999999", "1e-99999999999999999999",
           // refused forms
           "", "+", "-", ".", "+.", "-.e1", "e5", "1e", "1e+", "1e-", "1.5.2", "1..5", "1,5", "1 5",
           "0x10", "1.5f", "NaN", "inf", "-Infinity", "++1", "+-1", "1e5.0", "1e5e5", "1E+-5",
           "1.2.", ".1.", "12345678.1234567.", "1:", "1/", "/1", "\x80", "1\xb0", "\xff" "5",
           "1234567\xb9", "1\r"}) {
    EXPECT_TRUE(same_as_reference(t));
  }
  EXPECT_TRUE(same_as_reference(std::string("5\0", 2)));
  EXPECT_TRUE(same_as_reference(std::string("1.5\0\0\0\0\0\0\0\0\0", 12)));
}

TEST(ParseExact, EveryLengthAndPointPosition) {
  std::mt19937_64 rng(7);
  for (int len = 1; len <= 22; ++len) {
    for (int point = -1; point <= len; ++point) {  // -1: no point
      for (int rep = 0; rep < 30; ++rep) {
        std::string t = rep % 4 == 1 ? "-" : rep % 4 == 2 ? "+" : "";
        const std::string body = digits(rng, len);
        for (int i = 0; i <= len; ++i) {
          if (i == point) t += '.';
          if (i < len) t += rep % 3 == 0 && i == 0 ? '0' : body[static_cast<std::size_t>(i)];
        }
        EXPECT_TRUE(same_as_reference(t));
      }
    }
  }
}

TEST(ParseExact, HalfwayCases) {
  std::mt19937_64 rng(11);
  // w * 5^k odd between 2^53 and 2^54 lies halfway between two doubles: the
  // multiply of the fast path must round it to even.
  for (int k = 1; k <= 22; ++k) {
    std::uint64_t five = 1;
    for (int i = 0; i < k; ++i) five *= 5;
    const std::uint64_t lo = ((std::uint64_t{1} << 53) + five - 1) / five;
    const std::uint64_t hi = (std::uint64_t{1} << 54) / five;
    for (int rep = 0; rep < 20 && lo <= hi; ++rep) {
      const std::uint64_t w = (lo + rng() % (hi - lo + 1)) | 1;
      if (w > hi) continue;
      const std::string s = std::to_string(w);
      EXPECT_TRUE(same_as_reference(s + "e" + std::to_string(k)));
      if (s.size() > 3) {  // the same value with a point and a D exponent
        EXPECT_TRUE(same_as_reference(s.substr(0, 3) + "." + s.substr(3) + "D" +
                                      std::to_string(k + static_cast<int>(s.size()) - 3)));
      }
    }
  }
  // Exact midpoints between neighbouring doubles of 1 to 2^60 (71 digits
  // print them exactly), and a decimal just above each.
  for (int rep = 0; rep < 2000; ++rep) {
    const double d = std::ldexp(1.0 + static_cast<double>(rng() >> 12) * 0x1p-52,
                                static_cast<int>(rng() % 60));
    const long double mid =
        (static_cast<long double>(d) + std::nextafter(d, 1e300)) / 2;  // exact in 64 bits
    char text[200];
    std::snprintf(text, sizeof text, "%s%.70Le", rep % 2 ? "-" : "", mid);
    const std::string t = text;
    EXPECT_TRUE(same_as_reference(t));
    const std::size_t e = t.find('e');
    EXPECT_TRUE(same_as_reference(t.substr(0, e) + "1" + t.substr(e)));
  }
}

TEST(ParseExact, PrintedDoubles) {
  std::mt19937_64 rng(3);
  for (int rep = 0; rep < 30000; ++rep) {
    double d;
    if (rep % 2 == 0) {
      d = std::bit_cast<double>(rng());
      if (!std::isfinite(d)) continue;
    } else {
      d = std::ldexp(static_cast<double>(rng() >> 11) * 0x1p-53, static_cast<int>(rng() % 80) - 40);
    }
    const int prec = static_cast<int>(rng() % 18);
    char text[400];
    switch (rep % 3) {
      case 0:
        std::snprintf(text, sizeof text, "%.*g", prec, d);
        break;
      case 1:
        std::snprintf(text, sizeof text, "%.*f", prec, d);
        break;
      default:
        std::snprintf(text, sizeof text, "%.*E", prec, d);
        break;
    }
    EXPECT_TRUE(same_as_reference(text));
    std::snprintf(text, sizeof text, "%.17g", d);
    double back = 0;
    EXPECT_TRUE(parse_sample(text, back) && back == d) << text;
  }
}

TEST(ParseExact, RandomTokensAndDamagedOnes) {
  std::mt19937_64 rng(5);
  const std::string noise = std::string(".eEdD+-x /:09\x80\xff", 16) + std::string(1, '\0');
  for (int rep = 0; rep < 60000; ++rep) {
    std::string t;
    if (rng() % 3 == 0) t += rng() % 2 ? "-" : "+";
    t += digits(rng, static_cast<int>(rng() % 12));
    if (rng() % 2) {
      t += '.';
      t += digits(rng, static_cast<int>(rng() % 12));
    }
    if (rng() % 3 == 0) {
      t += "eEdD"[rng() % 4];
      if (rng() % 2) t += rng() % 2 ? "-" : "+";
      t += digits(rng, 1 + static_cast<int>(rng() % 3));
    }
    if (rep % 4 == 0 && !t.empty()) t[rng() % t.size()] = noise[rng() % noise.size()];
    if (rep % 9 == 0) t.insert(rng() % (t.size() + 1), 1, noise[rng() % noise.size()]);
    EXPECT_TRUE(same_as_reference(t));
    // The short form's scan, where it answers, is the full scan.
    const std::string padded = t + noise[rng() % noise.size()] + std::string(24, '5');
    const char* const p = padded.data();
    korvalinde::DecimalScan fast{p, nullptr, false};
    if (korvalinde::scan_short_decimal(p, fast)) {
      const korvalinde::DecimalScan full = korvalinde::scan_decimal(p, p + padded.size());
      EXPECT_TRUE(full.complete && fast.end == full.end && full.exponent == nullptr &&
                  fast.mantissa == full.mantissa && fast.digits == full.digits &&
                  fast.fraction == full.fraction)
          << t;
    }
  }
}

// The conversion reads no byte outside its token: tokens that end at the last
// byte before an unmapped page, and tokens that start right after one.
TEST(ParseExact, ReadsOnlyTheToken) {
  const long page = sysconf(_SC_PAGESIZE);
  void* map = mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(map, MAP_FAILED);
  char* base = static_cast<char*>(map);
  ASSERT_EQ(mprotect(base, page, PROT_NONE), 0);
  ASSERT_EQ(mprotect(base + 2 * page, page, PROT_NONE), 0);
  char* const first = base + page;
  char* const last = base + 2 * page;
  std::mt19937_64 rng(13);
  for (int len = 1; len <= 24; ++len) {
    for (int point = -1; point < len; ++point) {
      std::string t = digits(rng, len);
      if (point >= 0) t[static_cast<std::size_t>(point)] = '.';
      double want = 0, got = 0;
      const bool accept = reference(t, want);
      std::memcpy(last - t.size(), t.data(), t.size());
      EXPECT_EQ(parse_sample(std::string_view(last - t.size(), t.size()), got), accept) << t;
      std::memcpy(first, t.data(), t.size());
      EXPECT_EQ(parse_sample(std::string_view(first, t.size()), got), accept) << t;
      if (accept) {
        EXPECT_EQ(got, want) << t;
      }
    }
  }
  munmap(map, 3 * page);
}

}  // namespace
