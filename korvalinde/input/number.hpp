// The number grammar shared by the control input and the sample reader:
//   [sign] digits [. digits] [(E|e|D|d) [sign] digits]
// with digits on at least one side of the point. Conversion is locale-free
// and correctly rounded (to nearest, ties to even).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace korvalinde {

// How far the grammar reaches from the start of some text.
struct DecimalScan {
  const char* end;         // first character that does not continue the number
  const char* exponent;    // the exponent letter, or nullptr
  bool complete;           // [start, end) is a whole number of the grammar
  // The digits before the exponent as an integer (modulo 2^64), how many
  // there are, and how many of them follow the point.
  std::uint64_t mantissa = 0;
  int digits = 0;
  int fraction = 0;
};

// Scans [p, last) for a number of the grammar.
DecimalScan scan_decimal(const char* p, const char* last);

namespace detail_number {

inline constexpr std::uint64_t kZeros = 0x3030303030303030ULL;  // '0' in every byte

// How many of the 8 bytes of w (the first in the low byte) are digits
// before the first one that is not. A byte of FA to FF carries into the
// next when 6 is added, but is itself no digit, so the count stops before.
inline int leading_digits(std::uint64_t w) {
  constexpr std::uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ULL;
  const std::uint64_t bad = ((w & kHigh) ^ kZeros) | (((w + 0x0606060606060606ULL) & kHigh) ^ kZeros);
  return bad == 0 ? 8 : std::countr_zero(bad) / 8;
}

// The integer the first n (1 to 8) bytes of w spell: digit pairs, then
// pairs of pairs, then the two halves, combined in the lanes of w. The bytes
// after the n digits (which may borrow when '0' is taken away) are shifted
// out first.
inline std::uint64_t digits_value(std::uint64_t w, int n) {
  w = (w - kZeros) << (8 * (8 - n));
  w = (w * 10 + (w >> 8)) & 0x00FF00FF00FF00FFULL;
  w = (w * 100 + (w >> 16)) & 0x0000FFFF0000FFFFULL;
  return (w * 10000 + (w >> 32)) & 0xFFFFFFFFULL;
}

inline std::uint64_t load8(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

}  // namespace detail_number

// scan_decimal for the common short form, 8 bytes at a time: [sign] at most
// 7 digits [. at most 7 digits], no exponent. The same scan as
// scan_decimal's; false, with s untouched, for any other form. Reads up to
// 20 bytes from p, which must be there.
inline bool scan_short_decimal(const char* p, DecimalScan& s) {
  using namespace detail_number;
  if constexpr (std::endian::native != std::endian::little) {
    return false;
  } else {
    const char* q = p + (*p == '+' || *p == '-');
    const std::uint64_t wi = load8(q);
    const int ni = leading_digits(wi);
    if (ni == 8) return false;
    q += ni;
    std::uint64_t m = ni > 0 ? digits_value(wi, ni) : 0;
    int nf = 0;
    if (*q == '.') {
      const std::uint64_t wf = load8(q + 1);
      nf = leading_digits(wf);
      if (nf == 8) return false;
      if (nf > 0) {
        static constexpr std::uint64_t kPow10[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
        m = m * kPow10[nf] + digits_value(wf, nf);
      }
      q += 1 + nf;
    }
    const int letter = *q | 0x20;
    if (ni + nf == 0 || letter == 'e' || letter == 'd') return false;
    s.end = q;
    s.exponent = nullptr;
    s.complete = true;
    s.mantissa = m;
    s.digits = ni + nf;
    s.fraction = nf;
    return true;
  }
}

// convert_decimal for a number of at most 15 digits and no exponent, the
// common case: its digits make an integer m below 2^53 and the power of ten
// of its fraction is exact, so the one rounding of m / 10^k gives the
// correctly rounded value, as the general converter would.
inline double convert_short_decimal(const char* first, const DecimalScan& s) {
  static constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  const auto m = static_cast<double>(s.mantissa);
  const double v = s.fraction > 0 ? m / kPow10[s.fraction] : m;
  return *first == '-' ? -v : v;
}

// Converts [first, s.end) of a complete scan: the double nearest to it. A
// value beyond the double range becomes an infinity, one below it zero or a
// subnormal, each with the token's sign.
double convert_decimal(const char* first, const DecimalScan& s);

// A token of the grammar, converted; false for anything else.
bool parse_decimal(std::string_view token, double& value);

// A sample value: the grammar above, and finite.
bool parse_sample(std::string_view token, double& value);

}  // namespace korvalinde
