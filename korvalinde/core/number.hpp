// The number grammar shared by the control input and the sample reader:
//   [sign] digits [. digits] [(E|e|D|d) [sign] digits]
// with digits on at least one side of the point. Conversion is locale-free
// and correctly rounded (to nearest, ties to even).
#pragma once

#include <string_view>

namespace korvalinde {

// Converts a token of the grammar above. Returns false for anything else.
// A value beyond the double range becomes an infinity, one below it zero or
// a subnormal, each with the token's sign.
bool parse_decimal(std::string_view token, double& value);

// A sample value: the grammar above, and finite.
bool parse_sample(std::string_view token, double& value);

}  // namespace korvalinde
