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

#include "fuzz/reference.hpp"
#include "fuzz/support.hpp"
#include "korvalinde/classic/blocks.hpp"
#include "korvalinde/classic/message.hpp"
#include "korvalinde/classic/reader.hpp"

namespace {

void check_parse(std::string_view token) {
  double got = 0, want = 0;
  const bool ok = korvalinde::parse_sample(token, got);
  const bool ref = fuzz::reference_parse(token, want);
  if (ok != ref)
    fuzz::fail("parse_sample('%s') %s, the reference %s", fuzz::shown(token).c_str(),
               ok ? "accepts" : "refuses", ref ? "accepts" : "refuses");
  if (ok && std::memcmp(&got, &want, sizeof got) != 0)
    fuzz::fail("parse_sample('%s') = %.17g, the reference %.17g", fuzz::shown(token).c_str(), got,
               want);
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
  const fuzz::ReadOutcome want = fuzz::reference_read(file, expected_values, want_count);
  const char* want_text = "untouched";
  int want_status = 0;
  if (want == fuzz::ReadOutcome::Bad) {
    want_status = korvalinde::kReadingError;
    want_text = "-9500 READING ERROR in FITTING DATA";
  } else if (want == fuzz::ReadOutcome::TooMany) {
    want_status = korvalinde::kTooManySamples;
    want_text = "-9000 NUMBER OF FITTING DATA > 10000";
  }
  if (status != want_status || count != want_count || message.view() != padded(want_text))
    fuzz::fail("ini_data: status %d count %d message '%.100s'; the reference: status %d count %d",
               status, count, message.text, want_status, want_count);
  if (want == fuzz::ReadOutcome::Ok) {
    for (int i = 0; i < count; ++i) {
      if (std::memcmp(&korvalinde::data0[i], &expected_values[i], sizeof(double)) != 0)
        fuzz::fail("ini_data: sample %d is %.17g, the reference %.17g", i + 1, korvalinde::data0[i],
                   expected_values[i]);
    }
  }
  return 0;
}
