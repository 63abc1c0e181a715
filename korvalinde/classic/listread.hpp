// List-directed reading of the control input: values separated by blanks,
// commas or line ends, read one statement at a time through a fixed buffer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace korvalinde {

struct ListItem;
struct ListResult;

// Character source of the reader: a file descriptor read through a fixed
// buffer, or text held in memory. A carriage return right before a line end
// (or before the end of input) is dropped, so CRLF input reads like LF.
class ListInput {
 public:
  static constexpr int kEnd = -1;  // returned at the end of input
  static constexpr std::size_t kBufferSize = 4096;

  // Reads `fd`, which stays open and owned by the caller.
  explicit ListInput(int fd);
  // Reads `memory`, which must outlive the reader (so a temporary string may not).
  explicit ListInput(std::string_view memory);
  template <class T>
  requires std::is_same_v<T, std::string>
  explicit ListInput(T&&) = delete;
  ListInput(const ListInput&) = delete;
  ListInput& operator=(const ListInput&) = delete;

  // Next character (0..255) or kEnd; peek() leaves it to be read again.
  int peek();
  int get();
  // errno of a failed read, 0 if none.
  int error() const { return error_; }

  // Ends the current statement as the next one would (the rest of its line
  // is skipped) and returns the bytes read ahead beyond that line, which
  // belong to whoever reads the descriptor next.
  std::string_view rest_after_line();

 private:
  friend ListResult read_list(ListInput& in, std::span<const ListItem> items);

  int next();  // next character after carriage-return folding
  int raw_peek();
  bool fill();

  int fd_ = -1;
  const char* data_ = nullptr;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool done_ = false;  // no more data will come from fd_
  int error_ = 0;
  int ahead_ = kEnd;  // one character of lookahead for peek()
  bool has_ahead_ = false;
  bool skip_line_ = false;  // a statement ended: skip the rest of its line first
  std::array<char, kBufferSize> buffer_{};
};

// One item of a read statement: where the value goes. A text item keeps at
// most `keep` characters of its value; the rest is read and dropped, and
// `cut` (when given) tells whether anything but blanks was dropped.
struct ListItem {
  enum class Kind { Text, Int, Real };
  Kind kind = Kind::Text;
  std::string* text = nullptr;
  std::size_t keep = std::string::npos;
  std::int32_t* integer = nullptr;
  double* real = nullptr;
  bool* cut = nullptr;

  static ListItem of_text(std::string& s, std::size_t keep = std::string::npos,
                          bool* cut = nullptr) {
    return {Kind::Text, &s, keep, nullptr, nullptr, cut};
  }
  static ListItem of_int(std::int32_t& v) { return {Kind::Int, nullptr, 0, &v, nullptr}; }
  static ListItem of_real(double& v) { return {Kind::Real, nullptr, 0, nullptr, &v}; }
};

// Outcome of one read statement. `item` is the 1-based position of the item
// that failed (0 when Ok). `token` is the offending text for BadInteger and
// BadReal (at most kTokenShown characters, control characters shown as '?'),
// the system's error text for ReadError, empty otherwise.
struct ListResult {
  enum class Status { Ok, EndOfInput, BadInteger, BadReal, ReadError };
  static constexpr std::size_t kTokenShown = 64;
  Status status = Status::Ok;
  int item = 0;
  std::string token;
};

// Reads one statement: starts on a fresh line (the rest of the line where
// the previous statement ended is skipped) and fills `items` in order.
// A null value (a comma right after another comma or at the start) and a
// slash (ends the statement) leave items unchanged. Stops at the first
// failure; items already read keep their new values.
ListResult read_list(ListInput& in, std::span<const ListItem> items);

}  // namespace korvalinde
