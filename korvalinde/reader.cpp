#include "korvalinde/reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "korvalinde/blocks.hpp"
#include "korvalinde/sysfile.hpp"

namespace korvalinde {

double data0[kMaxSamples];

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Checks the token against the sample grammar; returns the position of the
// exponent letter (or npos) through `exp_at`.
bool well_formed(std::string_view t, std::size_t& exp_at) {
  std::size_t i = 0, n = t.size();
  if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < n && is_digit(t[i])) ++i, ++digits;
  if (i < n && t[i] == '.') {
    ++i;
    while (i < n && is_digit(t[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  exp_at = std::string_view::npos;
  if (i < n && (t[i] == 'E' || t[i] == 'e' || t[i] == 'D' || t[i] == 'd')) {
    exp_at = i++;
    if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t edigits = 0;
    while (i < n && is_digit(t[i])) ++i, ++edigits;
    if (edigits == 0) return false;
  }
  return i == n;
}

// Reads the sample file through a fixed buffer, one line's first token at a
// time. Lines of any length cost no memory beyond the buffer.
class SampleSource {
 public:
  void reset(int fd) {
    fd_ = fd;
    beg_ = end_ = 0;
  }

  enum class Next { Value, Bad, End };

  Next next(double& value) {
    for (;;) {
      // Blanks, tabs and empty lines before the value.
      for (;;) {
        if (beg_ == end_ && !fill()) return Next::End;
        char c = buf_[beg_];
        if (c != ' ' && c != '\t' && c != '\n') break;
        ++beg_;
      }
      // The token runs to a blank, tab, comma, slash or line end.
      std::size_t i = beg_;
      for (;;) {
        while (i < end_ && !terminates(buf_[i])) ++i;
        if (i < end_) break;
        if (beg_ == 0 && end_ == sizeof buf_) return Next::Bad;  // a token longer than the buffer
        const std::size_t offset = i - beg_;
        const bool more = fill();
        i = beg_ + offset;
        if (!more) break;
      }
      const char term = i < end_ ? buf_[i] : '\n';
      std::string_view token(buf_ + beg_, i - beg_);
      if (term == '\n' && !token.empty() && token.back() == '\r') token.remove_suffix(1);
      if (token.empty()) {
        if (term == ',' || term == '/') return Next::Bad;  // a null value
        beg_ = i;                                           // a line of "\r" alone
        continue;
      }
      const bool ok = parse_sample(token, value);
      beg_ = i;
      skip_line();
      return ok ? Next::Value : Next::Bad;
    }
  }

 private:
  static bool terminates(char c) {
    return c == ' ' || c == '\t' || c == ',' || c == '/' || c == '\n';
  }

  // Moves the unread bytes to the front and reads more; false at end of file.
  bool fill() {
    if (beg_ > 0) {
      std::memmove(buf_, buf_ + beg_, end_ - beg_);
      end_ -= beg_;
      beg_ = 0;
    }
    if (end_ == sizeof buf_) return true;
    ssize_t got;
    do {
      got = ::read(fd_, buf_ + end_, sizeof buf_ - end_);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) return false;
    end_ += static_cast<std::size_t>(got);
    return true;
  }

  // Passes over the rest of the current line, its line end included.
  void skip_line() {
    for (;;) {
      const void* nl = std::memchr(buf_ + beg_, '\n', end_ - beg_);
      if (nl != nullptr) {
        beg_ = static_cast<std::size_t>(static_cast<const char*>(nl) - buf_) + 1;
        return;
      }
      beg_ = end_;
      if (!fill()) return;
    }
  }

  int fd_ = -1;
  char buf_[1 << 16];
  std::size_t beg_ = 0, end_ = 0;
};

}  // namespace

bool parse_sample(std::string_view token, double& value) {
  std::size_t exp_at;
  if (!well_formed(token, exp_at)) return false;
  if (token[0] == '+') token.remove_prefix(1), exp_at -= exp_at != std::string_view::npos;
  const char* first = token.data();
  char local[64];
  std::string copy;
  if (exp_at != std::string_view::npos && (token[exp_at] == 'D' || token[exp_at] == 'd')) {
    // from_chars knows E only: spell the exponent letter as E.
    char* p = local;
    if (token.size() > sizeof local) {
      copy.assign(token);
      p = copy.data();
    } else {
      std::memcpy(local, token.data(), token.size());
    }
    p[exp_at] = 'E';
    first = p;
  }
  const char* last = first + token.size();
  auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // Overflow is refused; an underflow rounds to a subnormal or zero.
    std::string text(first, last);
    value = std::strtod(text.c_str(), nullptr);
    return std::isfinite(value);
  }
  return ec == std::errc() && ptr == last && std::isfinite(value);
}

void ini_data(int& status, Message& message, const std::string& name, int& count) {
  int fd = open_existing(name);
  if (fd < 0) {
    status = kCannotOpen;
    message.set("-9900 CAN NOT OPEN FITTING DATA");
    return;
  }
  count = 0;
  static SampleSource source;  // its 64 KiB buffer stays off the stack
  source.reset(fd);
  for (;;) {
    double value = 0;
    SampleSource::Next got = source.next(value);
    if (got == SampleSource::Next::End) break;
    if (got == SampleSource::Next::Bad) {
      status = kReadingError;
      message.set("-9500 READING ERROR in FITTING DATA");
      ::close(fd);
      return;
    }
    if (++count > kMaxSamples) {
      status = kTooManySamples;
      message.set("-9000 NUMBER OF FITTING DATA > 10000");
      ::close(fd);
      return;
    }
    data0[count - 1] = value;
  }
  ::close(fd);
}

}  // namespace korvalinde
