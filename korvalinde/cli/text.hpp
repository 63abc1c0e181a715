// Text helpers shared by the renderers: locale-free number formatting, and
// names and messages from outside made safe to print.
#pragma once

#include <string>
#include <string_view>

namespace korvalinde::cli {

// v with `digits` significant digits in printf's %g style, whatever the
// locale; `undefined` when v is NaN or infinite.
std::string format_number(double v, int digits = 6, std::string_view undefined = "-");

// v with `decimals` digits after the point (for coordinates); "0" when v is
// not finite.
std::string format_fixed(double v, int decimals);

// Appends the pieces (anything that converts to std::string_view) to out:
// cheaper than a chain of +, which GCC 12 also misreads under -Wrestrict.
template <class... Pieces>
void append(std::string& out, const Pieces&... pieces) {
  (out.append(std::string_view(pieces)), ...);
}

template <class... Pieces>
std::string concat(const Pieces&... pieces) {
  std::string s;
  append(s, pieces...);
  return s;
}

// s as valid UTF-8 without control characters: every byte that is not part
// of a well-formed UTF-8 sequence becomes U+FFFD, and control characters
// (C0, DEL, C1) and the noncharacters U+FFFE and U+FFFF become '?'. The
// result is safe on a terminal and in XML character data.
std::string printable(std::string_view s);

// printable(s) with & < > " ' escaped, for XML and HTML text and attributes.
std::string escape_xml(std::string_view s);

}  // namespace korvalinde::cli
