#include "korvalinde/detail/sort.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "korvalinde/detail/parallel.hpp"
#include "korvalinde/detail/uninit.hpp"

namespace korvalinde::detail {

namespace {

constexpr int kBits = 11;
constexpr int kDigits = 6;  // 6 * 11 >= 64
constexpr std::size_t kBuckets = std::size_t{1} << kBits;
constexpr std::size_t kSmall = 1 << 12;  // below this std::sort is as fast
constexpr std::size_t kSlice = 1 << 18;  // the least share of a thread

// Flips the sign bit of positives and every bit of negatives, so unsigned
// order of keys is the numeric order of the doubles.
inline std::uint64_t key(double x) {
  const auto u = std::bit_cast<std::uint64_t>(x);
  const std::uint64_t mask = (u >> 63) != 0 ? ~std::uint64_t{0} : std::uint64_t{1} << 63;
  return u ^ mask;
}

inline std::size_t digit(std::uint64_t k, int d) { return (k >> (d * kBits)) & (kBuckets - 1); }

}  // namespace

namespace {

using Histogram = std::array<std::size_t, kBuckets>;

void sort_on_one_thread(std::span<double> data, std::span<double> scratch) {
  const std::size_t n = data.size();
  // All digit histograms in one pass.
  std::vector<Histogram> count(kDigits);
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

// The same passes, each split into `parts` slices of the array: every slice
// counts its digits, and its values go after those of the same digit from
// the slices before it, so each pass is as stable as on one thread and the
// result is the same.
void sort_in_slices(std::span<double> data, std::span<double> scratch, std::size_t parts) {
  const std::size_t n = data.size();
  std::vector<std::size_t> bound(parts + 1);
  for (std::size_t p = 0; p <= parts; ++p) bound[p] = n / parts * p;
  bound[parts] = n;
  double* src = data.data();
  double* dst = scratch.data();
  // Histograms of every digit by slice, as the values lie before any pass;
  // a slice's counts of a digit are taken again once a pass has moved them.
  std::vector<std::vector<Histogram>> count(parts, std::vector<Histogram>(kDigits));
  parallel_for(parts, static_cast<unsigned>(parts), [&](std::size_t p) {
    for (auto& c : count[p]) c.fill(0);
    for (std::size_t i = bound[p]; i < bound[p + 1]; ++i) {
      const std::uint64_t k = key(src[i]);
      for (int d = 0; d < kDigits; ++d) ++count[p][d][digit(k, d)];
    }
  });
  bool moved = false;
  for (int d = 0; d < kDigits; ++d) {
    std::size_t same = 0;  // values with the first value's digit
    const std::size_t first = digit(key(src[0]), d);
    for (std::size_t p = 0; p < parts; ++p) same += count[p][d][first];
    if (same == n) continue;
    if (moved) {
      parallel_for(parts, static_cast<unsigned>(parts), [&](std::size_t p) {
        Histogram& c = count[p][d];
        c.fill(0);
        for (std::size_t i = bound[p]; i < bound[p + 1]; ++i) ++c[digit(key(src[i]), d)];
      });
    }
    std::size_t offset = 0;
    for (std::size_t b = 0; b < kBuckets; ++b) {
      for (std::size_t p = 0; p < parts; ++p) {
        const std::size_t m = count[p][d][b];
        count[p][d][b] = offset;
        offset += m;
      }
    }
    parallel_for(parts, static_cast<unsigned>(parts), [&](std::size_t p) {
      Histogram& c = count[p][d];
      for (std::size_t i = bound[p]; i < bound[p + 1]; ++i) dst[c[digit(key(src[i]), d)]++] = src[i];
    });
    std::swap(src, dst);
    moved = true;
  }
  if (src != data.data()) {
    parallel_for(parts, static_cast<unsigned>(parts), [&](std::size_t p) {
      std::copy(src + bound[p], src + bound[p + 1], data.data() + bound[p]);
    });
  }
}

}  // namespace

void radix_sort(std::span<double> data, std::span<double> scratch, unsigned threads) {
  const std::size_t n = data.size();
  if (n < kSmall || scratch.size() < n) {
    std::sort(data.begin(), data.end());
    return;
  }
  const std::size_t parts = std::min<std::size_t>(std::max(threads, 1u), n / kSlice);
  if (parts <= 1) return sort_on_one_thread(data, scratch);
  sort_in_slices(data, scratch, parts);
}

void radix_sort(std::span<double> data, unsigned threads) {
  if (data.size() < kSmall) {
    std::sort(data.begin(), data.end());
    return;
  }
  RawVector<double> scratch(data.size());  // neither zeroed nor touched before the sort writes it
  radix_sort(data, scratch, threads);
}

}  // namespace korvalinde::detail
