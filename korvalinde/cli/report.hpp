// The human report of the command line: a short block per input file with the
// methods side by side. Unlike the classic report its layout is free to change.
#pragma once

#include <string>
#include <string_view>

#include "korvalinde/records/result.hpp"

namespace korvalinde::cli {

// The block of one file, ending with a newline (callers put an empty line
// between blocks). A failed file gives the one line "FILE: error: MESSAGE",
// or "FILE:LINE: error: MESSAGE" when the message names a line.
std::string format_report(const FitResult& result);

// The meaning of the solver's termination code INFO in words.
std::string_view info_meaning(int info);

}  // namespace korvalinde::cli
