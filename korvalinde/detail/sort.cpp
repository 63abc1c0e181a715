#include "korvalinde/detail/sort.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace korvalinde::detail {

namespace {

constexpr int kBits = 11;
constexpr int kDigits = 6;  // 6 * 11 >= 64
constexpr std::size_t kBuckets = std::size_t{1} << kBits;
constexpr std::size_t kSmall = 1 << 12;  // below this std::sort is as fast

// Flips the sign bit of positives and every bit of negatives, so unsigned
// order of keys is the numeric order of the doubles.
inline std::uint64_t key(double x) {
  const auto u = std::bit_cast<std::uint64_t>(x);
  const std::uint64_t mask = (u >> 63) != 0 ? ~std::uint64_t{0} : std::uint64_t{1} << 63;
  return u ^ mask;
}

inline std::size_t digit(std::uint64_t k, int d) { return (k >> (d * kBits)) & (kBuckets - 1); }

}  // namespace

void radix_sort(std::span<double> data, std::span<double> scratch) {
  const std::size_t n = data.size();
  if (n < kSmall || scratch.size() < n) {
    std::sort(data.begin(), data.end());
    return;
  }
  // All digit histograms in one pass.
  std::vector<std::array<std::size_t, kBuckets>> count(kDigits);
  for (auto& c : count) c.fill(0);
  for (double x : data) {
    const std::uint64_t k = key(x);
    for (int d = 0; d < kDigits; ++d) ++count[d][digit(k, d)];
  }
  double* src = data.data();
  double* dst = scratch.data();
  for (int d = 0; d < kDigits; ++d) {
    auto& c = count[d];
    // A digit that is the same for every value leaves the order as it is.
    if (c[digit(key(src[0]), d)] == n) continue;
    std::size_t offset = 0;
    for (auto& slot : c) {
      const std::size_t m = slot;
      slot = offset;
      offset += m;
    }
    for (std::size_t i = 0; i < n; ++i) dst[c[digit(key(src[i]), d)]++] = src[i];
    std::swap(src, dst);
  }
  if (src != data.data()) std::copy(src, src + n, data.data());
}

void radix_sort(std::span<double> data) {
  if (data.size() < kSmall) {
    std::sort(data.begin(), data.end());
    return;
  }
  std::vector<double> scratch(data.size());
  radix_sort(data, scratch);
}

}  // namespace korvalinde::detail
