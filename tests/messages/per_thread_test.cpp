// The control store, the message table and the output units belong to the
// calling thread.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "dnls/io/units.hpp"
#include "dnls/messages/xerror.hpp"
#include "tests/support/child.hpp"

namespace {

TEST(PerThread, ControlStoreAndMessageTableStartFreshInEachThread) {
  int seen_flag = -1, seen_count = -1;
  std::thread first([&] {
    dnls::J4SAVE(2, 0, true);
    int count = 0;
    for (int k = 0; k < 5; ++k) dnls::XERSVE("LIB", "SUB", "TEXT", 1, 7, 0, count);
    std::thread second([&] {
      seen_flag = dnls::J4SAVE(2, 0, false);
      dnls::XERSVE("LIB", "SUB", "TEXT", 1, 7, 0, seen_count);
    });
    second.join();
    EXPECT_EQ(dnls::J4SAVE(2, 0, false), 0);
    EXPECT_EQ(count, 5);
  });
  first.join();
  EXPECT_EQ(seen_flag, 2);
  EXPECT_EQ(seen_count, 1);
}

TEST(PerThread, SameUnitNumberInManyThreadsKeepsEachThreadsRecords) {
  testsupport::TempDir dir;
  constexpr int kThreads = 6, kRecords = 3000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string path = dir.path() + "/" + std::to_string(t);
      ASSERT_EQ(dnls::io::open_unit(21, path.c_str()), 0);
      const std::string line(40, static_cast<char>('a' + t));
      for (int k = 0; k < kRecords; ++k) dnls::io::write_record(21, line);
      // Odd threads end without closing: the thread's end flushes and closes.
      if (t % 2 == 0) {
        EXPECT_EQ(dnls::io::close_unit(21), 0);
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) {
    std::string expected;
    for (int k = 0; k < kRecords; ++k) expected += std::string(40, static_cast<char>('a' + t)) + "\n";
    EXPECT_EQ(testsupport::read_file(dir.path() + "/" + std::to_string(t)), expected) << t;
  }
}

TEST(PerThread, StandardOutputOfEndedThreadsIsWrittenWhole) {
  auto run = testsupport::run_in_child([] {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([t] {
        for (int k = 0; k < 500; ++k) {
          dnls::io::write_record(dnls::io::kStdout, "out " + std::to_string(t));
          dnls::io::write_record(dnls::io::kStderr, "err " + std::to_string(t));
        }
      });
    }
    for (auto& th : threads) th.join();
  });
  EXPECT_EQ(run.status, testsupport::kReturned);
  for (const std::string* text : {&run.out, &run.err}) {
    int lines[4] = {0, 0, 0, 0};
    std::size_t pos = 0;
    while (pos < text->size()) {
      const std::size_t end = text->find('\n', pos);
      ASSERT_NE(end, std::string::npos);
      const std::string line = text->substr(pos, end - pos);
      ASSERT_EQ(line.size(), 5u) << line;
      ++lines[line[4] - '0'];
      pos = end + 1;
    }
    for (int n : lines) EXPECT_EQ(n, 500);
  }
}

}  // namespace
