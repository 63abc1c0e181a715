#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "dnls/io/units.hpp"
#include "dnls/messages/xerror.hpp"
#include "tests/support/child.hpp"

namespace {

using testsupport::kReturned;
using testsupport::run_in_child;

const std::string kSummaryHead =
    "0          ERROR MESSAGE SUMMARY\n"
    " LIBRARY    SUBROUTINE MESSAGE START             NERR     LEVEL     COUNT\n";

const char* kInformative = "INFORMATIVE MESSAGE, PROG CONTINUES, TRACEBACK REQUESTED";
const char* kRecoverable = "POTENTIALLY RECOVERABLE ERROR, PROG ABORTED, TRACEBACK REQUESTED";

// One summary row, built independently with printf field widths.
std::string row(const char* lib, const char* sub, const char* mes, int nerr, int level, int count) {
  char line[128];
  std::snprintf(line, sizeof line, " %-8.8s   %-8.8s   %-20.20s%10d%10d%10d\n", lib, sub, mes, nerr,
                level, count);
  return line;
}

// The message block of a one-line text.
std::string block(const std::string& sub, const char* kind, const std::string& text, int nerr) {
  return " ***MESSAGE FROM ROUTINE " + sub + " IN LIBRARY SLATEC.\n ***" + kind + "\n *  " + text +
         "\n *  ERROR NUMBER = " + std::to_string(nerr) + "\n *   \n ***END OF MESSAGE\n \n";
}

const std::string kInvalid =
    " ***FATAL ERROR IN...\n"
    " *** XERMSG -- INVALID ERROR NUMBER OR LEVEL\n"
    " *** JOB ABORT DUE TO FATAL ERROR.\n";

void print_summary() {
  int unused = 0;
  dnls::XERSVE("", "", "", -1, 0, 0, unused);
}

TEST(Xermsg, InvalidNumberOrLevelEndsTheRun) {
  const int cases[][2] = {{0, 0}, {100000000, 0}, {-10000000, 0}, {5, 3}, {5, -2}};
  for (const auto& c : cases) {
    auto run = run_in_child([&] {
      dnls::XERMSG("SLATEC", "DNLS1", "NOT SHOWN", c[0], c[1]);
      dnls::io::write_record(dnls::io::kStdout, "caller continued");
    });
    EXPECT_EQ(run.status, 0) << c[0] << " " << c[1];
    EXPECT_EQ(run.err, kInvalid) << c[0] << " " << c[1];
    EXPECT_EQ(run.out, "");
  }
}

TEST(Xermsg, InvalidCallPrintsWhatWasRecordedBefore) {
  auto run = run_in_child([] {
    dnls::XERMSG("SLATEC", "DNLS1", "EARLIER WARNING", 4, 0);
    dnls::XERMSG("SLATEC", "DNLS1", "BAD LEVEL", 4, 7);
  });
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, block("DNLS1", kInformative, "EARLIER WARNING", 4) + kInvalid + kSummaryHead +
                         row("SLATEC", "DNLS1", "EARLIER WARNING", 4, 0, 1) + " \n");
}

TEST(Xersve, PrintWithFlagZeroClearsTheTable) {
  auto run = run_in_child([] {
    int count = 0;
    dnls::XERSVE("SLATEC", "A", "ONE", 1, 1, 0, count);
    dnls::XERSVE("SLATEC", "A", "ONE", 0, 0, 0, count);
    print_summary();  // empty table: nothing at all
    dnls::XERSVE("SLATEC", "B", "TWO", 1, 1, 0, count);
    print_summary();
  });
  EXPECT_EQ(run.status, kReturned);
  EXPECT_EQ(run.err, kSummaryHead + row("SLATEC", "A", "ONE", 1, 0, 1) + " \n" + kSummaryHead +
                         row("SLATEC", "B", "TWO", 1, 0, 1) + " \n");
}

TEST(Xermsg, BoundaryNumbersAreAccepted) {
  auto run = run_in_child([] {
    dnls::XERMSG("SLATEC", "R", "HIGH", 99999999, 0);
    dnls::XERMSG("SLATEC", "R", "LOW", -9999999, 0);
    dnls::XERMSG("SLATEC", "R", "NEG", -5, 0);
    if (dnls::J4SAVE(1, 0, false) != -5) _exit(1);
  });
  EXPECT_EQ(run.status, kReturned);
  EXPECT_EQ(run.err, block("R", kInformative, "HIGH", 99999999) +
                         block("R", kInformative, "LOW", -9999999) +
                         block("R", kInformative, "NEG", -5));
}

TEST(Xermsg, LevelMinusOneIsPrintedOnceAndCountedEachTime) {
  auto run = run_in_child([] {
    dnls::XERMSG("SLATEC", "DNLS1", "ONCE ONLY", 3, -1);
    dnls::XERMSG("SLATEC", "DNLS1", "ONCE ONLY", 3, -1);
    print_summary();
  });
  EXPECT_EQ(run.status, kReturned);
  EXPECT_EQ(run.err, block("DNLS1", kInformative, "ONCE ONLY", 3) + kSummaryHead +
                         row("SLATEC", "DNLS1", "ONCE ONLY", 3, -1, 2) + " \n");
}

TEST(Xermsg, WarningIsPrintedTenTimesThenOnlyCounted) {
  auto run = run_in_child([] {
    for (int i = 0; i < 12; ++i) dnls::XERMSG("SLATEC", "DNLS1", "REPEATED", 7, 0);
    print_summary();
  });
  std::string expected;
  for (int i = 0; i < 10; ++i) expected += block("DNLS1", kInformative, "REPEATED", 7);
  expected += kSummaryHead + row("SLATEC", "DNLS1", "REPEATED", 7, 0, 12) + " \n";
  EXPECT_EQ(run.status, kReturned);
  EXPECT_EQ(run.err, expected);
}

TEST(Xermsg, EleventhDistinctMessageOverflowsTheTable) {
  auto run = run_in_child([] {
    int counts[11];
    for (int i = 0; i < 11; ++i) {
      std::string text = "MESSAGE " + std::to_string(i);
      dnls::XERSVE("SLATEC", "DNLS1", text, 1, 1, 0, counts[i]);
    }
    int again = 0;
    dnls::XERSVE("SLATEC", "DNLS1", "MESSAGE 3", 1, 1, 0, again);
    dnls::XERMSG("SLATEC", "DNLS1", "TWELFTH", 9, 1);
    // Never reached: report what went wrong through the exit status.
    _exit(counts[0] == 1 && counts[10] == 0 && again == 2 ? 50 : 51);
  });
  std::string expected = block("DNLS1", kRecoverable, "TWELFTH", 9) +
                         " ***JOB ABORT DUE TO UNRECOVERED ERROR.\n" + kSummaryHead;
  for (int i = 0; i < 10; ++i) {
    std::string text = "MESSAGE " + std::to_string(i);
    expected += row("SLATEC", "DNLS1", text.c_str(), 1, 0, i == 3 ? 2 : 1);
  }
  expected += "0OTHER ERRORS NOT INDIVIDUALLY TABULATED =          2\n \n";
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, expected);
}

TEST(Xersve, KeyIsFiveFieldsCutToWidth) {
  auto run = run_in_child([] {
    int c[7];
    dnls::XERSVE("SLATEC", "DNLS1", "SAME TEXT", 1, 1, 0, c[0]);
    dnls::XERSVE("SLATEC", "DNLS1", "SAME TEXT", 1, 1, 1, c[1]);    // other level
    dnls::XERSVE("SLATEC", "DNLS1", "SAME TEXT", 1, 2, 0, c[2]);    // other number
    dnls::XERSVE("SLATEC", "DNLS1", "SAME TEXT  ", 1, 1, 0, c[3]);  // padding is equal
    dnls::XERSVE("SLATEC", "dnls1", "SAME TEXT", 1, 1, 0, c[4]);    // case counts
    dnls::XERSVE("SLATEC", "R", "12345678901234567890 first", 1, 1, 0, c[5]);
    dnls::XERSVE("SLATEC", "R", "12345678901234567890 second", 1, 1, 0, c[6]);
    const int expected[7] = {1, 1, 1, 2, 1, 1, 2};
    for (int i = 0; i < 7; ++i)
      if (c[i] != expected[i]) _exit(10 + i);
    print_summary();
    print_summary();  // flag -1 kept the table
  });
  std::string summary = kSummaryHead + row("SLATEC", "DNLS1", "SAME TEXT", 1, 0, 2) +
                        row("SLATEC", "DNLS1", "SAME TEXT", 1, 1, 1) +
                        row("SLATEC", "DNLS1", "SAME TEXT", 2, 0, 1) +
                        row("SLATEC", "dnls1", "SAME TEXT", 1, 0, 1) +
                        row("SLATEC", "R", "12345678901234567890", 1, 0, 2) + " \n";
  EXPECT_EQ(run.status, kReturned);
  EXPECT_EQ(run.err, summary + summary);
}

TEST(Xermsg, LongNamesAreCutInHeadingAndTable) {
  auto run = run_in_child([] {
    dnls::XERMSG("LIBRARYNAMEOF20CHARS", "ROUTINENAMEOF20CHARS", "NOTE", 1, 0);
    print_summary();
  });
  EXPECT_EQ(run.status, kReturned);
  EXPECT_EQ(run.err,
            " ***MESSAGE FROM ROUTINE ROUTINENAMEOF20C IN LIBRARY LIBRARYNAMEOF20C.\n"
            " ***INFORMATIVE MESSAGE, PROG CONTINUES, TRACEBACK REQUESTED\n"
            " *  NOTE\n"
            " *  ERROR NUMBER = 1\n"
            " *   \n"
            " ***END OF MESSAGE\n"
            " \n" +
                kSummaryHead +
                " LIBRARYN   ROUTINEN   NOTE                         1         0         1\n \n");
}

struct SolverMessage {
  const char* routine;
  const char* text;
  int nerr;
};

TEST(Xermsg, SolverErrorsAbortWithSummary) {
  const SolverMessage messages[] = {
      {"DNLS1", "EXECUTION TERMINATED BECAUSE USER SET IFLAG NEGATIVE.", 1},
      {"DNLS1", "INVALID INPUT PARAMETER.", 2},
      {"DNLS1", "THIRD CONVERGENCE CONDITION, CHECK RESULTS BEFORE ACCEPTING.", 1},
      {"DNLS1", "TOO MANY FUNCTION EVALUATIONS.", 9},
      {"DNLS1", "TOLERANCES TOO SMALL, NO FURTHER IMPROVEMENT POSSIBLE.", 3},
      {"DNLS1E", "INVALID INPUT PARAMETER.", 2},
  };
  for (const auto& m : messages) {
    auto run = run_in_child([&] {
      dnls::XERMSG("SLATEC", m.routine, m.text, m.nerr, 1);
      dnls::io::write_record(dnls::io::kStdout, "caller continued");
    });
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.status, 0) << m.text;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, block(m.routine, kRecoverable, m.text, m.nerr) +
                           " ***JOB ABORT DUE TO UNRECOVERED ERROR.\n" + kSummaryHead +
                           row("SLATEC", m.routine, m.text, m.nerr, 1, 1) + " \n");
  }
}

TEST(Xermsg, EndOfRunFlushesOutputAndClosesFiles) {
  char name[] = "/tmp/korvalinde-result-XXXXXX";
  int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  close(fd);
  auto run = run_in_child([&] {
    dnls::io::write_record(dnls::io::kStdout, "report line");
    dnls::io::open_unit(21, name);
    dnls::io::write_record(21, "result row");
    dnls::XERMSG("SLATEC", "DNLS1", "TOO MANY FUNCTION EVALUATIONS.", 9, 1);
  });
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "report line\n");
  EXPECT_EQ(testsupport::read_file(name), "result row\n");
  unlink(name);
}

}  // namespace
