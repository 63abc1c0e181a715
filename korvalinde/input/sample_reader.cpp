#include "korvalinde/input/sample_reader.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "korvalinde/input/number.hpp"

namespace korvalinde {

SampleReader::SampleReader(int fd, std::span<char> buffer, FieldSpec fields,
                           std::string_view prefix)
    : fd_(fd), buf_(buffer.data()), fields_(fields), prefix_(prefix) {
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
  if (fields_.sep == 0) {
    for (;; ++i) {
      const char c = buf_[i];
      if (c == ' ' || c == '\t' || c == ',' || c == '/' || c == '\n') return i;
    }
  }
  for (;; ++i) {
    const char c = buf_[i];
    if (c == fields_.sep || c == ' ' || c == '\t' || c == '\n') return i;
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
    // A blank or tab that is the separator is no blank.
    while ((buf_[beg_] == ' ' || buf_[beg_] == '\t') && buf_[beg_] != fields_.sep) ++beg_;
    if (beg_ < end_) return true;
    if (!fill()) return false;
  }
}

// Whether the line ends at beg_: a line end, the end of the input, or a
// carriage return right before either.
bool SampleReader::line_ends_here() {
  if (beg_ >= end_ || buf_[beg_] == '\n') return true;
  if (buf_[beg_] != '\r') return false;
  if (beg_ + 1 >= end_ && !fill()) return true;
  return beg_ + 1 >= end_ || buf_[beg_ + 1] == '\n';
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

// The common case of the field asked for: a number that ends the line or is
// followed by a separator, found and checked in one pass. Returns End when
// the general path must look at the field instead.
SampleReader::Next SampleReader::quick_value(double& value) {
  DecimalScan s;
  for (;;) {
    s = scan_decimal(buf_ + beg_, buf_ + end_);
    if (s.end < buf_ + end_) break;
    if (beg_ == 0 && end_ == kBufferSize) return Next::End;  // too long: the general path refuses it
    if (!fill()) {
      if (error_ != 0) return Next::End;
      // The number ends the input; the bytes may have moved to the front.
      s = scan_decimal(buf_ + beg_, buf_ + end_);
      break;
    }
  }
  const auto i = static_cast<std::size_t>(s.end - buf_);
  if (!s.complete || i == beg_) return Next::End;
  char term = i < end_ ? buf_[i] : '\n';
  std::size_t after = i;
  if (term == '\r') {
    // A carriage return ends the value only before a line end or the end
    // of the input; what follows it may not have been read yet.
    const bool last = i + 1 < end_ ? buf_[i + 1] == '\n' : eof_ && prefix_.empty();
    if (!last) return Next::End;
    term = '\n';
    ++after;
  }
  const bool classic = fields_.sep == 0;
  if (classic ? !(term == '\n' || term == ' ' || term == '\t' || term == ',' || term == '/')
              : !(term == '\n' || term == fields_.sep)) {
    return Next::End;
  }
  value = convert_decimal(buf_ + beg_, s);
  if (!std::isfinite(value)) return Next::End;
  if (term == '\n' && after < end_) {
    beg_ = after + 1;  // the value ended the line
    ++line_;
  } else {
    beg_ = after;
    skip_line();
  }
  return Next::Value;
}

SampleReader::Next SampleReader::next(double& value) {
  if (stopped_) return Next::End;
  const bool classic = fields_.sep == 0;
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
      if (field == fields_.column) {
        const Next got = quick_value(value);
        if (got != Next::End) return got;
      }
      std::size_t i;
      const bool fits = token_at(i);
      if (error_ != 0) return Next::Error;
      const char term = i < end_ ? buf_[i] : '\n';
      std::string_view token(buf_ + beg_, i - beg_);
      if (!fits) {
        // Too long: the rest of its line is not read, as it may never end.
        show(token);
        bad_line_ = line;
        stopped_ = true;
        return Next::Bad;
      }
      if (term == '\n' && !token.empty() && token.back() == '\r') token.remove_suffix(1);
      const bool ends_line = term == '\n' || (classic && term == '/');

      if (field == fields_.column) {
        if (token.empty() && term == '\n' && field == 1) {  // a line of "\r" alone
          beg_ = i;
          skip_line();
          break;
        }
        Next got = parse_sample(token, value) ? Next::Value : Next::Bad;
        if (token.empty() && term == '\n') got = Next::Missing;
        if (got != Next::Value || !classic) show(token);  // before the bytes may move
        if (got == Next::Value && !classic) {
          // Only blanks may stand between the value and the separator.
          beg_ = i;
          if (!skip_blanks_in_line() && error_ != 0) return Next::Error;
          const bool ends = line_ends_here();
          if (error_ != 0) return Next::Error;
          if (!ends && buf_[beg_] != fields_.sep) got = Next::Bad;
          i = beg_;
        }
        if (got != Next::Value) bad_line_ = line;
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
      show(token);  // before the bytes may move
      if (!skip_blanks_in_line() && error_ != 0) return Next::Error;
      const bool ends = line_ends_here();
      if (error_ != 0) return Next::Error;
      const char c = ends ? '\n' : buf_[beg_];
      const char sep = classic ? ',' : fields_.sep;
      if (c == sep) {
        ++beg_;
        if (!skip_blanks_in_line() && error_ != 0) return Next::Error;
      } else if (!classic || c == '\n' || c == '/') {
        bad_line_ = line;
        const bool missing = c == '\n' || (classic && c == '/');
        if (missing) show({});
        skip_line();
        return missing ? Next::Missing : Next::Bad;
      }
    }
  }
}

}  // namespace korvalinde

namespace korvalinde {

int open_sample(const std::string& name, struct stat* id) {
  if (name.find('\0') != std::string::npos) return -EINVAL;
  int fd;
  do {
    fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -errno;
  struct stat st;
  const int err = ::fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
  if (err != 0) {
    ::close(fd);
    return -err;
  }
  if (id != nullptr) *id = st;
  return fd;
}

std::string read_values(int fd, FieldSpec fields, std::vector<double>& out) {
  // The values are gathered in blocks and copied into `out` at the end, so
  // that memory follows what was read (at most twice 8 bytes per value, at
  // the copy) rather than what a file might hold, and no growing array has
  // to be moved while it is larger than the blocks.
  std::vector<std::vector<double>> blocks;
  std::size_t block_size = 1024;
  auto finish = [&](std::string why) {
    std::size_t total = out.size();
    for (const auto& b : blocks) total += b.size();
    out.reserve(total);
    for (auto& b : blocks) {
      out.insert(out.end(), b.begin(), b.end());
      std::vector<double>().swap(b);
    }
    return why;
  };
  std::vector<char> buffer(SampleReader::kBufferBytes);
  SampleReader reader(fd, buffer, fields);
  for (;;) {
    double v;
    switch (reader.next(v)) {
      case SampleReader::Next::Value:
        if (blocks.empty() || blocks.back().size() == blocks.back().capacity()) {
          blocks.emplace_back().reserve(block_size);
          block_size = std::min<std::size_t>(block_size * 2, std::size_t{1} << 17);
        }
        blocks.back().push_back(v);
        continue;
      case SampleReader::Next::End: return finish({});
      case SampleReader::Next::Error: return finish(std::strerror(reader.error()));
      case SampleReader::Next::Missing:
        return finish(std::to_string(reader.line()) + ": no value in column " +
                      std::to_string(fields.column));
      case SampleReader::Next::Bad: {
        std::string text = std::to_string(reader.line()) + ": '";
        text += reader.token();
        text += reader.token_cut() ? "...'" : "'";
        return finish(text + " is not a number");
      }
    }
  }
}

}  // namespace korvalinde
