// Numbers in the text layer do not depend on the host program's locale.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dnls/io/format.hpp"
#include "tests/support/child.hpp"

namespace {

// Switches the whole process to a locale with a decimal comma, generating
// de_DE.UTF-8 into a temporary LOCPATH when the system does not have it
// (that needs localedef and the locale sources of Debian's package
// "locales", which scripts/setup.sh installs). Restores "C" on destruction.
class CommaLocale {
 public:
  CommaLocale() {
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr) return;
    const std::string command = "localedef -i de_DE -f UTF-8 '" + dir_.path() +
                                "/de_DE.UTF-8' > '" + dir_.path() + "/log' 2>&1";
    std::system(command.c_str());
    setenv("LOCPATH", dir_.path().c_str(), 1);
    std::setlocale(LC_ALL, "de_DE.UTF-8");
  }
  ~CommaLocale() {
    std::setlocale(LC_ALL, "C");
    unsetenv("LOCPATH");
  }
  // True when printf really writes a decimal comma now.
  static bool active() {
    char text[8];
    std::snprintf(text, sizeof text, "%.1f", 1.5);
    return std::string(text) == "1,5";
  }
  std::string log() const { return testsupport::read_file(dir_.path() + "/log"); }

 private:
  testsupport::TempDir dir_;
};

std::string record(std::string_view layout, std::initializer_list<dnls::fmt::Arg> values) {
  char text[256];
  return std::string(text, dnls::fmt::format_to(text, sizeof text, layout, values));
}

// Every numeric field kind, on values from both former printf paths.
std::vector<std::string> sample() {
  std::vector<std::string> out;
  const double values[] = {12345678901.5, 0.0123, -0.5, 2.5e-7, 1e300, 123.456789, -9.87654e12};
  for (double v : values) {
    out.push_back(record("(F20.5,1X,F12.7,1X,F40.12,1X,1PE15.6,1X,1PE12.3,1X,F5.0)",
                         {v, v, v, v, v, v}));
  }
  out.push_back(record("(I12,1X,I3)", {-1234567, 42}));
  return out;
}

TEST(Locale, DecimalCommaLocaleLeavesNumbersUnchanged) {
  ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  const std::vector<std::string> in_c = sample();
  EXPECT_EQ(record("(F20.5)", {12345678901.5}), "   12345678901.50000");
  EXPECT_EQ(record("(1PE15.6)", {0.0123}), "   1.230000E-02");

  CommaLocale comma;
  // Never pass without having tested: the locale must really be in effect.
  ASSERT_TRUE(CommaLocale::active())
      << "cannot make de_DE.UTF-8 (install the package locales: scripts/setup.sh)\n"
      << comma.log();
  EXPECT_EQ(record("(F20.5)", {12345678901.5}), "   12345678901.50000");
  EXPECT_EQ(record("(1PE15.6)", {0.0123}), "   1.230000E-02");
  EXPECT_EQ(sample(), in_c);
}

}  // namespace
