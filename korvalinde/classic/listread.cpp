// List-directed reading of the control input.
#include "korvalinde/classic/listread.hpp"

#include "korvalinde/input/number.hpp"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <system_error>

namespace korvalinde {

// --- character source ----------------------------------------------------------

ListInput::ListInput(int fd) : fd_(fd) {}

ListInput::ListInput(std::string_view memory)
    : data_(memory.data()), end_(memory.size()), done_(true) {}

bool ListInput::fill() {
  while (!done_) {
    const ssize_t n = ::read(fd_, buffer_.data(), buffer_.size());
    if (n > 0) {
      data_ = buffer_.data();
      pos_ = 0;
      end_ = static_cast<std::size_t>(n);
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error_ = errno;
    done_ = true;
  }
  return false;
}

int ListInput::raw_peek() {
  if (pos_ == end_ && !fill()) return kEnd;
  return static_cast<unsigned char>(data_[pos_]);
}

int ListInput::next() {
  const int c = raw_peek();
  if (c == kEnd) return kEnd;
  ++pos_;
  if (c == '\r') {
    const int after = raw_peek();
    if (after == '\n') {
      ++pos_;
      return '\n';
    }
    if (after == kEnd) return kEnd;
  }
  return c;
}

int ListInput::peek() {
  if (!has_ahead_) {
    ahead_ = next();
    has_ahead_ = true;
  }
  return ahead_;
}

int ListInput::get() {
  const int c = peek();
  has_ahead_ = false;
  return c;
}

std::string_view ListInput::rest_after_line() {
  if (skip_line_) {
    for (int c = get(); c != '\n' && c != kEnd; c = get()) {
    }
    skip_line_ = false;
  }
  if (pos_ >= end_) return {};
  return {data_ + pos_, end_ - pos_};
}

// --- values ------------------------------------------------------------------------

namespace {

using Status = ListResult::Status;

// Longest numeric token that is parsed; a longer one is reported as bad.
constexpr std::size_t kNumberMax = 1024;

bool is_blank(int c) { return c == ' ' || c == '\t' || c == '\n'; }

// Ends an unquoted value (and a numeric token).
bool ends_value(int c) { return is_blank(c) || c == ',' || c == '/' || c == ListInput::kEnd; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

void skip_blanks(ListInput& in) {
  while (is_blank(in.peek())) in.get();
}

ListResult failure(Status status, int item, std::string_view token) {
  ListResult r{status, item, std::string(token.substr(0, ListResult::kTokenShown))};
  for (char& c : r.token) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return r;
}

ListResult end_of_input(const ListInput& in, int item) {
  if (in.error() != 0) return failure(Status::ReadError, item, std::strerror(in.error()));
  return failure(Status::EndOfInput, item, {});
}

bool equals_nocase(std::string_view s, std::string_view lower) {
  if (s.size() != lower.size()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = (s[i] >= 'A' && s[i] <= 'Z') ? static_cast<char>(s[i] - 'A' + 'a') : s[i];
    if (c != lower[i]) return false;
  }
  return true;
}

// Optional sign and digits, within the 32-bit range.
bool parse_int(std::string_view s, std::int32_t& out) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i == s.size()) return false;
  const std::int64_t limit = negative ? std::int64_t{1} << 31 : (std::int64_t{1} << 31) - 1;
  std::int64_t v = 0;
  for (; i < s.size(); ++i) {
    if (!is_digit(s[i])) return false;
    v = v * 10 + (s[i] - '0');
    if (v > limit) return false;
  }
  out = static_cast<std::int32_t>(negative ? -v : v);
  return true;
}

// Optional sign, digits with an optional point, optional exponent introduced
// by E, e, D or d; or Inf, Infinity, NaN in any case. Rounded correctly.
bool parse_real(std::string_view s, double& out) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  const std::string_view word = s.substr(i);
  if (equals_nocase(word, "inf") || equals_nocase(word, "infinity")) {
    out = negative ? -std::numeric_limits<double>::infinity()
                   : std::numeric_limits<double>::infinity();
    return true;
  }
  if (equals_nocase(word, "nan")) {
    out = negative ? -std::numeric_limits<double>::quiet_NaN()
                   : std::numeric_limits<double>::quiet_NaN();
    return true;
  }

  return parse_decimal(s, out);
}

// Reads a numeric token up to the next separator and stores it in `item`.
ListResult read_number(ListInput& in, const ListItem& item, int index) {
  char token[kNumberMax];
  std::size_t length = 0;
  bool too_long = false;
  while (!ends_value(in.peek())) {
    const char c = static_cast<char>(in.get());
    if (length < kNumberMax) {
      token[length++] = c;
    } else {
      too_long = true;
    }
  }
  const std::string_view s(token, length);
  if (item.kind == ListItem::Kind::Int) {
    if (too_long || !parse_int(s, *item.integer)) return failure(Status::BadInteger, index, s);
  } else {
    if (too_long || !parse_real(s, *item.real)) return failure(Status::BadReal, index, s);
  }
  return {};
}

// Reads a text value, quoted or not, keeping at most item.keep characters.
ListResult read_text(ListInput& in, const ListItem& item, int index) {
  std::string& text = *item.text;
  text.clear();
  if (item.cut != nullptr) *item.cut = false;
  const auto store = [&](int c) {
    if (text.size() < item.keep) {
      text.push_back(static_cast<char>(c));
    } else if (c != ' ' && item.cut != nullptr) {
      *item.cut = true;
    }
  };
  const int quote = in.peek();
  if (quote != '\'' && quote != '"') {
    while (!ends_value(in.peek())) store(in.get());
    return {};
  }
  in.get();
  for (;;) {
    const int c = in.get();
    if (c == ListInput::kEnd) return end_of_input(in, index);
    if (c == '\n') continue;  // a quoted text goes on at the next line
    if (c == quote) {
      if (in.peek() != quote) return {};
      in.get();  // a doubled quote stands for one
    }
    store(c);
  }
}

}  // namespace

// --- statements ----------------------------------------------------------------------

ListResult read_list(ListInput& in, std::span<const ListItem> items) {
  if (in.skip_line_) {
    for (int c = in.get(); c != '\n' && c != ListInput::kEnd; c = in.get()) {
    }
  }
  in.skip_line_ = true;

  // Blanks, line ends and at most one comma between two values make one
  // separator; a further comma (or one before the first value) is a null.
  bool comma_allowed = false;
  for (std::size_t k = 0; k < items.size(); ++k) {
    const int index = static_cast<int>(k) + 1;
    skip_blanks(in);
    if (in.peek() == ',' && comma_allowed) {
      in.get();
      skip_blanks(in);
    }
    comma_allowed = false;
    const int c = in.peek();
    if (c == ListInput::kEnd) return end_of_input(in, index);
    if (c == '/') {
      in.get();
      return {};
    }
    if (c == ',') {
      in.get();
      continue;
    }
    const ListItem& item = items[k];
    ListResult r = item.kind == ListItem::Kind::Text ? read_text(in, item, index)
                                                     : read_number(in, item, index);
    if (r.status != Status::Ok) return r;
    comma_allowed = true;
  }
  return {};
}

}  // namespace korvalinde
