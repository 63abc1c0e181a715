// Machine constants of the arithmetic and of the unit system.
#pragma once

namespace dnls {

// Double constants, index 1..5: smallest normalised magnitude, largest
// magnitude, half machine epsilon, machine epsilon, log10(2). The stored
// values are the short decimal literals, not the exact IEEE limits. An index
// outside 1..5 is a fatal error reported through XERMSG (does not return).
double D1MACH(int i);

// Integer constants, index 1..16 (4 is the error-message unit, 0). An index
// outside 1..16 writes an out-of-bounds line and ends the run.
int I1MACH(int i);

}  // namespace dnls
