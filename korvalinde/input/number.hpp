// The number grammar shared by the control input and the sample reader:
//   [sign] digits [. digits] [(E|e|D|d) [sign] digits]
// with digits on at least one side of the point. Conversion is locale-free
// and correctly rounded (to nearest, ties to even).
#pragma once

#include <cstdint>
#include <string_view>

namespace korvalinde {

// How far the grammar reaches from the start of some text.
struct DecimalScan {
  const char* end;         // first character that does not continue the number
  const char* exponent;    // the exponent letter, or nullptr
  bool complete;           // [start, end) is a whole number of the grammar
  // The digits before the exponent as an integer (modulo 2^64), how many
  // there are, and how many of them follow the point.
  std::uint64_t mantissa = 0;
  int digits = 0;
  int fraction = 0;
};

// Scans [p, last) for a number of the grammar.
DecimalScan scan_decimal(const char* p, const char* last);

// Converts [first, s.end) of a complete scan: the double nearest to it. A
// value beyond the double range becomes an infinity, one below it zero or a
// subnormal, each with the token's sign.
double convert_decimal(const char* first, const DecimalScan& s);

// A token of the grammar, converted; false for anything else.
bool parse_decimal(std::string_view token, double& value);

// A sample value: the grammar above, and finite.
bool parse_sample(std::string_view token, double& value);

}  // namespace korvalinde
