#include "korvalinde/detail/utf8.hpp"

namespace korvalinde::detail {

std::size_t utf8_decode(std::string_view s, char32_t& cp) {
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

namespace {

// The length of the character at the start of s (not empty), and whether
// it is written as \xHH escapes.
std::size_t next_char(std::string_view s, bool controls, bool& escaped) {
  char32_t cp = 0;
  const std::size_t len = utf8_decode(s, cp);
  escaped = len == 0 || (controls && (cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || cp == 0xFFFE ||
                                      cp == 0xFFFF));
  return len == 0 ? 1 : len;
}

}  // namespace

std::string escape_bytes(std::string_view s, bool controls) {
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  while (!s.empty()) {
    bool escaped = false;
    const std::size_t len = next_char(s, controls, escaped);
    if (escaped) {
      for (std::size_t i = 0; i < len; ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        out += "\\x";
        out += kHex[b >> 4];
        out += kHex[b & 15];
      }
    } else {
      out.append(s.substr(0, len));
      if (s[0] == '\\' && s.size() > 1) {
        bool after = false;
        next_char(s.substr(1), controls, after);
        if (after || s[1] == '\\' || s[1] == 'x') out += '\\';
      }
    }
    s.remove_prefix(len);
  }
  return out;
}

}  // namespace korvalinde::detail
