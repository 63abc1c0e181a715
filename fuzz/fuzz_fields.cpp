// Fuzz target: the fit command's reading of a chosen field. The first byte
// chooses the column (1 to 4), whether the second byte is the separator (any
// the command line takes) or the classic blanks and commas rule, and how
// often the rest is repeated to make the file (so that files outgrow the
// reader's 64 KiB buffer). read_values, in one pass and in runs of lines
// on threads, is compared with a plain line-by-line reading of the same
// bytes: the values, or the message of the first line that fails.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/reference.hpp"
#include "fuzz/support.hpp"
#include "korvalinde/input/sample_reader.hpp"

namespace {

std::string shown_token(std::string_view t) {
  std::string s;
  for (std::size_t i = 0; i < t.size() && i < 64; ++i) {
    const auto c = static_cast<unsigned char>(t[i]);
    s += c < 0x20 || c == 0x7f ? '?' : static_cast<char>(c);
  }
  return "'" + s + (t.size() > 64 ? "...'" : "'") + " is not a number" +
         (t.substr(0, 64).find('\r') != std::string_view::npos
              ? " (a carriage return within a line: lines end with a line feed)"
              : "");
}

// The documented reading, one line at a time. Returns "" or the message.
std::string reference(std::string_view f, int column, char sep,
                      std::vector<double> &out) {
  const bool classic = sep == 0;
  const bool blanks = sep == ' '; // a run of blanks and tabs separates
  const auto blank = [&](char c) {
    return (c == ' ' || c == '\t') && (c != sep || blanks);
  };
  const auto ends = [&](char c) {
    return classic ? c == ' ' || c == '\t' || c == ',' || c == '/'
                   : c == sep || c == ' ' || c == '\t';
  };
  std::size_t pos = 0;
  for (std::uint64_t number = 1; pos < f.size(); ++number) {
    const std::size_t nl = f.find('\n', pos);
    const std::string_view line = f.substr(
        pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    pos = nl == std::string_view::npos ? f.size() : nl + 1;
    const std::string at = std::to_string(number) + ": ";
    std::size_t p = 0;
    while (p < line.size() && blank(line[p]))
      ++p;
    if (p == line.size())
      continue;
    for (int k = 1;; ++k) {
      std::size_t e = p;
      while (e < line.size() && !ends(line[e]))
        ++e;
      std::string_view token = line.substr(p, e - p);
      if (token.size() > fuzz::kLongestToken)
        return at + shown_token(token);
      const bool at_end = e == line.size();
      if (at_end && !token.empty() && token.back() == '\r')
        token.remove_suffix(1);
      if (k == column) {
        if (token.empty() && at_end) {
          if (k == 1)
            break; // a line of "\r" alone
          return at + "no value in column " + std::to_string(column);
        }
        double v;
        if (!fuzz::reference_parse(token, v))
          return at + shown_token(token);
        if (!classic && !blanks) {
          std::size_t q = e;
          while (q < line.size() && blank(line[q]))
            ++q;
          if (q < line.size() && line[q] != sep &&
              !(line[q] == '\r' && q + 1 == line.size())) {
            // The whole field is blamed, up to the separator or line end.
            const std::size_t f = std::min(line.find(sep, p), line.size());
            std::string_view field = line.substr(p, f - p);
            if (f == line.size() && !field.empty() && field.back() == '\r')
              field.remove_suffix(1);
            return at + shown_token(field);
          }
        }
        out.push_back(v);
        break;
      }
      if (at_end || (classic && line[e] == '/'))
        return at + "no value in column " + std::to_string(column);
      std::size_t q = e;
      const bool blank_run = blanks && blank(line[e]);
      while (q < line.size() && blank(line[q]))
        ++q;
      const char next = q < line.size() ? line[q] : '\n';
      if (blank_run && next != '\n' && !(next == '\r' && q + 1 == line.size())) {
        // at the next field
      } else if (next == (classic ? ',' : sep)) {
        ++q;
        while (q < line.size() && blank(line[q]))
          ++q;
      } else if (next == '\n' || (next == '\r' && q + 1 == line.size()) ||
                 (classic && next == '/')) {
        return at + "no value in column " + std::to_string(column);
      } else if (!classic) {
        return at + shown_token(token);
      }
      p = q;
    }
  }
  return {};
}

// The fault as the reference words it: "LINE: message".
std::string text_of(const std::optional<korvalinde::InputError> &e) {
  if (!e)
    return {};
  return e->line > 0 ? std::to_string(e->line) + ": " + e->message
                     : e->message;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  if (size < 2)
    return 0;
  // The second byte is the separator, when the command line would take it.
  static const int kRepeats[] = {1, 3, 17, 41};
  const int column = 1 + (data[0] & 3);
  const char drawn = static_cast<char>(data[1]);
  const char sep =
      (data[0] & 4) != 0 && korvalinde::separator_allowed(drawn) ? drawn : 0;
  const int repeats = kRepeats[(data[0] >> 4) & 3];
  const std::string_view body(reinterpret_cast<const char *>(data) + 2,
                              size - 2);
  std::string file;
  for (int k = 0; k < repeats; ++k)
    file.append(body);

  static fuzz::MemFile sample("fields");
  sample.assign(file);
  korvalinde::detail::RawVector<double> got, split;
  std::vector<double> want;
  const std::string why = text_of(
      korvalinde::read_values(sample.fd(), {column, sep}, got));
  const std::string want_why = reference(file, column, sep, want);
  // In runs of lines on threads (runs of a few bytes): the same values and
  // the same first fault.
  sample.assign(file);
  const std::string split_why = text_of(korvalinde::read_values(
      sample.fd(), {column, sep}, split, 3, 1 + (data[0] >> 6) * 7));
  if (split_why != why || split.size() != got.size() ||
      (!got.empty() && std::memcmp(got.data(), split.data(),
                                   got.size() * sizeof(double)) != 0))
    fuzz::fail("column %d, separator %d: in runs '%s' and %zu values, in one "
               "pass '%s' and %zu",
               column, sep, fuzz::shown(split_why).c_str(), split.size(),
               fuzz::shown(why).c_str(), got.size());
  if (why != want_why)
    fuzz::fail("column %d, separator %d: '%s'; the reference: '%s'", column,
               sep, fuzz::shown(why).c_str(), fuzz::shown(want_why).c_str());
  if (why.empty() &&
      (got.size() != want.size() ||
       (!got.empty() && std::memcmp(got.data(), want.data(),
                                    got.size() * sizeof(double)) != 0)))
    fuzz::fail("column %d, separator %d: %zu values, the reference %zu or "
               "other values",
               column, sep, got.size(), want.size());
  return 0;
}
