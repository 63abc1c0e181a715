#include "dnls/messages/machine.hpp"

#include "dnls/io/units.hpp"
#include "dnls/messages/xerror.hpp"

namespace dnls {
namespace {

// Short decimal constants, deliberately not the exact IEEE limits: every
// consumer sees these values.
constexpr double kDmach[5] = {2.23e-308, 1.79e+308, 1.111e-16, 2.222e-16, 0.3010299956639812};

constexpr int kImach[16] = {
    5,           // standard input unit
    6,           // standard output unit
    0,           // punch unit
    0,           // error-message unit (standard error)
    32,          // bits per integer storage unit
    4,           // characters per integer storage unit
    2,           // base of integer arithmetic
    31,          // base digits of an integer
    2147483647,  // largest integer
    2,           // floating-point base
    24,          // single precision: base digits
    -125,        //   smallest exponent
    127,         //   largest exponent
    53,          // double precision: base digits
    -1021,       //   smallest exponent
    1023,        //   largest exponent
};

}  // namespace

double D1MACH(int i) {
  if (i < 1 || i > 5) {
    // Level 2 always ends the run; the return below is never reached.
    XERMSG("SLATEC", "D1MACH", "I OUT OF BOUNDS", 1, 2);
    return 0.0;
  }
  return kDmach[i - 1];
}

int I1MACH(int i) {
  if (i < 1 || i > 16) {
    // Not routed through the message service, which itself depends on I1MACH(4).
    io::write_record(io::kStderr, "1ERROR    1 IN I1MACH - I OUT OF BOUNDS");
    XERHLT("");
  }
  return kImach[i - 1];
}

}  // namespace dnls
