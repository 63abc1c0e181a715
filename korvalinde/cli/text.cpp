#include "korvalinde/cli/text.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>

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

namespace {

// Length of the well-formed UTF-8 sequence at the start of s and its code
// point, or 0 when the first byte does not begin one.
std::size_t decode(std::string_view s, char32_t& cp) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned b0 = byte(0);
  std::size_t len;
  char32_t min;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  } else if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2, min = 0x80, cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3, min = 0x800, cp = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4, min = 0x10000, cp = b0 & 0x07;
  } else {
    return 0;
  }
  if (s.size() < len) return 0;
  for (std::size_t i = 1; i < len; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

}  // namespace

std::string printable(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  while (!s.empty()) {
    char32_t cp = 0;
    const std::size_t len = decode(s, cp);
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
