// The thread helper when work fails or threads can not be had.
#include "korvalinde/detail/parallel.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "tests/support/child.hpp"

namespace {

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

}  // namespace
