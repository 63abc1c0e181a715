// A plain reading of sample files, for comparison with the program's own:
// the whole text at once, the grammar checked step by step, the values
// converted by the C library.
#pragma once

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "korvalinde/classic/blocks.hpp"

namespace fuzz {

// A token longer than this cannot be read and counts as a bad value.
inline constexpr std::size_t kLongestToken = (1u << 16) - 1;

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// [sign] digits [. digits] [(E|e|D|d) [sign] digits], digits on at least one
// side of the point; the value must be finite.
inline bool reference_parse(std::string_view t, double& value) {
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  std::size_t digits = 0;
  for (; i < t.size() && is_digit(t[i]); ++i) ++digits;
  if (i < t.size() && t[i] == '.') {
    for (++i; i < t.size() && is_digit(t[i]); ++i) ++digits;
  }
  if (digits == 0) return false;
  std::string text(t.substr(0, i));
  if (i < t.size()) {
    if (std::strchr("EeDd", t[i]) == nullptr || t[i] == '\0') return false;
    text += 'e';
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) text += t[i++];
    std::size_t exp_digits = 0;
    for (; i < t.size() && is_digit(t[i]); ++i, ++exp_digits) text += t[i];
    if (exp_digits == 0 || i != t.size()) return false;
  }
  value = std::strtod(text.c_str(), nullptr);
  return std::isfinite(value);
}

enum class ReadOutcome { Ok, Bad, TooMany };

// Reads the samples of file text `f` into `values` (room for kMaxSamples):
// the first value of each line, blank lines passed over. `count` is the
// number stored (kMaxSamples + 1 when there are too many).
inline ReadOutcome reference_read(std::string_view f, double* values, int& count) {
  const auto terminates = [](char c) {
    return c == ' ' || c == '\t' || c == ',' || c == '/' || c == '\n';
  };
  count = 0;
  std::size_t pos = 0;
  for (;;) {
    while (pos < f.size() && (f[pos] == ' ' || f[pos] == '\t' || f[pos] == '\n')) ++pos;
    if (pos == f.size()) return ReadOutcome::Ok;
    std::size_t end = pos;
    while (end < f.size() && !terminates(f[end])) ++end;
    if (end - pos > kLongestToken) return ReadOutcome::Bad;
    const char term = end < f.size() ? f[end] : '\n';
    std::string_view token = f.substr(pos, end - pos);
    if (term == '\n' && !token.empty() && token.back() == '\r') token.remove_suffix(1);
    if (token.empty()) {
      if (term == ',' || term == '/') return ReadOutcome::Bad;  // a null value
      pos = end;                                                // a line of "\r" alone
      continue;
    }
    double v;
    if (!reference_parse(token, v)) return ReadOutcome::Bad;
    if (count == korvalinde::kMaxSamples) {
      count = korvalinde::kMaxSamples + 1;
      return ReadOutcome::TooMany;
    }
    values[count++] = v;
    const std::size_t nl = f.find('\n', end);
    pos = nl == std::string_view::npos ? f.size() : nl + 1;
  }
}

}  // namespace fuzz
