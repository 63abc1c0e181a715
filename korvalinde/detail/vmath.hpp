// exp and log1p without branches or library calls, so that loops over many
// values that call them vectorise. Range reduction and a polynomial in plain
// double arithmetic (no fused multiply-add: every vector width gives the same
// bits), within about 1 ulp. Special values as the library's: exp gives +inf
// above 709.78 and 0 (through the subnormals) below -745.1. Not for NaN
// arguments, nor log1p for u <= -1: the callers check these before.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

// Hot loops over these are built (KORVALINDE_HOT_CLONES) for AVX-512, AVX2
// and the baseline, the one to run chosen as the program loads (the same bits
// on each: no fused multiply-add).
// ThreadSanitizer cannot run that choice, made before it is set up: its
// builds take the baseline alone.
#if defined(__SANITIZE_THREAD__)
#define KORVALINDE_HOT_CLONES
#else
#define KORVALINDE_HOT_CLONES [[gnu::target_clones("avx512f", "avx2", "default")]]
#endif

namespace korvalinde::detail {

// All bits set where a < b, else none (a, b not NaN), and the choice
// m ? a : b bit by bit: unlike a conditional expression, these never turn
// into branches, which would stop the vectorisation.
[[gnu::always_inline]] inline std::uint64_t less_mask(double a, double b) {
  return 0 - (std::bit_cast<std::uint64_t>(a - b) >> 63);
}
[[gnu::always_inline]] inline double pick(std::uint64_t m, double a, double b) {
  return std::bit_cast<double>((std::bit_cast<std::uint64_t>(a) & m) |
                               (std::bit_cast<std::uint64_t>(b) & ~m));
}

// c[b] + c[b+1] x + ... + c[b+l-1] x^(l-1) by Estrin's scheme, x2[j] =
// x^(2^j): the lower half plus the upper half times x^h, h the largest power
// of 2 below l. Its chains of dependent operations are about 2 log2(l) long
// instead of Horner's 2 l, which the processor overlaps: loops over these
// are bound by latency, not by the count of operations.
template <std::size_t B, std::size_t L, std::size_t N>
[[gnu::always_inline]] inline double estrin(const std::array<double, N>& c, const double* x2) {
  if constexpr (L == 1) {
    return c[B];
  } else {
    constexpr std::size_t h = std::bit_floor(L - 1);
    return estrin<B, h>(c, x2) + estrin<B + h, L - h>(c, x2) * x2[std::countr_zero(h)];
  }
}

// c[0] + c[1] x + ... + c[N-1] x^(N-1).
template <std::size_t N>
[[gnu::always_inline]] inline double poly(const std::array<double, N>& c, double x) {
  double x2[5] = {x};
  for (int j = 1; j < 5; ++j) x2[j] = x2[j - 1] * x2[j - 1];
  return estrin<0, N>(c, x2);
}

// e^a = 2^n e^r, |r| <= ln2/2, 2^n applied as two factors so that neither
// overflows on the way to a subnormal or infinite result.
[[gnu::always_inline]] inline double vexp(double a) {
  constexpr double kMagic = 0x1.8p52;  // adding it rounds to an integer, kept in the low bits
  constexpr double kLog2e = 0x1.71547652b82fep0;
  constexpr double kLn2Hi = 0x1.62e42fefa3800p-1;  // n * kLn2Hi is exact for |n| < 2^11
  constexpr double kLn2Lo = 0x1.ef35793c7673p-45;
  // 1 / k! for k = 2 to 13; the remainder of degree 14 is below 5e-18.
  constexpr std::array<double, 12> kC{0.5,           1.0 / 6,         1.0 / 24,        1.0 / 120,
                                      1.0 / 720,     1.0 / 5040,      1.0 / 40320,     1.0 / 362880,
                                      1.0 / 3628800, 1.0 / 39916800,  1.0 / 479001600, 1.0 / 6227020800};
  double x = pick(less_mask(a, -746.0), -746.0, a);
  x = pick(less_mask(710.0, x), 710.0, x);
  const double n = (x * kLog2e + kMagic) - kMagic;
  const double r = (x - n * kLn2Hi) - n * kLn2Lo;
  const double p = 1 + (r + r * r * poly(kC, r));
  const double h = (n * 0.5 + kMagic) - kMagic;  // n = h + (n - h), both in [-539, 513]
  constexpr std::uint64_t kBase = std::bit_cast<std::uint64_t>(kMagic);
  const std::uint64_t eh = std::bit_cast<std::uint64_t>(h + kMagic) - kBase + 1023;
  const std::uint64_t el = std::bit_cast<std::uint64_t>((n - h) + kMagic) - kBase + 1023;
  return p * std::bit_cast<double>(eh << 52) * std::bit_cast<double>(el << 52);
}

// ln(1 + u) for u > -1: w = 1 + u = 2^k m with m in [sqrt(1/2), sqrt(2)),
// ln m = 2 atanh(f / (2 + f)) for f = m - 1, plus the rounding error of w
// to first order.
[[gnu::always_inline]] inline double vlog1p(double u) {
  constexpr double kLn2Hi = 0x1.62e42fee00000p-1;  // k * kLn2Hi is exact for |k| < 2^11
  constexpr double kLn2Lo = 0x1.a39ef35793c76p-33;
  // 2 / (2j + 1) for j = 1 to 10; the remainder is below 3e-17 relative.
  constexpr std::array<double, 10> kC{2.0 / 3,  2.0 / 5,  2.0 / 7,  2.0 / 9,  2.0 / 11,
                                      2.0 / 13, 2.0 / 15, 2.0 / 17, 2.0 / 19, 2.0 / 21};
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
  const double r = z * poly(kC, z);
  const double hfsq = 0.5 * f * f;
  return k * kLn2Hi + (((s * (hfsq + r) + (k * kLn2Lo + c)) - hfsq) + f);
}

}  // namespace korvalinde::detail
