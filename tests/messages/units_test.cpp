#include "dnls/io/units.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "tests/support/child.hpp"

namespace {

using testsupport::read_file;
using testsupport::run_in_child;

std::string temp_path() {
  char name[] = "/tmp/korvalinde-units-XXXXXX";
  int fd = mkstemp(name);
  EXPECT_GE(fd, 0);
  close(fd);
  return name;
}

TEST(Units, FileUnitWritesRecordsAndTruncates) {
  std::string path = temp_path();
  testsupport::write_file(path, "old content that must disappear\n");
  ASSERT_EQ(dnls::io::open_unit(21, path.c_str()), 0);
  EXPECT_TRUE(dnls::io::write_record(21, "first"));
  EXPECT_TRUE(dnls::io::write_record(21, ""));
  EXPECT_TRUE(dnls::io::write_record(21, "third  "));
  EXPECT_EQ(dnls::io::close_unit(21), 0);
  EXPECT_EQ(read_file(path), "first\n\nthird  \n");
  EXPECT_FALSE(dnls::io::write_record(21, "after close"));
  EXPECT_EQ(dnls::io::close_unit(21), 0);
  unlink(path.c_str());
}

TEST(Units, FailedWriteIsStickyAndReportedOnClose) {
  ASSERT_EQ(dnls::io::open_unit(21, "/dev/full"), 0);
  EXPECT_TRUE(dnls::io::write_record(21, "buffered, fails only when flushed"));
  EXPECT_EQ(dnls::io::flush_unit(21), ENOSPC);
  EXPECT_FALSE(dnls::io::write_record(21, "refused after the failure"));
  EXPECT_EQ(dnls::io::close_unit(21), ENOSPC);
}

TEST(Units, OpenFailureReturnsErrno) {
  EXPECT_EQ(dnls::io::open_unit(21, "/nonexistent-korvalinde-dir/out.txt"), ENOENT);
  EXPECT_FALSE(dnls::io::write_record(21, "x"));
}

TEST(Units, RecordsLargerThanTheBufferKeepTheirOrder) {
  std::string path = temp_path();
  int fd = open(path.c_str(), O_WRONLY | O_TRUNC);
  ASSERT_GE(fd, 0);
  dnls::io::attach_unit(30, fd);
  std::string big(200000, 'x');
  std::string expected;
  for (int i = 0; i < 3000; ++i) {
    std::string line = "line " + std::to_string(i) + std::string(40, '.');
    ASSERT_TRUE(dnls::io::write_record(30, line));
    expected += line + "\n";
    if (i == 1500) {
      ASSERT_TRUE(dnls::io::write_record(30, big));
      expected += big + "\n";
    }
  }
  EXPECT_EQ(dnls::io::close_unit(30), 0);
  // An attached descriptor stays open.
  EXPECT_EQ(write(fd, "tail\n", 5), 5);
  close(fd);
  EXPECT_EQ(read_file(path), expected + "tail\n");
  unlink(path.c_str());
}

TEST(Units, StandardStreamsAndCloseAll) {
  std::string path = temp_path();
  auto run = run_in_child([&] {
    dnls::io::write_record(dnls::io::kStdout, "to stdout");
    dnls::io::write_record(dnls::io::kStderr, "to stderr");
    dnls::io::open_unit(21, path.c_str());
    dnls::io::write_record(21, "to file");
    dnls::io::close_all();
    _exit(3);
  });
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.out, "to stdout\n");
  EXPECT_EQ(run.err, "to stderr\n");
  EXPECT_EQ(read_file(path), "to file\n");
  unlink(path.c_str());
}

TEST(Units, StandardErrorIsWrittenAtOnce) {
  auto run = run_in_child([] {
    dnls::io::write_record(dnls::io::kStderr, "immediate");
    dnls::io::write_record(dnls::io::kStdout, "held in the buffer");
    _exit(4);  // no flush
  });
  EXPECT_EQ(run.err, "immediate\n");
  EXPECT_EQ(run.out, "");
}

TEST(Units, FullTableRefusesFurtherFiles) {
  auto run = run_in_child([] {
    int refused = 0;
    for (int unit = 40; unit < 60; ++unit)
      if (dnls::io::open_unit(unit, "/dev/null") == EMFILE) ++refused;
    dnls::io::close_all();
    _exit(refused > 0 && refused < 20 ? 0 : 1);
  });
  EXPECT_EQ(run.status, 0);
}

}  // namespace
