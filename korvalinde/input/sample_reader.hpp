// The sample reader of both interfaces: one value per line, taken from a
// chosen field, read from a descriptor through a buffer the caller owns, so
// that lines of any length cost no memory beyond it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace korvalinde {

// Whether `c` can separate fields: not a character of a number, nor a line
// end or a NUL.
constexpr bool separator_allowed(char c) {
  return c != '\0' && c != '\n' && c != '\r' &&
         std::string_view("0123456789.+-eEdD").find(c) == std::string_view::npos;
}

struct FieldSpec {
  int column = 1;  // 1-based field of each line
  // 0: fields end at blanks, tabs and commas, and a slash ends the line's
  // values (the classic rule). ' ': a run of blanks and tabs separates
  // fields. Otherwise fields are separated by exactly this character, with
  // blanks around a field ignored.
  char sep = 0;
  bool bom = false;  // a UTF-8 byte-order mark opening the input is passed over
};

class SampleReader {
 public:
  // Size of the buffer the caller lends; the longest token that can be read.
  static constexpr std::size_t kBufferSize = std::size_t{1} << 16;
  static constexpr std::size_t kBufferBytes = kBufferSize + 8;
  static constexpr std::size_t kTokenShown = 64;

  // Reads `fd` (left open) after the bytes of `prefix`, which must outlive
  // the reader; with a negative `fd`, the prefix alone. `buffer` must hold
  // kBufferBytes.
  SampleReader(int fd, std::span<char> buffer, FieldSpec fields = {}, std::string_view prefix = {});

  enum class Next {
    Value,    // a value was read
    Bad,      // the field is not a number (or is empty, or too long: then
              // the reading ends there, and the next call returns End)
    Missing,  // the line has no such field
    Error,    // reading failed: error() is the errno
    End,      // end of input
  };
  Next next(double& value);

  // After Bad or Missing: the 1-based line, the 1-based field at fault (the
  // first one absent for Missing) and the token (at most kTokenShown
  // characters, control characters shown as '?').
  std::uint64_t line() const { return bad_line_; }
  int field() const { return bad_field_; }
  std::string_view token() const { return {shown_, shown_len_}; }
  bool token_cut() const { return token_cut_; }
  bool token_has_cr() const { return token_cr_; }  // a carriage return in the shown token
  int error() const { return error_; }

 private:
  bool fill();
  Next quick_value(double& value);
  void skip_line();
  void skip_byte_order_mark();
  bool line_ends_here();
  bool skip_blanks_in_line();
  std::size_t token_end(std::size_t i) const;
  bool token_at(std::size_t& end);
  void show(std::string_view token);
  std::string field_after_value();

  int fd_;
  char* buf_;
  FieldSpec fields_;
  std::string_view prefix_;
  std::size_t beg_ = 0, end_ = 0;
  bool eof_ = false;
  bool stopped_ = false;  // after a token too long
  bool started_ = false;
  int error_ = 0;
  std::uint64_t line_ = 0;      // line ends passed so far
  std::uint64_t bad_line_ = 0;  // line of the last Bad or Missing
  int bad_field_ = 0;           // and its field
  char shown_[kTokenShown];
  std::size_t shown_len_ = 0;
  bool token_cut_ = false;
  bool token_cr_ = false;
};

}  // namespace korvalinde

#include <sys/stat.h>

#include <optional>
#include <string>

#include "korvalinde/detail/uninit.hpp"
#include "korvalinde/records/input_error.hpp"

namespace korvalinde {

// Opens an existing file for reading: the descriptor, or minus the errno
// (EISDIR for a directory, EINVAL for a name with a NUL byte, which would
// open a shorter, different name). `id` (when given) receives its status.
int open_sample(const std::string& name, struct stat* id = nullptr);

// Bytes of a regular file below which it is read on one thread, and the
// least share of each thread.
inline constexpr std::size_t kParallelReadBytes = std::size_t{1} << 20;

// Reads every value of `fd` into `out` (appended). Returns nothing, or the
// first fault in file order, without its file name: its 1-based line and
// field, code "not_a_number" ("'abc' is not a number") or "no_column" ("no
// value in column K"), line 0 and code "io" with the system's text for a
// read error, or line 0 and code "changed" when a regular file changed
// while it was read. The values before the fault are kept.
//
// A regular file of at least `least` bytes is copied in with pread, a
// window of 16 * `least` bytes at a time, and each window is read in runs
// of whole lines on up to `threads` threads; values, their order and the
// fault are those of reading it in one pass. Each run writes its values in
// place, into address space of 8 bytes a line of the window of which only
// the values' part is touched. Anything else (a pipe, a terminal, no
// address space for a value a line) and what follows a line longer than a
// window is read in one pass through a 64 KiB buffer, with 8 bytes a value
// and twice that for a moment at the end.
std::optional<InputError> read_values(int fd, FieldSpec fields, detail::RawVector<double>& out,
                                      unsigned threads = 1,
                                      std::size_t least = kParallelReadBytes);

}  // namespace korvalinde
