// exp and log1p without branches or library calls, so that loops over many
// values that call them vectorise. Range reduction and a polynomial in plain
// double arithmetic (no fused multiply-add: every vector width gives the same
// bits), within about 1 ulp. Special values as the library's: exp gives +inf
// above 709.78 and 0 (through the subnormals) below -745.1. Not for NaN
// arguments, nor log1p for u <= -1: the callers check these before.
#pragma once

#include <bit>
#include <cstdint>

namespace korvalinde::detail {

// All bits set where a < b, else none (a, b not NaN), and the choice
// m ? a : b bit by bit: unlike a conditional expression, these never turn
// into branches, which would stop the vectorisation.
inline std::uint64_t less_mask(double a, double b) {
  return 0 - (std::bit_cast<std::uint64_t>(a - b) >> 63);
}
inline double pick(std::uint64_t m, double a, double b) {
  return std::bit_cast<double>((std::bit_cast<std::uint64_t>(a) & m) |
                               (std::bit_cast<std::uint64_t>(b) & ~m));
}

// e^a = 2^n e^r, |r| <= ln2/2, 2^n applied as two factors so that neither
// overflows on the way to a subnormal or infinite result.
inline double vexp(double a) {
  constexpr double kMagic = 0x1.8p52;  // adding it rounds to an integer, kept in the low bits
  constexpr double kLog2e = 0x1.71547652b82fep0;
  constexpr double kLn2Hi = 0x1.62e42fefa3800p-1;  // n * kLn2Hi is exact for |n| < 2^11
  constexpr double kLn2Lo = 0x1.ef35793c7673p-45;
  // 1 / k! for k = 13 down to 2; the remainder of degree 14 is below 5e-18.
  constexpr double kC[12] = {1.0 / 6227020800.0, 1.0 / 479001600.0, 1.0 / 39916800.0,
                             1.0 / 3628800.0,    1.0 / 362880.0,    1.0 / 40320.0,
                             1.0 / 5040.0,       1.0 / 720.0,       1.0 / 120.0,
                             1.0 / 24.0,         1.0 / 6.0,         0.5};
  double x = pick(less_mask(a, -746.0), -746.0, a);
  x = pick(less_mask(710.0, x), 710.0, x);
  const double n = (x * kLog2e + kMagic) - kMagic;
  const double r = (x - n * kLn2Hi) - n * kLn2Lo;
  double p = kC[0];
#pragma GCC unroll 16
  for (int k = 1; k < 12; ++k) p = p * r + kC[k];
  p = 1 + (r + r * r * p);
  const double h = (n * 0.5 + kMagic) - kMagic;  // n = h + (n - h), both in [-539, 513]
  constexpr std::uint64_t kBase = std::bit_cast<std::uint64_t>(kMagic);
  const std::uint64_t eh = std::bit_cast<std::uint64_t>(h + kMagic) - kBase + 1023;
  const std::uint64_t el = std::bit_cast<std::uint64_t>((n - h) + kMagic) - kBase + 1023;
  return p * std::bit_cast<double>(eh << 52) * std::bit_cast<double>(el << 52);
}

// ln(1 + u) for u > -1: w = 1 + u = 2^k m with m in [sqrt(1/2), sqrt(2)),
// ln m = 2 atanh(f / (2 + f)) for f = m - 1, plus the rounding error of w
// to first order.
inline double vlog1p(double u) {
  constexpr double kLn2Hi = 0x1.62e42fee00000p-1;  // k * kLn2Hi is exact for |k| < 2^11
  constexpr double kLn2Lo = 0x1.a39ef35793c76p-33;
  // 2 / (2j + 1) for j = 10 down to 1; the remainder is below 3e-17 relative.
  constexpr double kC[10] = {2.0 / 21, 2.0 / 19, 2.0 / 17, 2.0 / 15, 2.0 / 13,
                             2.0 / 11, 2.0 / 9,  2.0 / 7,  2.0 / 5,  2.0 / 3};
  // w = 1 + u and its exact rounding error (the larger term first).
  const std::uint64_t below = less_mask(u, 1.0);
  const double big = pick(below, 1.0, u), other = pick(below, u, 1.0);
  const double w = big + other;
  const double c = (other - (w - big)) / w;
  // Shift the bits so that the exponent field counts from sqrt(1/2).
  constexpr std::uint64_t kShift = 0x3ff0000000000000ULL - 0x3fe6a09e667f3bcdULL;
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(w) + kShift;
  // k as a double without an integer conversion: the exponent field placed
  // in the mantissa of 2^52.
  const double k = std::bit_cast<double>((bits >> 52) | 0x4330000000000000ULL) - (0x1p52 + 1023);
  const double m = std::bit_cast<double>((bits & 0x000fffffffffffffULL) + 0x3fe6a09e667f3bcdULL);
  const double f = m - 1;
  const double s = f / (2 + f), z = s * s;
  double r = kC[0];
#pragma GCC unroll 16
  for (int j = 1; j < 10; ++j) r = r * z + kC[j];
  r *= z;
  const double hfsq = 0.5 * f * f;
  return k * kLn2Hi + (((s * (hfsq + r) + (k * kLn2Lo + c)) - hfsq) + f);
}

}  // namespace korvalinde::detail
