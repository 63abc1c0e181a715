#include "dnls/messages/machine.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

#include "tests/support/child.hpp"

namespace {

using testsupport::run_in_child;

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

TEST(Machine, DoubleConstantsHaveTheStoredBitPatterns) {
  EXPECT_EQ(bits(dnls::D1MACH(1)), 0x0010091177587F83u);
  EXPECT_EQ(bits(dnls::D1MACH(2)), 0x7FEFDCF158ADBB99u);
  EXPECT_EQ(bits(dnls::D1MACH(3)), 0x3CA002DDD51E4D89u);
  EXPECT_EQ(bits(dnls::D1MACH(4)), 0x3CB002DDD51E4D89u);
  EXPECT_EQ(bits(dnls::D1MACH(5)), 0x3FD34413509F79FFu);
}

TEST(Machine, IntegerConstants) {
  const int expected[16] = {5,          6, 0,  0,    32,  4,  2,     31,
                            2147483647, 2, 24, -125, 127, 53, -1021, 1023};
  for (int i = 1; i <= 16; ++i)
    EXPECT_EQ(dnls::I1MACH(i), expected[i - 1]) << "I1MACH(" << i << ")";
}

TEST(Machine, D1MACHOutOfRangeIsFatal) {
  const char* expected =
      " ***MESSAGE FROM ROUTINE D1MACH IN LIBRARY SLATEC.\n"
      " ***FATAL ERROR, PROG ABORTED, TRACEBACK REQUESTED\n"
      " *  I OUT OF BOUNDS\n"
      " *  ERROR NUMBER = 1\n"
      " *   \n"
      " ***END OF MESSAGE\n"
      " \n"
      " ***JOB ABORT DUE TO FATAL ERROR.\n"
      "0          ERROR MESSAGE SUMMARY\n"
      " LIBRARY    SUBROUTINE MESSAGE START             NERR     LEVEL     COUNT\n"
      " SLATEC     D1MACH     I OUT OF BOUNDS              1         2         1\n"
      " \n";
  for (int i : {6, 0}) {
    auto run = run_in_child([i] {
      dnls::D1MACH(i);
      dnls::I1MACH(2);  // never reached
    });
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.status, 0) << "D1MACH(" << i << ")";
    EXPECT_EQ(run.err, expected);
    EXPECT_EQ(run.out, "");
  }
}

TEST(Machine, I1MACHOutOfRangeEndsTheRun) {
  for (int i : {0, 17}) {
    auto run = run_in_child([i] { dnls::I1MACH(i); });
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.status, 0) << "I1MACH(" << i << ")";
    EXPECT_EQ(run.err, "1ERROR    1 IN I1MACH - I OUT OF BOUNDS\n");
    EXPECT_EQ(run.out, "");
  }
}

}  // namespace
