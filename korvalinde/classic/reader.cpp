#include "korvalinde/classic/reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "korvalinde/classic/blocks.hpp"
#include "korvalinde/classic/sysfile.hpp"

namespace korvalinde {

double data0[kMaxSamples];

namespace {

// Every power of ten up to 10^22 is exactly a double.
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr std::uint64_t kExactMantissa = std::uint64_t{1} << 53;

// Eight text bytes in one word, byte 0 = the first character.
static_assert(std::endian::native == std::endian::little, "the digit scanner reads words");
constexpr std::uint64_t kHighBits = 0x8080808080808080;
constexpr std::uint64_t kZeros = 0x3030303030303030;  // "00000000"
// kFill[k]: the character 0 in bytes 0..k-1.
constexpr std::uint64_t kFill[] = {0,           0x30,           0x3030,           0x303030,
                                   0x30303030,  0x3030303030,   0x303030303030,   0x30303030303030,
                                   kZeros};

std::uint64_t load8(const char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// The 1..8 bytes [p, p + n) in the low bytes of a word, zero above; two loads
// that overlap in the middle.
std::uint64_t load_short(const char* p, std::size_t n) {
  if (n >= 4) {
    std::uint32_t lo, hi;
    std::memcpy(&lo, p, 4);
    std::memcpy(&hi, p + n - 4, 4);
    return lo | std::uint64_t{hi} << (8 * (n - 4));
  }
  if (n >= 2) {
    std::uint16_t lo, hi;
    std::memcpy(&lo, p, 2);
    std::memcpy(&hi, p + n - 2, 2);
    return lo | std::uint64_t{hi} << (8 * (n - 2));
  }
  return static_cast<unsigned char>(*p);
}

// High bit of each byte of v that is no digit. Exact for the first such
// byte (digits below it neither carry nor borrow), so zero means all digits.
std::uint64_t non_digits(std::uint64_t v) {
  return ((v + 0x4646464646464646) | (v - kZeros)) & kHighBits;
}

// The value of eight digit values, one per byte, byte 0 the leading one.
std::uint64_t eight_digits(std::uint64_t x) {
  x = x * 10 + (x >> 8);  // bytes 0, 2, 4, 6: the two-digit groups g0..g3
  constexpr std::uint64_t kPairs = 0x000000FF000000FF;
  // g0 * 10^6 + g2 * 10^2 and g1 * 10^4 + g3 meet in the upper half.
  return ((x & kPairs) * (100 + (1000000ULL << 32)) +
          ((x >> 16) & kPairs) * (1 + (10000ULL << 32))) >>
         32;
}

// The common sample form: a body (the token after its sign) of 1 to 16 bytes,
// digits with at most one point. The body is right-aligned in 16 bytes (lo,
// hi) behind leading 0 characters, the point is taken out, and the 16 digits
// give the integer w. Returns false, value untouched, for any other body.
bool parse_plain(const char* b, std::size_t len, bool negative, double& value) {
  if (len - 1 >= 16) return false;
  std::uint64_t lo, hi;
  if (len <= 8) {
    lo = kZeros;
    hi = load_short(b, len) << (64 - 8 * len) | kFill[8 - len];
  } else {
    lo = load8(b) << (128 - 8 * len) | kFill[16 - len];
    hi = load8(b + len - 8);
  }
  unsigned fraction = 0;
  const std::uint64_t other_lo = non_digits(lo), other_hi = non_digits(hi);
  if ((other_lo | other_hi) != 0) {
    // The first byte that is no digit must be the point, and not all there is.
    const bool in_lo = other_lo != 0;
    const unsigned at = static_cast<unsigned>(std::countr_zero(in_lo ? other_lo : other_hi)) - 7;
    if ((((in_lo ? lo : hi) >> at) & 0xFF) != '.' || len == 1) return false;
    // Bytes before the point move up one place; a 0 character enters at byte 0.
    // Then the rest must be digits: the word that held the point, and hi when
    // that was lo (lo had only digits if the point was in hi).
    const std::uint64_t before = (std::uint64_t{1} << at) - 1;
    if (in_lo) {
      lo = (lo & before) << 8 | (lo & ~before << 8) | '0';
      fraction = 15 - at / 8;
      if (non_digits(lo) != 0 || other_hi != 0) return false;
    } else {
      hi = (hi & before) << 8 | (hi & ~before << 8) | lo >> 56;
      lo = lo << 8 | '0';
      fraction = 7 - at / 8;
      if (non_digits(hi) != 0) return false;
    }
  }
  // With a point, w has at most 15 digits, so w and 10^fraction are exact and
  // the divide rounds once; a 16-digit integer is rounded once, converting.
  const std::uint64_t w = eight_digits(lo - kZeros) * 100000000 + eight_digits(hi - kZeros);
  double v = static_cast<double>(w);
  if (fraction != 0) v /= kPow10[fraction];
  value = negative ? -v : v;
  return true;
}

// Appends the decimal digits from p on to w (modulo 2^64); returns the
// position of the first other character.
const char* take_digits(const char* p, const char* end, std::uint64_t& w) {
  for (; p != end; ++p) {
    const unsigned d = static_cast<unsigned char>(*p) - unsigned{'0'};
    if (d > 9) break;
    w = w * 10 + d;
  }
  return p;
}

// Converts a token that has passed the grammar check, without a leading '+'.
// from_chars knows E only as the exponent letter and reports an underflow as
// out of range; strtod then gives the correctly rounded subnormal or zero.
bool convert_general(std::string_view token, std::size_t exp_at, double& value) {
  const char* first = token.data();
  char local[64];
  std::string copy;
  if (exp_at != std::string_view::npos && (token[exp_at] == 'D' || token[exp_at] == 'd')) {
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

// Checks the whole grammar while gathering the digits as an integer w and the
// decimal exponent e. With at most 19 digits, w <= 2^53 and |e| <= 22, both
// w and 10^|e| are exact doubles, so the one IEEE multiply or divide gives
// the correctly rounded value; other tokens go to the general conversion.
[[gnu::noinline]] bool parse_general(std::string_view token, double& value) {
  const char* p = token.data();
  const char* const end = p + token.size();
  const bool negative = p != end && *p == '-';
  const bool plus = p != end && *p == '+';
  p += negative || plus;
  std::uint64_t w = 0;
  const char* q = take_digits(p, end, w);
  std::ptrdiff_t digits = q - p, fraction = 0;
  if (q != end && *q == '.') {
    p = q + 1;
    q = take_digits(p, end, w);
    fraction = q - p;
    digits += fraction;
  }
  if (digits == 0) return false;
  const char* exp_at = end;
  std::int64_t exponent = 0;
  if (q != end) {
    if ((*q | 0x20) != 'e' && (*q | 0x20) != 'd') return false;
    exp_at = q++;
    const bool exp_negative = q != end && *q == '-';
    if (q != end && (*q == '-' || *q == '+')) ++q;
    if (q == end) return false;
    for (; q != end; ++q) {
      const unsigned d = static_cast<unsigned char>(*q) - unsigned{'0'};
      if (d > 9) return false;
      if (exponent < 100000000) exponent = exponent * 10 + d;  // far beyond any finite value
    }
    if (exp_negative) exponent = -exponent;
  }
  if (digits <= 19 && w <= kExactMantissa) {
    const std::int64_t e10 = exponent - fraction;
    if (w == 0) {
      value = negative ? -0.0 : 0.0;
      return true;
    }
    if (e10 >= -22 && e10 <= 22) {
      double v = static_cast<double>(w);
      v = e10 < 0 ? v / kPow10[-e10] : v * kPow10[e10];
      value = negative ? -v : v;
      return true;
    }
  }
  if (plus) token.remove_prefix(1);
  const std::size_t exp_index = exp_at == end ? std::string_view::npos
                                              : static_cast<std::size_t>(exp_at - token.data());
  return convert_general(token, exp_index, value);
}

// Reads the sample file through a fixed buffer, one line's first token at a
// time. Lines of any length cost no memory beyond the buffer.
class SampleSource {
 public:
  void reset(int fd) {
    fd_ = fd;
    beg_ = end_ = 0;
    buf_[0] = kSentinel;
  }

  enum class Next { Value, Bad, End };

  Next next(double& value) {
    for (;;) {
      // Blanks, tabs and empty lines before the value.
      for (;;) {
        while (kBlank[static_cast<unsigned char>(buf_[beg_])]) ++beg_;
        if (beg_ < end_) break;
        if (!fill()) return Next::End;
      }
      // The token runs to a blank, tab, comma, slash or line end.
      std::size_t i = beg_;
      for (;;) {
        i = token_end(i);
        if (i < end_) break;
        if (beg_ == 0 && end_ == kSize) return Next::Bad;  // a token longer than the buffer
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
      if (term == '\n' && i < end_) {
        beg_ = i + 1;  // the value ended the line
      } else {
        beg_ = i;
        skip_line();
      }
      return ok ? Next::Value : Next::Bad;
    }
  }

 private:
  static constexpr std::size_t kSize = 1 << 16;

  // Character classes. A comma stands as a sentinel behind the buffered
  // bytes: it ends a token and is no blank, so neither scan needs a bounds
  // test per character.
  static constexpr char kSentinel = ',';
  static constexpr auto kBlank = [] {
    std::array<bool, 256> t{};
    t[' '] = t['\t'] = t['\n'] = true;
    return t;
  }();
  static constexpr auto kEnds = [] {
    std::array<bool, 256> t{};
    t[' '] = t['\t'] = t[','] = t['/'] = t['\n'] = true;
    return t;
  }();

  // The first byte from i on that ends a token; the sentinel bounds the
  // search. Every such byte lies below '0', so eight bytes at a time are
  // searched for one below '0' (exact for the lowest) and only those are
  // looked at: the point and signs of a number, or the end of the token.
  std::size_t token_end(std::size_t i) const {
    for (;;) {
      std::uint64_t v;
      std::memcpy(&v, buf_ + i, 8);
      const std::uint64_t below = (v - 0x3030303030303030) & ~v & 0x8080808080808080;
      if (below == 0) {
        i += 8;
        continue;
      }
      i += static_cast<std::size_t>(std::countr_zero(below)) / 8;
      if (kEnds[static_cast<unsigned char>(buf_[i])]) return i;
      ++i;
    }
  }

  // Moves the unread bytes to the front and reads more; false at end of file.
  bool fill() {
    if (beg_ > 0) {
      std::memmove(buf_, buf_ + beg_, end_ - beg_);
      end_ -= beg_;
      beg_ = 0;
    }
    if (end_ == kSize) return true;
    ssize_t got;
    do {
      got = ::read(fd_, buf_ + end_, kSize - end_);
    } while (got < 0 && errno == EINTR);
    if (got > 0) end_ += static_cast<std::size_t>(got);
    buf_[end_] = kSentinel;
    return got > 0;
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
  char buf_[kSize + 8] = {kSentinel};  // room for a word read at the sentinel
  std::size_t beg_ = 0, end_ = 0;
};

}  // namespace

bool parse_sample(std::string_view token, double& value) {
  if (token.empty()) return false;
  const bool negative = token[0] == '-';
  const std::size_t sign = negative || token[0] == '+';
  return parse_plain(token.data() + sign, token.size() - sign, negative, value) ||
         parse_general(token, value);
}

void ini_data(int& status, Message& message, const std::string& name, int& count) {
  int fd = open_existing(name);
  if (fd < 0) {
    status = kCannotOpen;
    message.set(kCannotOpenText);
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
