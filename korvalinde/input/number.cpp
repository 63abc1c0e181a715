#include "korvalinde/input/number.hpp"

#include <fast_float/fast_float.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace korvalinde {
namespace {

bool is_digit(char c) { return static_cast<unsigned char>(c - '0') <= 9; }

const char* digits(const char* p, const char* last) {
  while (p != last && is_digit(*p)) ++p;
  return p;
}

// A count of digits, saturated far above any count the conversion takes as
// short, so that neither it nor the sum of two wraps around (a run of 2^31
// digits would otherwise count as a short number).
int digit_count(const char* from, const char* to) {
  return static_cast<int>(std::min<std::ptrdiff_t>(to - from, std::ptrdiff_t{1} << 29));
}

// Digits from p on, added to m; returns the first non-digit.
const char* mantissa_digits(const char* p, const char* last, std::uint64_t& m) {
  for (; p != last && is_digit(*p); ++p) m = m * 10 + static_cast<unsigned>(*p - '0');
  return p;
}

}  // namespace

DecimalScan scan_decimal(const char* p, const char* last) {
  DecimalScan s{p, nullptr, false};
  if (p != last && (*p == '+' || *p == '-')) ++p;
  const char* q = mantissa_digits(p, last, s.mantissa);
  s.digits = digit_count(p, q);
  bool any = q != p;
  if (q != last && *q == '.') {
    const char* f = q + 1;
    q = mantissa_digits(f, last, s.mantissa);
    s.fraction = digit_count(f, q);
    s.digits += s.fraction;
    any = any || q != f;
  }
  s.end = q;
  if (!any) return s;
  if (q != last && ((*q | 0x20) == 'e' || (*q | 0x20) == 'd')) {
    const char* e = q + 1;
    if (e != last && (*e == '+' || *e == '-')) ++e;
    const char* x = digits(e, last);
    if (x == e) {
      s.end = e;  // an exponent without digits
      return s;
    }
    s.exponent = q;
    s.end = x;
  }
  s.complete = true;
  return s;
}

double convert_decimal(const char* first, const DecimalScan& s) {
  if (*first == '+') ++first;  // the converter takes no plus sign
  if (s.exponent == nullptr && s.digits <= 15) return convert_short_decimal(first, s);
  const char* last = s.end;
  // The converter knows only E as the exponent letter: a D exponent is
  // converted from a copy.
  char local[128];
  std::string long_copy;
  if (s.exponent != nullptr && (*s.exponent | 0x20) == 'd') {
    const auto len = static_cast<std::size_t>(last - first);
    char* copy = local;
    if (len > sizeof local) {
      long_copy.assign(first, len);
      copy = long_copy.data();
    } else {
      std::memcpy(local, first, len);
    }
    copy[s.exponent - first] = 'E';
    first = copy;
    last = copy + len;
  }
  double v = 0;
  const auto r = fast_float::from_chars(first, last, v);
  // A complete scan is always converted whole; anything else is no number.
  return r.ptr == last ? v : std::nan("");
}

bool parse_decimal(std::string_view token, double& value) {
  const char* last = token.data() + token.size();
  const DecimalScan s = scan_decimal(token.data(), last);
  if (!s.complete || s.end != last) return false;
  value = convert_decimal(token.data(), s);
  return true;
}

bool parse_sample(std::string_view token, double& value) {
  double v;
  if (!parse_decimal(token, v) || !std::isfinite(v)) return false;
  value = v;
  return true;
}

}  // namespace korvalinde
