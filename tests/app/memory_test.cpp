// Runs the built tool on inputs with enormous lines and checks that its peak
// resident memory stays small: the readers stream through fixed buffers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "tests/support/child.hpp"

namespace {

constexpr long kLimitKiB = 8 * 1024;

class PeakMemory : public ::testing::Test {
 protected:
  // Runs the tool in dir_ with the file "control" as standard input; returns
  // the peak resident size in KiB and the standard output.
  long run(std::string& out) {
    pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir_.c_str()) != 0) _exit(90);
      int in = open("control", O_RDONLY);
      int o = open("stdout", O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (in < 0 || o < 0) _exit(91);
      dup2(in, 0);
      dup2(o, 1);
      execl(KORVALINDE_BINARY, "korvalinde", static_cast<char*>(nullptr));
      _exit(92);
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    out = testsupport::read_file(dir_ + "/stdout");
    return usage.ru_maxrss;
  }

  testsupport::TempDir tmp_;
  const std::string& dir_ = tmp_.path();
};

TEST_F(PeakMemory, TenThousandValuesEachFollowedByAMegabyteOfText) {
  // A sparse file: each line is a value, a blank, a megabyte of NUL bytes
  // (ignored text) and a line end.
  const long line = 1 << 20;
  int fd = open((dir_ + "/data.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  for (long i = 0; i < 10000; ++i) {
    std::string value = std::to_string(10 + (i * 7919) % 1000 / 100.0) + " ";
    ASSERT_EQ(pwrite(fd, value.data(), value.size(), i * line), static_cast<ssize_t>(value.size()));
    ASSERT_EQ(pwrite(fd, "\n", 1, (i + 1) * line - 1), 1);
  }
  close(fd);
  testsupport::write_file(dir_ + "/control", "data.txt 50 0.99 n\n");
  std::string out;
  long peak = run(out);
  EXPECT_NE(out.find("FITTING PARAMETERs"), std::string::npos) << out.substr(0, 300);
  EXPECT_LT(peak, kLimitKiB);
}

TEST_F(PeakMemory, ControlLineOfFiftyMegabytes) {
  testsupport::write_file(dir_ + "/data.txt", "1\n2\n3\n4\n");
  // Written in pieces: the test process itself must stay small, since a
  // child's peak counts what it shared with its parent before exec.
  int fd = open((dir_ + "/control").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  const std::string head = "data.txt 3 0.99 ", piece(1 << 16, 'n');
  ASSERT_EQ(write(fd, head.data(), head.size()), static_cast<ssize_t>(head.size()));
  for (int i = 0; i < 800; ++i) {
    ASSERT_EQ(write(fd, piece.data(), piece.size()), static_cast<ssize_t>(piece.size()));
  }
  ASSERT_EQ(write(fd, "\n", 1), 1);
  close(fd);
  std::string out;
  long peak = run(out);
  EXPECT_NE(out.find("FITTING PARAMETERs"), std::string::npos) << out.substr(0, 300);
  EXPECT_LT(peak, kLimitKiB);
}

}  // namespace
