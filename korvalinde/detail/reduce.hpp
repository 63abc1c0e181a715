// Reductions over [0, n) in blocks of fixed size, optionally on several
// threads. Blocks and tasks have fixed bounds and are merged in index order,
// so the result does not depend on the thread count.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

#include "korvalinde/detail/parallel.hpp"
#include "korvalinde/detail/sum.hpp"

namespace korvalinde::detail {

inline constexpr std::size_t kBlock = 1024;        // terms added plainly, then compensated
inline constexpr std::size_t kTask = 64 * kBlock;  // terms per unit of parallel work

// body(begin, end, acc) folds the block [begin, end) (at most kBlock indices)
// into acc; Acc{} is the empty result and acc.merge(other) appends other.
template <class Acc, class Body>
Acc block_reduce(std::size_t n, unsigned threads, const Body& body) {
  const std::size_t tasks = (n + kTask - 1) / kTask;
  auto run = [&](std::size_t t, Acc& acc) {
    const std::size_t end = std::min(n, (t + 1) * kTask);
    for (std::size_t i = t * kTask; i < end; i += kBlock) body(i, std::min(end, i + kBlock), acc);
  };
  Acc total{};
  if (tasks <= 1 || threads <= 1) {
    for (std::size_t t = 0; t < tasks; ++t) {
      Acc acc{};
      run(t, acc);
      total.merge(acc);
    }
  } else {
    std::vector<Acc> parts(tasks);
    parallel_for(tasks, threads, [&](std::size_t t) { run(t, parts[t]); });
    for (const Acc& acc : parts) total.merge(acc);
  }
  return total;
}

// K compensated sums.
template <std::size_t K>
struct Sums {
  std::array<Sum, K> s{};
  void merge(const Sums& o) {
    for (std::size_t k = 0; k < K; ++k) s[k].add(o.s[k]);
  }
};

// K sums over [0, n): body(begin, end, part) adds the terms of a block into
// the plain doubles part[0..K); the blocks' totals are added compensated.
template <std::size_t K, class Body>
std::array<double, K> block_sums(std::size_t n, unsigned threads, const Body& body) {
  const Sums<K> total =
      block_reduce<Sums<K>>(n, threads, [&](std::size_t b, std::size_t e, Sums<K>& acc) {
        std::array<double, K> part{};
        body(b, e, part);
        for (std::size_t k = 0; k < K; ++k) acc.s[k].add(part[k]);
      });
  std::array<double, K> out{};
  for (std::size_t k = 0; k < K; ++k) out[k] = total.s[k].value();
  return out;
}

}  // namespace korvalinde::detail
