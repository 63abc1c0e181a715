#include "korvalinde/cli/text.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>

#include "korvalinde/detail/utf8.hpp"

namespace korvalinde::cli {

std::string format_number(double v, int digits, std::string_view undefined) {
  if (!std::isfinite(v)) return std::string(undefined);
  if (v == 0) v = 0;  // no "-0"
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, digits);
  return std::string(buf, r.ptr);
}

std::string format_fixed(double v, int decimals) {
  if (!std::isfinite(v)) return "0";
  char buf[400];  // room for any double in fixed notation
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  std::string s(buf, r.ptr);
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

std::string printable(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  while (!s.empty()) {
    char32_t cp = 0;
    const std::size_t len = detail::utf8_decode(s, cp);
    if (len == 0) {
      out += "\xEF\xBF\xBD";
      s.remove_prefix(1);
      continue;
    }
    if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || cp == 0xFFFE || cp == 0xFFFF) {
      out += '?';
    } else {
      out.append(s.substr(0, len));
    }
    s.remove_prefix(len);
  }
  return out;
}

std::string escape_xml(std::string_view s) {
  std::string out;
  for (char c : printable(s)) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace korvalinde::cli
