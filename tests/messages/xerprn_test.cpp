#include <gtest/gtest.h>

#include <string>

#include "dnls/messages/xerror.hpp"
#include "tests/support/child.hpp"

namespace {

using testsupport::run_in_child;

// Standard error text of one XERPRN call in a fresh process.
std::string printed(std::string_view prefix, int npref, const std::string& messg, int nwrap = 72) {
  std::string p(prefix);
  auto run = run_in_child([&] { dnls::XERPRN(p, npref, messg, nwrap); });
  EXPECT_EQ(run.status, testsupport::kReturned);
  EXPECT_EQ(run.out, "");
  return run.err;
}

std::string rep(char c, int n) { return std::string(static_cast<std::size_t>(n), c); }

TEST(Xerprn, NewLineMarks) {
  EXPECT_EQ(printed(" *  ", -1, "AB$$$$CD"), " *  AB\n *  CD\n");
  EXPECT_EQ(printed(" *  ", -1, "A$$$$"), " *  A\n *  \n");
  EXPECT_EQ(printed(" *  ", -1, "$$X"), " *  X\n");
  EXPECT_EQ(printed(" *  ", -1, "ONE$$ TWO"), " *  ONE\n *   TWO\n");
  EXPECT_EQ(printed(" *  ", -1, "AB  $$CD   "), " *  AB  \n *  CD\n");
  EXPECT_EQ(printed(" ***", -1,
                    "FATAL ERROR IN...$$ XERMSG -- INVALID ERROR NUMBER OR LEVEL$$ JOB ABORT DUE "
                    "TO FATAL ERROR."),
            " ***FATAL ERROR IN...\n"
            " *** XERMSG -- INVALID ERROR NUMBER OR LEVEL\n"
            " *** JOB ABORT DUE TO FATAL ERROR.\n");
}

TEST(Xerprn, MarksAroundTheWrapWidth) {
  // Mark right after a full-width piece: the piece ends at the mark.
  EXPECT_EQ(printed(" *  ", -1, rep('x', 72) + "$$Y"), " *  " + rep('x', 72) + "\n *  Y\n");
  // One character further the line is cut first; the mark is kept for later.
  EXPECT_EQ(printed(" *  ", -1, rep('x', 73) + "$$Y"), " *  " + rep('x', 72) + "\n *  x\n *  Y\n");
  // A distant mark: the break falls on the last blank that fits.
  EXPECT_EQ(printed(" *  ", -1, rep('a', 49) + " " + rep('b', 30) + "$$C"),
            " *  " + rep('a', 49) + "\n *  " + rep('b', 30) + "\n *  C\n");
}

TEST(Xerprn, WrapsAtBlanksOrCutsHard) {
  std::string word;
  for (int i = 0; i < 8; ++i) word += "ABCDEFGHIJ";
  EXPECT_EQ(printed(" *  ", -1, word),
            " *  " + word.substr(0, 72) + "\n *  " + word.substr(72) + "\n");
  EXPECT_EQ(printed(" *  ", -1, rep('a', 72) + " " + rep('b', 7)),
            " *  " + rep('a', 72) + "\n *  " + rep('b', 7) + "\n");
  // A blank at position 1 of a piece is no break point.
  std::string leading = rep('c', 81);
  leading[0] = ' ';
  EXPECT_EQ(printed("", 0, leading), leading.substr(0, 72) + "\n" + rep('c', 9) + "\n");
  // The longest solver message: 84 characters, broken before "CLOSE".
  std::string deriv =
      "DERIVATIVE OF FUNCTION        1 MAY BE WRONG, ERR =    1.000000E-02  TOO CLOSE TO 0.";
  ASSERT_EQ(deriv.size(), 84u);
  EXPECT_EQ(printed(" *  ", -1, deriv),
            " *  DERIVATIVE OF FUNCTION        1 MAY BE WRONG, ERR =    1.000000E-02  TOO\n"
            " *  CLOSE TO 0.\n");
}

TEST(Xerprn, WrapWidthIsClampedTo16Through132) {
  std::string abc = "abcdefghijklmnopqrstuvwxyz";
  EXPECT_EQ(printed(">", -1, abc, 5), ">abcdefghijklmnop\n>qrstuvwxyz\n");
  EXPECT_EQ(printed(">", -1, rep('w', 140), 200), ">" + rep('w', 132) + "\n>" + rep('w', 8) + "\n");
  EXPECT_EQ(printed(">", -1, rep('w', 132), 200), ">" + rep('w', 132) + "\n");
}

TEST(Xerprn, PrefixLengthAndEmptyMessages) {
  EXPECT_EQ(printed(" *  ", -1, "   "), " *   \n");
  EXPECT_EQ(printed(" *  ", -1, ""), " *   \n");
  EXPECT_EQ(printed(" ***", 0, " "), " \n");
  EXPECT_EQ(printed("0123456789ABCDEFGHIJ", -1, "T"), "0123456789ABCDEFT\n");
  EXPECT_EQ(printed("0123456789ABCDEFGHIJ", 40, "T"), "0123456789ABCDEFT\n");
  EXPECT_EQ(printed("ab", 5, "T"), "ab   T\n");
  EXPECT_EQ(printed("abcd", 2, "T"), "abT\n");
}

TEST(Xerprn, WritesEveryOutputUnitInOrder) {
  auto run = run_in_child([] {
    dnls::J4SAVE(5, 2, true);
    dnls::J4SAVE(6, 6, true);
    int units[5] = {-1, -1, -1, -1, -1};
    int n = 0;
    dnls::XGETUA(units, n);
    if (n != 2 || units[0] != 0 || units[1] != 6 || units[2] != -1) _exit(1);
    dnls::XERPRN(" *  ", -1, "ONE$$TWO", 72);
  });
  EXPECT_EQ(run.status, testsupport::kReturned);
  EXPECT_EQ(run.err, " *  ONE\n *  TWO\n");
  EXPECT_EQ(run.out, " *  ONE\n *  TWO\n");
}

TEST(ControlStore, InitialValuesAndUpdates) {
  auto run = run_in_child([] {
    int units[5] = {-1, -1, -1, -1, -1};
    int n = 0;
    dnls::XGETUA(units, n);
    bool ok = n == 1 && units[0] == 0 && units[1] == -1;
    const int initial[9] = {0, 2, 0, 10, 1, 0, 0, 0, 0};
    for (int i = 1; i <= 9; ++i) ok = ok && dnls::J4SAVE(i, 99, false) == initial[i - 1];
    ok = ok && dnls::J4SAVE(2, 5, false) == 2 && dnls::J4SAVE(2, 0, false) == 2;
    ok = ok && dnls::J4SAVE(1, 7, true) == 0 && dnls::J4SAVE(1, 0, false) == 7;
    _exit(ok ? 0 : 1);
  });
  EXPECT_EQ(run.status, 0);
}

}  // namespace
