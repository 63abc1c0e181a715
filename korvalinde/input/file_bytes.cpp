#include "korvalinde/input/file_bytes.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "korvalinde/detail/parallel.hpp"

namespace korvalinde {
namespace {

bool same_time(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Reads up to `size` bytes at `offset`: fewer only at the end of the file.
std::int64_t read_fully(int fd, char* to, std::size_t size, off_t offset) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(fd, to + got, size - got, offset + static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -errno;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(got);
}

// Bytes below which one thread reads alone.
constexpr std::size_t kSplitBytes = std::size_t{1} << 22;

}  // namespace

FileStamp stamp_of(const struct stat& st) {
  return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

bool unchanged(int fd, const FileStamp& before) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  const FileStamp now = stamp_of(st);
  return now.dev == before.dev && now.ino == before.ino && now.size == before.size &&
         same_time(now.mtime, before.mtime) && same_time(now.ctime, before.ctime);
}

InputError changed_while_read() {
  return InputError{{}, 0, 0, "changed", "changed while it was read"};
}

std::int64_t read_at(int fd, char* to, std::size_t size, off_t offset, unsigned threads) {
  const std::size_t parts =
      std::max<std::size_t>(1, std::min<std::size_t>(threads, size / kSplitBytes));
  if (parts == 1) return read_fully(fd, to, size, offset);
  std::vector<std::int64_t> got(parts);
  const std::size_t share = size / parts;
  detail::parallel_for(parts, threads, [&](std::size_t i) {
    const std::size_t begin = i * share, end = i + 1 == parts ? size : begin + share;
    got[i] = read_fully(fd, to + begin, end - begin, offset + static_cast<off_t>(begin));
  });
  // The bytes up to the first part that came short (the end of the file).
  std::int64_t total = 0;
  for (std::size_t i = 0; i < parts; ++i) {
    if (got[i] < 0) return got[i];
    total += got[i];
    const std::size_t begin = i * share, end = i + 1 == parts ? size : begin + share;
    if (static_cast<std::size_t>(got[i]) < end - begin) break;
  }
  return total;
}

TextRead read_text(int fd, std::size_t longest) {
  TextRead r;
  // Pieces of at most `longest` bytes: a longer line has no line end in
  // some piece, or lies across a piece's first line end.
  const std::size_t piece = std::max<std::size_t>(longest, 1);
  std::size_t used = 0, line = 0;  // bytes read, and where the last line starts
  for (;;) {
    if (r.text.size() < used + piece) r.text.resize(used + piece);
    ssize_t got;
    do {
      got = ::read(fd, r.text.data() + used, piece);
    } while (got < 0 && errno == EINTR);
    if (got < 0) r.error = errno;
    if (got <= 0) break;
    // A carriage return may end lines too.
    const std::string_view piece(r.text.data() + used, static_cast<std::size_t>(got));
    const std::size_t first = piece.find_first_of("\r\n");
    if ((first == std::string_view::npos ? used + piece.size() : used + first) - line > longest) {
      used = line + longest;
      r.cut = true;
      break;
    }
    if (first != std::string_view::npos) line = used + piece.find_last_of("\r\n") + 1;
    used += piece.size();
  }
  r.text.resize(used);
  return r;
}

}  // namespace korvalinde
