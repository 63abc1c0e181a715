// Fuzz target: the sample reader. The first byte chooses how often the rest
// is repeated to make the sample file (so that files outgrow the reader's
// 64 KiB buffer); the file is read with ini_data through a memory file and
// compared value for value with a plain reference reading of the same bytes.
// parse_sample also gets the raw lines as tokens, against a reference parse.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/support.hpp"
#include "korvalinde/blocks.hpp"
#include "korvalinde/message.hpp"
#include "korvalinde/reader.hpp"

namespace {

// A token longer than this cannot be read and counts as a bad value.
constexpr std::size_t kLongestToken = (1u << 16) - 1;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The sample grammar, checked step by step, then the C library's conversion.
bool reference_parse(std::string_view t, double& value) {
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

void check_parse(std::string_view token) {
  double got = 0, want = 0;
  const bool ok = korvalinde::parse_sample(token, got);
  const bool ref = reference_parse(token, want);
  if (ok != ref)
    fuzz::fail("parse_sample('%s') %s, the reference %s", fuzz::shown(token).c_str(),
               ok ? "accepts" : "refuses", ref ? "accepts" : "refuses");
  if (ok && std::memcmp(&got, &want, sizeof got) != 0)
    fuzz::fail("parse_sample('%s') = %.17g, the reference %.17g", fuzz::shown(token).c_str(), got,
               want);
}

enum class Outcome { Ok, Bad, TooMany };

// The sample file read the plain way: the whole text at once.
Outcome reference_read(std::string_view f, double* values, int& count) {
  const auto terminates = [](char c) {
    return c == ' ' || c == '\t' || c == ',' || c == '/' || c == '\n';
  };
  count = 0;
  std::size_t pos = 0;
  for (;;) {
    while (pos < f.size() && (f[pos] == ' ' || f[pos] == '\t' || f[pos] == '\n')) ++pos;
    if (pos == f.size()) return Outcome::Ok;
    std::size_t end = pos;
    while (end < f.size() && !terminates(f[end])) ++end;
    if (end - pos > kLongestToken) return Outcome::Bad;
    const char term = end < f.size() ? f[end] : '\n';
    std::string_view token = f.substr(pos, end - pos);
    if (term == '\n' && !token.empty() && token.back() == '\r') token.remove_suffix(1);
    if (token.empty()) {
      if (term == ',' || term == '/') return Outcome::Bad;
      pos = end;
      continue;
    }
    double v;
    if (!reference_parse(token, v)) return Outcome::Bad;
    if (count == korvalinde::kMaxSamples) {
      count = korvalinde::kMaxSamples + 1;
      return Outcome::TooMany;
    }
    values[count++] = v;
    const std::size_t nl = f.find('\n', end);
    pos = nl == std::string_view::npos ? f.size() : nl + 1;
  }
}

std::string padded(std::string_view text) {
  std::string s(text);
  s.resize(korvalinde::Message::kWidth, ' ');
  return s;
}

double expected_values[korvalinde::kMaxSamples];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const int kRepeats[] = {1, 3, 17, 41};
  const int repeats = kRepeats[data[0] & 3];
  const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);

  // Raw tokens: the whole body and each of its lines.
  if (body.size() <= 4096) {
    check_parse(body);
    for (std::size_t at = 0; at <= body.size();) {
      std::size_t nl = body.find('\n', at);
      if (nl == std::string_view::npos) nl = body.size();
      check_parse(body.substr(at, nl - at));
      at = nl + 1;
    }
  }

  std::string file;
  file.reserve(body.size() * static_cast<std::size_t>(repeats));
  for (int k = 0; k < repeats; ++k) file.append(body);
  static fuzz::MemFile sample("sample");
  sample.assign(file);

  int status = 0, count = -1;
  korvalinde::Message message;
  message.set("untouched");
  korvalinde::ini_data(status, message, sample.path(), count);

  int want_count = 0;
  const Outcome want = reference_read(file, expected_values, want_count);
  const char* want_text = "untouched";
  int want_status = 0;
  if (want == Outcome::Bad) {
    want_status = korvalinde::kReadingError;
    want_text = "-9500 READING ERROR in FITTING DATA";
  } else if (want == Outcome::TooMany) {
    want_status = korvalinde::kTooManySamples;
    want_text = "-9000 NUMBER OF FITTING DATA > 10000";
  }
  if (status != want_status || count != want_count || message.view() != padded(want_text))
    fuzz::fail("ini_data: status %d count %d message '%.100s'; the reference: status %d count %d",
               status, count, message.text, want_status, want_count);
  if (want == Outcome::Ok) {
    for (int i = 0; i < count; ++i) {
      if (std::memcmp(&korvalinde::data0[i], &expected_values[i], sizeof(double)) != 0)
        fuzz::fail("ini_data: sample %d is %.17g, the reference %.17g", i + 1,
                   korvalinde::data0[i], expected_values[i]);
    }
  }
  return 0;
}
