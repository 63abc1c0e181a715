// The thread helper when work fails or threads can not be had.
#include "korvalinde/detail/parallel.hpp"
#include "korvalinde/detail/ordered.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <cstdlib>
#include <new>
#include <vector>

#include "tests/support/child.hpp"

namespace {

using korvalinde::detail::ordered_for;
using korvalinde::detail::parallel_for;

TEST(ParallelFor, AnExceptionInAWorkerReachesTheCaller) {
  std::atomic<int> ran{0};
  EXPECT_THROW(parallel_for(100000, 4,
                            [&](std::size_t i) {
                              if (i == 10) throw std::bad_alloc();
                              ++ran;
                            }),
               std::bad_alloc);
  EXPECT_LT(ran.load(), 100000);  // the rest was left out
}

TEST(ParallelFor, ThreadsThatCanNotBeCreatedLeaveTheirShareToTheOthers) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "sanitizers reserve more address space than the limit allows";
#endif
  const auto run = testsupport::run_in_child([] {
    // Room for a few thread stacks only.
    const rlim_t limit = rlim_t{96} << 20;
    const struct rlimit r {limit, limit};
    if (setrlimit(RLIMIT_AS, &r) != 0) std::_Exit(2);
    std::vector<int> hits(20000, 0);
    parallel_for(hits.size(), 200, [&](std::size_t i) { ++hits[i]; });
    std::_Exit(std::all_of(hits.begin(), hits.end(), [](int h) { return h == 1; }) ? 0 : 1);
  });
  ASSERT_TRUE(run.exited) << run.err;
  EXPECT_EQ(run.status, 0) << run.err;
}

// A parallel_for inside another's workers runs on the worker's own thread:
// no threads on top of cores already busy, and every index still runs once.
TEST(ParallelFor, NestedLoopsRunOnTheirWorkersThread) {
  std::vector<std::vector<int>> hits(8, std::vector<int>(1000, 0));
  std::atomic<int> elsewhere{0};
  parallel_for(hits.size(), 4, [&](std::size_t i) {
    const auto self = std::this_thread::get_id();
    parallel_for(hits[i].size(), 4, [&](std::size_t j) {
      if (std::this_thread::get_id() != self) ++elsewhere;
      ++hits[i][j];
    });
  });
  EXPECT_EQ(elsewhere.load(), 0);
  for (const auto& h : hits) EXPECT_TRUE(std::all_of(h.begin(), h.end(), [](int v) { return v == 1; }));
}


// Results come out in order, each once, whatever finishes first, and no more
// than the window are ever held.
TEST(OrderedFor, TakesInOrderHoldingAtMostTheWindow) {
  for (const unsigned threads : {1u, 2u, 7u}) {
    for (const std::size_t window : {std::size_t{1}, std::size_t{3}, std::size_t{64}}) {
      std::atomic<long> held{0}, most{0};
      std::vector<std::size_t> got;
      ordered_for(
          500, threads, window,
          [&](std::size_t i) {
            if (i % 7 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
            const long now = ++held;
            for (long m = most; now > m && !most.compare_exchange_weak(m, now);) {
            }
            return i * 3;
          },
          [&](std::size_t i, std::size_t v) {
            --held;
            got.push_back(v / 3);
            return v == i * 3;
          });
      ASSERT_EQ(got.size(), 500u) << threads << " threads, window " << window;
      for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], i);
      EXPECT_LE(most.load(), static_cast<long>(threads > 1 ? window : 1));
    }
  }
}

TEST(OrderedFor, StopsWhenTakeSaysSoOrSomethingThrows) {
  std::atomic<int> made{0};
  int taken = 0;
  ordered_for(100000, 4, 8, [&](std::size_t i) { return ++made, i; },
              [&](std::size_t i, std::size_t) { return ++taken, i < 9; });
  EXPECT_EQ(taken, 10);
  EXPECT_LE(made.load(), 10 + 8 + 4);
  // A throw while the other threads wait for the window: no hang, the
  // exception reaches the caller.
  for (const int at : {0, 5}) {
    EXPECT_THROW(ordered_for(
                     1000, 4, 1,
                     [&](std::size_t i) {
                       if (i == 1) std::this_thread::sleep_for(std::chrono::milliseconds(5));
                       if (at == 0 && i == 1) throw std::runtime_error("make");
                       return i;
                     },
                     [&](std::size_t i, std::size_t) {
                       if (at == 5 && i == 5) throw std::runtime_error("take");
                       return true;
                     }),
                 std::runtime_error);
  }
}

}  // namespace
