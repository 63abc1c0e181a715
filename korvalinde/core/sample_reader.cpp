#include "korvalinde/core/sample_reader.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "korvalinde/core/number.hpp"

namespace korvalinde {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

SampleReader::SampleReader(int fd, std::span<char> buffer, FieldSpec spec,
                           std::string_view prefix)
    : fd_(fd), buf_(buffer.data()), spec_(spec), prefix_(prefix) {
  buf_[0] = '\n';  // the sentinel behind the buffered bytes ends every scan
}

// Moves the unread bytes to the front and reads more: first what is left of
// the prefix, then the descriptor. False at the end of input or on an error.
bool SampleReader::fill() {
  if (beg_ > 0) {
    std::memmove(buf_, buf_ + beg_, end_ - beg_);
    end_ -= beg_;
    beg_ = 0;
  }
  if (end_ == kBufferSize) return true;
  std::size_t got = 0;
  if (!prefix_.empty()) {
    got = std::min(prefix_.size(), kBufferSize - end_);
    std::memcpy(buf_ + end_, prefix_.data(), got);
    prefix_.remove_prefix(got);
  } else if (!eof_) {
    ssize_t n;
    do {
      n = ::read(fd_, buf_ + end_, kBufferSize - end_);
    } while (n < 0 && errno == EINTR);
    if (n < 0) error_ = errno;
    if (n <= 0) eof_ = true;
    if (n > 0) got = static_cast<std::size_t>(n);
  }
  end_ += got;
  buf_[end_] = '\n';
  return got > 0;
}

// The first byte from i on that ends a token; the sentinel bounds the scan.
std::size_t SampleReader::token_end(std::size_t i) const {
  if (spec_.sep == 0) {
    for (;; ++i) {
      const char c = buf_[i];
      if (c == ' ' || c == '\t' || c == ',' || c == '/' || c == '\n') return i;
    }
  }
  for (;; ++i) {
    const char c = buf_[i];
    if (c == spec_.sep || c == ' ' || c == '\t' || c == '\n') return i;
  }
}

// Finds the token that starts at beg_; `end` receives its end. False when
// the token does not fit in the buffer.
bool SampleReader::token_at(std::size_t& end) {
  std::size_t i = beg_;
  for (;;) {
    i = token_end(i);
    if (i < end_) break;
    if (beg_ == 0 && end_ == kBufferSize) {
      end = i;
      return false;
    }
    const std::size_t offset = i - beg_;
    const bool more = fill();
    i = beg_ + offset;
    if (!more) break;
  }
  end = i;
  return true;
}

// Passes over blanks and tabs; false when the buffer ran dry.
bool SampleReader::skip_blanks_in_line() {
  for (;;) {
    while (is_blank(buf_[beg_])) ++beg_;
    if (beg_ < end_) return true;
    if (!fill()) return false;
  }
}

// Passes over the rest of the current line, its line end included.
void SampleReader::skip_line() {
  for (;;) {
    const void* nl = std::memchr(buf_ + beg_, '\n', end_ - beg_);
    if (nl != nullptr) {
      beg_ = static_cast<std::size_t>(static_cast<const char*>(nl) - buf_) + 1;
      ++line_;
      return;
    }
    beg_ = end_;
    if (!fill()) return;
  }
}

void SampleReader::show(std::string_view token) {
  shown_len_ = std::min(token.size(), kTokenShown);
  token_cut_ = token.size() > kTokenShown;
  for (std::size_t k = 0; k < shown_len_; ++k) {
    const auto c = static_cast<unsigned char>(token[k]);
    shown_[k] = c < 0x20 || c == 0x7f ? '?' : static_cast<char>(c);
  }
}

SampleReader::Next SampleReader::next(double& value) {
  const bool classic = spec_.sep == 0;
  for (;;) {
    // Blanks, tabs and empty lines before the line's first field.
    for (;;) {
      if (!skip_blanks_in_line()) return error_ != 0 ? Next::Error : Next::End;
      if (buf_[beg_] != '\n') break;
      ++beg_;
      ++line_;
    }
    const std::uint64_t line = line_ + 1;
    for (int field = 1;; ++field) {
      std::size_t i;
      const bool fits = token_at(i);
      if (error_ != 0) return Next::Error;
      const char term = i < end_ ? buf_[i] : '\n';
      std::string_view token(buf_ + beg_, i - beg_);
      if (!fits) {
        show(token);
        bad_line_ = line;
        skip_line();
        return Next::Bad;
      }
      if (term == '\n' && !token.empty() && token.back() == '\r') token.remove_suffix(1);
      const bool ends_line = term == '\n' || (classic && term == '/');

      if (field == spec_.column) {
        if (token.empty() && term == '\n' && field == 1) {  // a line of "\r" alone
          beg_ = i;
          skip_line();
          break;
        }
        Next got = parse_sample(token, value) ? Next::Value : Next::Bad;
        if (token.empty() && term == '\n') got = Next::Missing;
        if (got == Next::Value && !classic) {
          // Only blanks may stand between the value and the separator.
          beg_ = i;
          if (!skip_blanks_in_line() && error_ != 0) return Next::Error;
          const char c = beg_ < end_ ? buf_[beg_] : '\n';
          if (c != '\n' && c != spec_.sep) got = Next::Bad;
          i = beg_;
        }
        if (got != Next::Value) {
          show(token);
          bad_line_ = line;
        }
        if (i < end_ && buf_[i] == '\n') {
          beg_ = i + 1;  // the value ended the line
          ++line_;
        } else {
          beg_ = i;
          skip_line();
        }
        return got;
      }
      // Move to the next field.
      beg_ = i;
      if (ends_line) {
        show({});
        bad_line_ = line;
        skip_line();
        return Next::Missing;
      }
      if (!skip_blanks_in_line() && error_ != 0) return Next::Error;
      const char c = beg_ < end_ ? buf_[beg_] : '\n';
      const char sep = classic ? ',' : spec_.sep;
      if (c == sep) {
        ++beg_;
        if (!skip_blanks_in_line() && error_ != 0) return Next::Error;
      } else if (!classic || c == '\n' || c == '/') {
        bad_line_ = line;
        const bool missing = c == '\n' || (classic && c == '/');
        show(missing ? std::string_view{} : token);
        skip_line();
        return missing ? Next::Missing : Next::Bad;
      }
    }
  }
}

}  // namespace korvalinde
