// Runs f(0) ... f(n-1) on up to `threads` threads. Each index runs exactly
// once, and results written by index do not depend on the thread count, so
// when the system refuses a thread the work goes on with those it has.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <system_error>
#include <thread>
#include <vector>

namespace korvalinde::detail {

// The machine's cores (at least 1).
inline unsigned default_threads() { return std::max(1u, std::thread::hardware_concurrency()); }

template <class F>
void parallel_for(std::size_t n, unsigned threads, F&& f) {
  const std::size_t workers = std::min<std::size_t>(std::max(1u, threads), n);
  if (workers <= 1) {
    for (std::size_t i = 0; i < n; ++i) f(i);
    return;
  }
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < n;) f(i);
  };
  std::vector<std::jthread> pool;
  pool.reserve(workers - 1);
  try {
    for (std::size_t t = 1; t < workers; ++t) pool.emplace_back(work);
  } catch (const std::system_error&) {
  }
  work();
}

}  // namespace korvalinde::detail
