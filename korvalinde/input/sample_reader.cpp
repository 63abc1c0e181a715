#include "korvalinde/input/sample_reader.hpp"

#include <fcntl.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <memory>
#include <new>
#include <cmath>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "korvalinde/detail/parallel.hpp"
#include "korvalinde/input/file_bytes.hpp"
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
  } else if (fd_ < 0) {
    eof_ = true;  // no descriptor: the prefix was all
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
    // A tab that is the separator is no blank; blanks that separate are
    // passed over like blanks around a field.
    while ((buf_[beg_] == ' ' || buf_[beg_] == '\t') && (buf_[beg_] != fields_.sep || fields_.sep == ' '))
      ++beg_;
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

void SampleReader::skip_byte_order_mark() {
  while (end_ - beg_ < 3 && fill()) {
  }
  if (end_ - beg_ >= 3 && std::memcmp(buf_ + beg_, "\xEF\xBB\xBF", 3) == 0) beg_ += 3;
}

// The shown value and what follows it up to the separator or the line end
// (a carriage return before the line end left out), with no byte consumed:
// at most kTokenShown + 2 characters, enough to tell whether show() cuts it.
std::string SampleReader::field_after_value() {
  std::string field(shown_, shown_len_);
  bool ended = false;
  for (std::size_t k = beg_; field.size() <= kTokenShown + 1; ++k) {
    if (k >= end_) {
      const std::size_t offset = k - beg_;
      const bool more = fill();
      k = beg_ + offset;
      if (!more || k >= end_) {
        ended = !more && error_ == 0;
        break;
      }
    }
    if (buf_[k] == fields_.sep) break;
    if (buf_[k] == '\n') {
      ended = true;
      break;
    }
    field += buf_[k];
  }
  if (ended && !field.empty() && field.back() == '\r') field.pop_back();
  return field;
}

void SampleReader::show(std::string_view token) {
  shown_len_ = std::min(token.size(), kTokenShown);
  token_cut_ = token.size() > kTokenShown;
  token_cr_ = shown_len_ > 0 && std::memchr(token.data(), '\r', shown_len_) != nullptr;
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
  if (!started_) {
    started_ = true;
    if (fields_.bom) skip_byte_order_mark();
  }
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
        bad_field_ = field;
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
        if (got == Next::Value && !classic && fields_.sep != ' ') {
          // Only blanks may stand between the value and the separator; else
          // the message shows the whole field.
          beg_ = i;
          const std::string field = field_after_value();
          if (!skip_blanks_in_line() && error_ != 0) return Next::Error;
          const bool ends = line_ends_here();
          if (error_ != 0) return Next::Error;
          if (!ends && buf_[beg_] != fields_.sep) {
            got = Next::Bad;
            if (!token_cut_) show(field);
          }
          i = beg_;
        }
        if (got != Next::Value) {
          bad_line_ = line;
          bad_field_ = field;
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
        bad_field_ = field + 1;
        skip_line();
        return Next::Missing;
      }
      show(token);  // before the bytes may move
      const bool blanks_separate = fields_.sep == ' ' && (buf_[beg_] == ' ' || buf_[beg_] == '\t');
      if (!skip_blanks_in_line() && error_ != 0) return Next::Error;
      const bool ends = line_ends_here();
      if (error_ != 0) return Next::Error;
      const char c = ends ? '\n' : buf_[beg_];
      const char sep = classic ? ',' : fields_.sep;
      if (blanks_separate && !ends) {
        // At the next field.
      } else if (c == sep) {
        ++beg_;
        if (!skip_blanks_in_line() && error_ != 0) return Next::Error;
      } else if (!classic || c == '\n' || c == '/') {
        bad_line_ = line;
        const bool missing = c == '\n' || (classic && c == '/');
        bad_field_ = missing ? field + 1 : field;
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

namespace {

// Values gathered in blocks, so that memory follows what was read rather
// than what a file might hold, and no growing array has to be moved while
// it is larger than the blocks.
class Blocks {
 public:
  void push(double v) {
    if (used_ == cur_.size()) grow();
    cur_[used_++] = v;
  }
  std::size_t size() const { return done_ + used_; }
  // Copies the values to `to` in order and frees the blocks.
  void move_to(double* to) {
    for (const detail::RawVector<double>& b : full_) to = std::copy(b.begin(), b.end(), to);
    std::copy(cur_.begin(), cur_.begin() + static_cast<std::ptrdiff_t>(used_), to);
    *this = Blocks();
  }

 private:
  void grow() {
    if (!cur_.empty()) full_.push_back(std::move(cur_));
    done_ += used_;
    cur_ = {};
    cur_.resize(next_);  // not written until read
    used_ = 0;
    next_ = std::min<std::size_t>(next_ * 2, std::size_t{1} << 19);
  }

  std::vector<detail::RawVector<double>> full_;  // full blocks
  detail::RawVector<double> cur_;                // the block being filled, up to used_
  std::size_t used_ = 0, done_ = 0, next_ = 1024;
};

// Reads values into `out` until the end or the first fault; also stops
// early (with no fault) once `stop()` is true, asked every few thousand
// values.
template <class Values, class Stop>
std::optional<InputError> collect(SampleReader& reader, int column, Values& out, Stop stop) {
  for (unsigned k = 1;; ++k) {
    double v;
    switch (reader.next(v)) {
      case SampleReader::Next::Value:
        out.push(v);
        if (k % 4096 == 0 && stop()) return std::nullopt;
        continue;
      case SampleReader::Next::End: return std::nullopt;
      case SampleReader::Next::Error:
        return InputError{{}, 0, 0, "io", std::strerror(reader.error())};
      case SampleReader::Next::Missing:
        return InputError{{}, reader.line(), reader.field(), "no_column",
                          "no value in column " + std::to_string(column)};
      case SampleReader::Next::Bad: {
        std::string text = "'";
        text += reader.token();
        text += reader.token_cut() ? "...'" : "'";
        text += " is not a number";
        if (reader.token_has_cr()) text += " (a carriage return within a line: lines end with a line feed)";
        return InputError{{}, reader.line(), reader.field(), "not_a_number", text};
      }
    }
  }
}

// Runs of whole lines of about equal size, at least `least` bytes each
// (but the last), at most `parts` of them.
std::vector<std::string_view> cut_at_lines(std::string_view text, std::size_t parts,
                                           std::size_t least) {
  parts = std::max<std::size_t>(1, std::min(parts, text.size() / std::max<std::size_t>(least, 1)));
  std::vector<std::string_view> runs;
  std::size_t begin = 0;
  for (std::size_t k = 1; k <= parts && begin < text.size(); ++k) {
    std::size_t end = k == parts ? text.size() : std::max(begin, text.size() / parts * k);
    if (end < text.size()) {
      const void* nl = std::memchr(text.data() + end, '\n', text.size() - end);
      end = nl == nullptr ? text.size()
                          : static_cast<std::size_t>(static_cast<const char*>(nl) - text.data()) + 1;
    }
    runs.push_back(text.substr(begin, end - begin));
    begin = end;
  }
  return runs;
}

// Values written in place, one a line at most, into room made for them.
struct InPlace {
  double* at;
  std::size_t count = 0;
  void push(double v) { at[count++] = v; }
};

constexpr std::ptrdiff_t kShortReach = 20;  // bytes scan_short_decimal may read

// The line ends of a text, found 16 bytes at a time apart from the reading
// of the numbers: where the next line starts does not wait for the number
// on this one to be read, so the reading of successive lines overlaps.
class LineEnds {
 public:
  LineEnds(const char* begin, const char* end) : end_(end), base_(begin) { load(); }

  // The first line end at or after p, or the end of the text; p never
  // moves back between calls.
  const char* next(const char* p) {
    if (p - base_ >= kWidth) {
      base_ = p;
      load();
    }
    for (;;) {
      const std::uint32_t m = mask_ & (~std::uint32_t{0} << (p - base_));
      if (m != 0) return base_ + std::countr_zero(m);
      if (end_ - base_ <= kWidth) return end_;
      base_ += kWidth;
      p = base_;
      load();
    }
  }

 private:
  static constexpr std::ptrdiff_t kWidth = 16;

  void load() {
#if defined(__SSE2__)
    if (end_ - base_ >= kWidth) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base_));
      mask_ = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8('\n'))));
      return;
    }
#endif
    mask_ = 0;
    for (std::ptrdiff_t i = 0; i < std::min(kWidth, end_ - base_); ++i) {
      if (base_[i] == '\n') mask_ |= std::uint32_t{1} << i;
    }
  }

  const char* end_;
  const char* base_;
  std::uint32_t mask_ = 0;
};

// The line ends in a text, 16 bytes at a time: each byte of a counter
// gains one where its byte of a block is a line end, and the counters are
// added up before they can overflow.
std::size_t count_line_ends(std::string_view text) {
  std::size_t count = 0, i = 0;
#if defined(__SSE2__)
  const __m128i nl = _mm_set1_epi8('\n'), zero = _mm_setzero_si128();
  while (i + 16 <= text.size()) {
    __m128i counters = zero;
    for (int k = 0; k < 255 && i + 16 <= text.size(); ++k, i += 16) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
      counters = _mm_sub_epi8(counters, _mm_cmpeq_epi8(block, nl));
    }
    const __m128i sums = _mm_sad_epu8(counters, zero);  // two sums of eight bytes
    count += static_cast<std::size_t>(_mm_cvtsi128_si64(sums) +
                                      _mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
  }
#endif
  for (; i < text.size(); ++i) count += text[i] == '\n';
  return count;
}

// Reads the lines of the most common form from the start of `text` as the
// reader would, straight from the text: with the classic fields and the
// first one chosen, blanks, a number of at most 15 digits without an
// exponent, then the line end (a carriage return before it allowed) or a
// field's end and the rest of the line. Blank lines are passed over. Stops
// at the first line of another form, which the reader then reads with all
// after it; returns that rest of the text (empty at the end), and counts
// the lines read.
std::string_view simple_lines(std::string_view text, FieldSpec fields, InPlace& values,
                              std::uint64_t& lines) {
  if (fields.sep != 0 || fields.column != 1) return text;
  const char* p = text.data();
  const char* const end = p + text.size();
  LineEnds ends(p, end);
  while (p != end) {
    // The commonest line, a short number and the line end, first.
    const char* const eol = ends.next(p);
    DecimalScan s{p, nullptr, false};
    if (end - p >= kShortReach && scan_short_decimal(p, s) &&
        (s.end == eol || (*s.end == '\r' && s.end + 1 == eol))) {
      values.push(convert_short_decimal(p, s));
      p = eol == end ? end : eol + 1;
      ++lines;
      continue;
    }
    const char* const line = p;
    while (p != end && (*p == ' ' || *p == '\t')) ++p;
    if (p != end && *p == '\n') {
      ++p;
      ++lines;
      continue;
    }
    if (p == end) break;
    s = scan_decimal(p, end);
    const char* q = s.end;
    if (!s.complete || s.exponent != nullptr || s.digits > 15) return {line, static_cast<std::size_t>(end - line)};
    if (q != end && *q == '\r') ++q;  // to be followed by the line end or the end of the text
    const char term = q == end ? '\n' : *q;
    const bool ends_field = term == '\n' || (q == s.end && (term == ' ' || term == '\t' || term == ',' || term == '/'));
    if (!ends_field) return {line, static_cast<std::size_t>(end - line)};
    values.push(convert_short_decimal(p, s));  // short: checked above
    if (q != end && *q == '\n') {
      p = q + 1;
    } else {
      const void* nl = q == end ? nullptr : std::memchr(q, '\n', static_cast<std::size_t>(end - q));
      p = nl == nullptr ? end : static_cast<const char*>(nl) + 1;
    }
    ++lines;
  }
  return {};
}

// Reads the runs on the threads. Each run has room for one value a line in
// `out` (memory that is not written stays untouched), writes its values
// there, and the gaps that lines without a value leave are closed in file
// order up to the first fault, whose line is made absolute. A run after a
// run with a fault is of no use: it is left, or given up.
std::optional<InputError> read_runs(std::string_view text, FieldSpec fields, unsigned threads,
                                    std::size_t least, detail::RawVector<double>& out,
                                    std::uint64_t& lines_of_text) {
  if (fields.bom && text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  fields.bom = false;  // the text's start is no run's but the first's
  const std::vector<std::string_view> runs = cut_at_lines(text, 4 * std::size_t{threads}, least);
  std::vector<std::size_t> lines(runs.size());
  detail::parallel_for(runs.size(), threads, [&](std::size_t i) {
    // Every run but the last ends with its line end.
    lines[i] = count_line_ends(runs[i]) + (runs[i].back() != '\n');
  });
  std::vector<std::size_t> room(runs.size() + 1, out.size());
  for (std::size_t i = 0; i < runs.size(); ++i) room[i + 1] = room[i] + lines[i];
  lines_of_text = room.back() - room[0];
  out.resize(room.back());
  std::vector<std::size_t> count(runs.size(), 0);
  std::vector<std::optional<InputError>> faults(runs.size());
  std::atomic<std::size_t> first_fault{runs.size()};
  detail::parallel_for(runs.size(), threads, [&](std::size_t i) {
    auto later = [&] { return first_fault.load(std::memory_order_relaxed) < i; };
    if (later()) return;
    InPlace values{out.data() + room[i]};
    std::uint64_t lines_read = 0;
    const std::string_view rest = simple_lines(runs[i], fields, values, lines_read);
    if (!rest.empty()) {
      std::vector<char> buffer(SampleReader::kBufferBytes);
      SampleReader reader(-1, buffer, fields, rest);
      faults[i] = collect(reader, fields.column, values, later);
      if (faults[i]) faults[i]->line += lines_read;
    }
    count[i] = values.count;
    if (faults[i]) {
      std::size_t seen = first_fault.load(std::memory_order_relaxed);
      while (i < seen && !first_fault.compare_exchange_weak(seen, i, std::memory_order_relaxed)) {
      }
    }
  });
  const std::size_t used = std::min(first_fault.load(), runs.size() - 1) + 1;
  std::size_t at = room[0];
  std::uint64_t before = 0;  // lines before the run
  for (std::size_t i = 0; i < used; ++i) {
    if (at != room[i]) std::memmove(out.data() + at, out.data() + room[i], count[i] * sizeof(double));
    at += count[i];
    if (i + 1 < used) before += lines[i];
  }
  out.resize(at);
  std::optional<InputError> fault = std::move(faults[used - 1]);
  if (fault) fault->line += before;
  return fault;
}

// Reads a regular file of at least `least` bytes from the descriptor's
// offset on in windows of whole lines (16 runs of `least` bytes), each
// copied in with pread and read in runs on the threads: memory holds one
// window and the values. A line longer than a window, and what follows it,
// is read in one pass from where it starts. `stamp` receives the file's state
// before; nothing is read (and false returned) for anything else.
bool read_windows(int fd, FieldSpec fields, unsigned threads, std::size_t least,
                  detail::RawVector<double>& out, std::optional<InputError>& fault,
                  FileStamp& stamp) {
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const off_t start = ::lseek(fd, 0, SEEK_CUR);
  if (start < 0 || st.st_size <= start || static_cast<std::size_t>(st.st_size - start) < least)
    return false;
  stamp = stamp_of(st);
  const std::size_t size = 16 * std::max<std::size_t>(least, 1);
  detail::RawVector<char> window(std::min(size, static_cast<std::size_t>(st.st_size - start) + 1));
  off_t at = start;
  std::uint64_t before = 0;  // lines before the window
  for (;;) {
    const std::int64_t got = read_at(fd, window.data(), window.size(), at, threads);
    if (got < 0) {
      fault = InputError{{}, 0, 0, "io", std::strerror(static_cast<int>(-got))};
      return true;
    }
    if (got == 0) return true;
    std::string_view text(window.data(), static_cast<std::size_t>(got));
    const bool last = static_cast<std::size_t>(got) < window.size();
    if (!last) {
      const void* nl = ::memrchr(text.data(), '\n', text.size());
      if (nl == nullptr) break;  // a line longer than the window
      text = text.substr(0, static_cast<std::size_t>(static_cast<const char*>(nl) - text.data()) + 1);
    }
    std::uint64_t lines = 0;
    fault = read_runs(text, fields, threads, least, out, lines);
    if (fault) {
      fault->line += before;
      return true;
    }
    before += lines;
    at += static_cast<off_t>(text.size());
    fields.bom = false;  // only the first window opens the input
    if (last) return true;
  }
  window = {};
  if (::lseek(fd, at, SEEK_SET) != at) {
    fault = InputError{{}, 0, 0, "io", std::strerror(errno)};
    return true;
  }
  std::vector<char> buffer(SampleReader::kBufferBytes);
  SampleReader reader(fd, buffer, fields);
  Blocks values;
  fault = collect(reader, fields.column, values, [] { return false; });
  if (fault && fault->line > 0) fault->line += before;
  const std::size_t had = out.size();
  out.resize(had + values.size());
  values.move_to(out.data() + had);
  return true;
}

}  // namespace

std::optional<InputError> read_values(int fd, FieldSpec fields, detail::RawVector<double>& out,
                                      unsigned threads, std::size_t least) {
  if (threads > 1) {
    const std::size_t had = out.size();
    const off_t start = ::lseek(fd, 0, SEEK_CUR);
    std::optional<InputError> fault;
    FileStamp stamp;
    try {
      if (read_windows(fd, fields, threads, least, out, fault, stamp)) {
        if (!unchanged(fd, stamp)) fault = changed_while_read();
        return fault;
      }
    } catch (const std::bad_alloc&) {
      // No room for a value a line (a file of mostly blank lines under a
      // memory limit): read in one pass, where memory follows the values.
      out.resize(had);
      if (start >= 0) ::lseek(fd, start, SEEK_SET);
    }
  }
  struct stat st;
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  std::vector<char> buffer(SampleReader::kBufferBytes);
  SampleReader reader(fd, buffer, fields);
  Blocks values;
  std::optional<InputError> fault = collect(reader, fields.column, values, [] { return false; });
  if (regular && !unchanged(fd, stamp_of(st))) fault = changed_while_read();
  const std::size_t at = out.size();
  out.resize(at + values.size());
  values.move_to(out.data() + at);
  return fault;
}

}  // namespace korvalinde
