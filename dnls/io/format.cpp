#include "dnls/io/format.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "dnls/io/units.hpp"

namespace dnls::fmt {
namespace {

void fill(char* out, int w, char c) { std::memset(out, c, static_cast<std::size_t>(w)); }

// Right-justifies text[0..n) in a field of w characters; asterisks when it
// does not fit.
void justify(char* out, int w, const char* text, int n) {
  if (n > w) {
    fill(out, w, '*');
    return;
  }
  fill(out, w - n, ' ');
  std::memcpy(out + (w - n), text, static_cast<std::size_t>(n));
}

// Infinity and NaN as words; the short form when the long one does not fit.
void put_special(char* out, int w, double v) {
  if (std::isnan(v)) {
    justify(out, w, "NaN", 3);
    return;
  }
  const bool neg = v < 0;
  const char* word = neg ? "-Infinity" : "Infinity";
  int n = neg ? 9 : 8;
  if (n > w) {
    word = neg ? "-Inf" : "Inf";
    n = neg ? 4 : 3;
  }
  justify(out, w, word, n);
}

// Builds one record at a time from the layout and hands it to the sink.
class Interpreter {
 public:
  Interpreter(std::span<const Arg> values, RecordSink sink, void* context)
      : values_(values), sink_(sink), context_(context) {}

  void run(std::string_view layout) {
    // The layout is enclosed in parentheses; its body is the outermost group.
    std::size_t open = layout.find('(');
    std::size_t close = layout.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) return;
    items(layout.substr(open + 1, close - open - 1));
    end_record();
  }

 private:
  // Processes a comma-separated list of items; returns false once the values
  // ran out at a numeric or text item (the write then ends).
  bool items(std::string_view list) {
    std::size_t i = 0;
    while (i < list.size()) {
      char c = list[i];
      if (c == ' ' || c == ',') {
        ++i;
        continue;
      }
      if (c == '/') {
        end_record();
        ++i;
        continue;
      }
      if (c == '\'') {
        i = literal(list, i);
        continue;
      }
      int count = 1;
      bool counted = false;
      if (c >= '0' && c <= '9') {
        count = number(list, i);
        counted = true;
      }
      char d = upper(at(list, i));
      if (d == '(') {
        std::size_t end = matching(list, i);
        for (int k = 0; k < count; ++k) {
          if (!items(list.substr(i + 1, end - i - 1))) return false;
        }
        i = end + 1;
      } else if (d == 'X') {
        pending_ += counted ? count : 1;
        ++i;
      } else if (d == 'P') {
        scale_ = counted ? count : 0;
        ++i;
      } else if (d == 'F' || d == 'E' || d == 'I' || d == 'A') {
        ++i;
        int w = -1, dd = 0;
        if (is_digit(at(list, i))) w = number(list, i);
        if (at(list, i) == '.') {
          ++i;
          dd = number(list, i);
        }
        for (int k = 0; k < count; ++k) {
          if (!field(d, w, dd)) return false;
        }
      } else {
        ++i;  // unknown character: ignored
      }
    }
    return true;
  }

  bool field(char kind, int w, int d) {
    if (next_ >= values_.size()) return false;
    const Arg& a = values_[next_++];
    if (kind == 'A') {
      std::string_view t = a.kind == Arg::Kind::Text ? a.text : std::string_view();
      if (w < 0) {
        append(t.data(), t.size());
      } else if (static_cast<int>(t.size()) >= w) {
        append(t.data(), static_cast<std::size_t>(w));
      } else {
        char buf[kMaxRecord];
        int n = w < static_cast<int>(sizeof buf) ? w : static_cast<int>(sizeof buf);
        justify(buf, n, t.data(), static_cast<int>(t.size()));
        append(buf, static_cast<std::size_t>(n));
      }
      return true;
    }
    if (w <= 0) return true;
    char buf[kMaxRecord];
    if (w > static_cast<int>(sizeof buf)) w = static_cast<int>(sizeof buf);
    double real = a.kind == Arg::Kind::Int ? static_cast<double>(a.integer) : a.real;
    if (kind == 'F') put_F(buf, w, d, real);
    if (kind == 'E') put_PE(buf, scale_, w, d, real);
    if (kind == 'I') put_I(buf, w, a.kind == Arg::Kind::Int ? a.integer
                                                             : static_cast<std::int64_t>(a.real));
    append(buf, static_cast<std::size_t>(w));
    return true;
  }

  std::size_t literal(std::string_view list, std::size_t i) {
    ++i;  // opening apostrophe
    while (i < list.size()) {
      if (list[i] == '\'') {
        if (i + 1 < list.size() && list[i + 1] == '\'') {
          append("'", 1);
          i += 2;
          continue;
        }
        return i + 1;
      }
      std::size_t end = list.find('\'', i);
      if (end == std::string_view::npos) end = list.size();
      append(list.data() + i, end - i);
      i = end;
    }
    return i;
  }

  void append(const char* s, std::size_t n) {
    for (; pending_ > 0 && len_ < kMaxRecord; --pending_) record_[len_++] = ' ';
    pending_ = 0;
    if (n > kMaxRecord - len_) n = kMaxRecord - len_;
    std::memcpy(record_ + len_, s, n);
    len_ += n;
  }

  // Blanks pending at the end of a record are dropped, unless they are all
  // the record holds: "(1X)" writes a record of one blank.
  void end_record() {
    if (len_ == 0 && pending_ > 0) append("", 0);
    pending_ = 0;
    sink_(context_, std::string_view(record_, len_));
    len_ = 0;
  }

  static char at(std::string_view s, std::size_t i) { return i < s.size() ? s[i] : '\0'; }
  static bool is_digit(char c) { return c >= '0' && c <= '9'; }
  static char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
  static int number(std::string_view s, std::size_t& i) {
    int v = 0;
    while (is_digit(at(s, i))) v = v * 10 + (s[i++] - '0');
    return v;
  }
  static std::size_t matching(std::string_view s, std::size_t open) {
    int depth = 0;
    bool quoted = false;
    for (std::size_t i = open; i < s.size(); ++i) {
      if (s[i] == '\'') quoted = !quoted;
      if (quoted) continue;
      if (s[i] == '(') ++depth;
      if (s[i] == ')' && --depth == 0) return i;
    }
    return s.size();
  }

  std::span<const Arg> values_;
  std::size_t next_ = 0;
  RecordSink sink_;
  void* context_;
  char record_[kMaxRecord];
  std::size_t len_ = 0;
  int pending_ = 0;
  int scale_ = 0;
};

void to_unit(void* context, std::string_view record) {
  io::write_record(*static_cast<int*>(context), record);
}

struct Buffer {
  char* out;
  std::size_t cap;
  std::size_t len;
  bool done;
};

void to_buffer(void* context, std::string_view record) {
  auto* b = static_cast<Buffer*>(context);
  if (b->done) return;
  b->len = record.size() < b->cap ? record.size() : b->cap;
  std::memcpy(b->out, record.data(), b->len);
  b->done = true;
}

}  // namespace

// Numbers are converted with std::to_chars, which does not depend on the
// locale (a host program may set one with a decimal comma) and rounds exactly
// like printf in the C locale: from the exact binary value to nearest, exact
// ties to even.

void put_F(char* out, int w, int d, double v) {
  if (!std::isfinite(v)) {
    put_special(out, w, v);
    return;
  }
  // 309 integer digits, the point and 100 decimals at most.
  char buf[512];
  if (d > 100) d = 100;
  int n = static_cast<int>(
      std::to_chars(buf, buf + sizeof buf - 1, v, std::chars_format::fixed, d).ptr - buf);
  if (d == 0) buf[n++] = '.';
  char* s = buf;
  // A leading zero before the point is dropped when the field has no room.
  if (n > w) {
    if (s[0] == '0' && s[1] == '.') {
      ++s;
      --n;
    } else if (s[0] == '-' && s[1] == '0' && s[2] == '.') {
      s[1] = '-';
      ++s;
      --n;
    }
  }
  justify(out, w, s, n);
}

void put_I(char* out, int w, std::int64_t v) {
  char buf[24];
  const int n = static_cast<int>(std::to_chars(buf, buf + sizeof buf, v).ptr - buf);
  justify(out, w, buf, n);
}

void put_PE(char* out, int k, int w, int d, double v) {
  if (!std::isfinite(v)) {
    put_special(out, w, v);
    return;
  }
  if (d > 100) d = 100;
  // k digits before the point: significant digits are d + 1 for k = 1 and d
  // for k = 0 (0.ddd form).
  const int sig = k > 0 ? d + 1 : d;
  if (sig < 1) {
    fill(out, w, '*');
    return;
  }
  char buf[160];
  const char* end =
      std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, sig - 1).ptr;
  // buf: [-]D[.DDD]e(+|-)XX[X]
  const char* p = buf;
  bool neg = *p == '-';
  if (neg) ++p;
  char digits[128];
  int nd = 0;
  for (; *p != 'e'; ++p) {
    if (*p != '.') digits[nd++] = *p;
  }
  int exponent = 0;
  std::from_chars(p + (p[1] == '+' ? 2 : 1), end, exponent);
  if (v != 0) exponent += 1 - (k > 0 ? k : 0);
  char text[192];
  int n = 0;
  if (neg) text[n++] = '-';
  if (k > 0) {
    text[n++] = digits[0];
    text[n++] = '.';
    for (int i = 1; i < nd; ++i) text[n++] = digits[i];
  } else {
    text[n++] = '0';
    text[n++] = '.';
    for (int i = 0; i < nd; ++i) text[n++] = digits[i];
  }
  // Two exponent digits after E; a three-digit exponent drops the E.
  int mag = exponent < 0 ? -exponent : exponent;
  if (mag <= 99) text[n++] = 'E';
  text[n++] = exponent < 0 ? '-' : '+';
  if (mag > 99) text[n++] = static_cast<char>('0' + mag / 100);
  text[n++] = static_cast<char>('0' + mag / 10 % 10);
  text[n++] = static_cast<char>('0' + mag % 10);
  // Drop the optional leading zero of the 0.ddd form when the field is tight.
  if (n > w && k <= 0) {
    char* z = text + (neg ? 1 : 0);
    if (z[0] == '0') {
      std::memmove(z, z + 1, static_cast<std::size_t>(n - (z - text) - 1));
      --n;
    }
  }
  justify(out, w, text, n);
}

void render(std::string_view layout, std::span<const Arg> values, RecordSink sink, void* context) {
  Interpreter(values, sink, context).run(layout);
}

void write(int unit, std::string_view layout, std::initializer_list<Arg> values) {
  render(layout, std::span<const Arg>(values.begin(), values.size()), &to_unit, &unit);
}

void write_free(int unit, std::string_view text) {
  char record[kMaxRecord];
  std::size_t n = text.size() < kMaxRecord - 1 ? text.size() : kMaxRecord - 1;
  record[0] = ' ';
  std::memcpy(record + 1, text.data(), n);
  io::write_record(unit, std::string_view(record, n + 1));
}

std::size_t format_to(char* out, std::size_t cap, std::string_view layout,
                      std::initializer_list<Arg> values) {
  Buffer b{out, cap, 0, false};
  render(layout, std::span<const Arg>(values.begin(), values.size()), &to_buffer, &b);
  return b.len;
}

}  // namespace dnls::fmt
