#include "korvalinde/core/number.hpp"

#include <fast_float/fast_float.h>

#include <cmath>
#include <cstring>
#include <string>

namespace korvalinde {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Checks the grammar; `exp_at` receives the position of the exponent letter
// or npos.
bool scan(std::string_view s, std::size_t& exp_at) {
  std::size_t i = 0;
  const std::size_t n = s.size();
  if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < n && is_digit(s[i])) ++i, ++digits;
  if (i < n && s[i] == '.') {
    ++i;
    while (i < n && is_digit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  exp_at = std::string_view::npos;
  if (i == n) return true;
  const char e = s[i];
  if (e != 'E' && e != 'e' && e != 'D' && e != 'd') return false;
  exp_at = i++;
  if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
  if (i == n) return false;
  while (i < n && is_digit(s[i])) ++i;
  return i == n;
}

}  // namespace

bool parse_decimal(std::string_view token, double& value) {
  std::size_t exp_at;
  if (!scan(token, exp_at)) return false;
  const bool plus = token[0] == '+';
  const char* first = token.data() + plus;
  const char* last = token.data() + token.size();
  // The converter knows only E as the exponent letter: a D exponent is
  // converted from a copy (on the stack for any sensible length).
  char local[128];
  std::string_view copy_of;
  if (exp_at != std::string_view::npos && (token[exp_at] == 'D' || token[exp_at] == 'd')) {
    const std::size_t len = token.size() - plus;
    if (len > sizeof local) {
      std::string long_copy(first, len);  // a rare, very long token
      long_copy[exp_at - plus] = 'E';
      double v = 0;
      auto r = fast_float::from_chars(long_copy.data(), long_copy.data() + len, v);
      if (r.ec != std::errc() || r.ptr != long_copy.data() + len) return false;
      value = v;
      return true;
    }
    std::memcpy(local, first, len);
    local[exp_at - plus] = 'E';
    first = local;
    last = local + len;
  }
  double v = 0;
  const auto r = fast_float::from_chars(first, last, v);
  if (r.ec != std::errc() || r.ptr != last) return false;
  value = v;
  return true;
}

bool parse_sample(std::string_view token, double& value) {
  double v;
  if (!parse_decimal(token, v) || !std::isfinite(v)) return false;
  value = v;
  return true;
}

}  // namespace korvalinde
