// Helpers shared by the fuzz targets: failing loudly, memory files, and the
// layout checks of printed numbers.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace fuzz {

// Reports a violated property on standard error and aborts, so that the
// fuzzer saves the input and a replay test fails.
[[noreturn]] inline void fail(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
inline void fail(const char* fmt, ...) {
  std::fputs("fuzz: property violated: ", stderr);
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
  std::fputc('\n', stderr);
  std::abort();
}

inline void check(bool ok, const char* what) {
  if (!ok) fail("%s", what);
}

// Text with control bytes shown as \xNN (line ends as \n unless kept), for messages.
inline std::string shown(std::string_view s, std::size_t limit = 400, bool keep_lines = false) {
  std::string out;
  for (std::size_t i = 0; i < s.size() && i < limit; ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '\n' && keep_lines) {
      out += '\n';
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c >= 0x7f) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (s.size() > limit) out += "...";
  return out;
}

// An anonymous in-memory file; its descriptor closes with the object.
class MemFile {
 public:
  explicit MemFile(const char* name) : fd_(::memfd_create(name, MFD_CLOEXEC)) {
    if (fd_ < 0) fail("memfd_create: %s", std::strerror(errno));
  }
  ~MemFile() { ::close(fd_); }
  MemFile(const MemFile&) = delete;
  MemFile& operator=(const MemFile&) = delete;

  int fd() const { return fd_; }

  // Replaces the content and rewinds.
  void assign(std::string_view content) {
    if (::ftruncate(fd_, 0) != 0) fail("ftruncate: %s", std::strerror(errno));
    std::size_t done = 0;
    while (done < content.size()) {
      const ssize_t n =
          ::pwrite(fd_, content.data() + done, content.size() - done, static_cast<off_t>(done));
      if (n <= 0) fail("pwrite: %s", std::strerror(errno));
      done += static_cast<std::size_t>(n);
    }
    ::lseek(fd_, 0, SEEK_SET);
  }

  std::string content() const {
    std::string out;
    char buf[8192];
    off_t at = 0;
    for (;;) {
      const ssize_t n = ::pread(fd_, buf, sizeof buf, at);
      if (n < 0) fail("pread: %s", std::strerror(errno));
      if (n == 0) return out;
      out.append(buf, static_cast<std::size_t>(n));
      at += n;
    }
  }

  // A name under which open() reaches this file.
  std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

 private:
  int fd_;
};

// True when `field` is a w-character Fw.d field: w asterisks, Infinity,
// -Infinity or NaN right-justified, or a right-justified decimal with d
// digits after the point (the 0 before the point left out only when the
// field has no room for it).
inline bool is_f_field(std::string_view field, std::size_t w, std::size_t d) {
  if (field.size() != w) return false;
  if (field.find_first_not_of('*') == std::string_view::npos) return true;
  const std::size_t start = field.find_first_not_of(' ');
  if (start == std::string_view::npos) return false;
  const std::string_view t = field.substr(start);
  if (t == "Infinity" || t == "-Infinity" || t == "NaN") return true;
  std::size_t i = t[0] == '-' ? 1 : 0;
  const std::size_t int_begin = i;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
  const std::size_t int_digits = i - int_begin;
  if (i == t.size() || t[i] != '.') return false;
  if (t.size() - i - 1 != d) return false;
  for (std::size_t k = i + 1; k < t.size(); ++k)
    if (t[k] < '0' || t[k] > '9') return false;
  if (int_digits == 0) return start == 0;                   // no room for the 0
  if (int_digits > 1 && t[int_begin] == '0') return false;  // no leading zeros
  return true;
}

// The value of a decimal Fw.d field; false for asterisks and the words.
inline bool f_value(std::string_view field, double& v) {
  const std::size_t start = field.find_first_not_of(' ');
  if (start == std::string_view::npos) return false;
  const std::string t(field.substr(start));
  if (t[0] == '*' || t == "Infinity" || t == "-Infinity" || t == "NaN") return false;
  v = std::strtod(t.c_str(), nullptr);
  return true;
}

}  // namespace fuzz
