// Checks of the fit command's option values: each says what is wanted,
// plainly ("must be at least 1", "must be in [0, 1]"), and none lets NaN
// through.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include <CLI/CLI.hpp>

namespace korvalinde::cli {

// A whole number from lo to hi.
CLI::Validator whole_number(long long lo, long long hi);

// Reads a number as a double: an empty string or the reason it is not one.
// NaN is not a number here; an overflow reads as an infinity.
std::string read_number(std::string_view text, double& v);

// A number for which `ok` holds; `what` says what is expected.
CLI::Validator number_where(std::function<bool(double)> ok, std::string what);

}  // namespace korvalinde::cli
