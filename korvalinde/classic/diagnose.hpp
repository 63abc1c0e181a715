// One-line diagnostics on standard error.
#pragma once

namespace korvalinde {

// Writes a printf-style line on the standard error stream.
[[gnu::format(printf, 1, 2)]] void diagnose(const char* format, ...);

}  // namespace korvalinde
