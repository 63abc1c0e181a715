// Runs f(0) ... f(n-1) on up to `threads` threads. Each index runs exactly
// once, and results written by index do not depend on the thread count.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace korvalinde::detail {

// True on a thread while it runs the indices of a parallel_for on several
// threads: a parallel_for nested inside then runs serially rather than
// starting threads of its own on cores already busy.
inline thread_local bool in_parallel_for = false;

// The machine's cores (at least 1).
inline unsigned default_threads() { return std::max(1u, std::thread::hardware_concurrency()); }

// When f throws (in any thread), the indices not yet started are left out
// and the first exception is thrown here once every thread has stopped.
// Threads that cannot be created leave their share to the others: the
// calling thread always works too.
template <class F>
void parallel_for(std::size_t n, unsigned threads, F&& f) {
  const std::size_t workers = std::min<std::size_t>(std::max(1u, threads), n);
  if (workers <= 1 || in_parallel_for) {
    for (std::size_t i = 0; i < n; ++i) f(i);
    return;
  }
  std::atomic<std::size_t> next{0};
  std::exception_ptr failure;
  std::mutex failure_lock;
  auto work = [&]() noexcept {
    const bool outer = in_parallel_for;
    in_parallel_for = true;
    try {
      for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < n;) f(i);
    } catch (...) {
      const std::lock_guard<std::mutex> guard(failure_lock);
      if (!failure) failure = std::current_exception();
      next.store(n, std::memory_order_relaxed);
    }
    in_parallel_for = outer;
  };
  {
    std::vector<std::jthread> pool;
    try {
      pool.reserve(workers - 1);
      for (std::size_t t = 1; t < workers; ++t) pool.emplace_back(work);
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
    work();
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace korvalinde::detail
