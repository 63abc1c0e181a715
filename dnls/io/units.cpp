#include "dnls/io/units.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace dnls::io {
namespace {

constexpr int kSlots = 8;
constexpr std::size_t kBufferSize = 64 * 1024;

// One connected unit. A slot with fd < 0 is free.
struct Slot {
  int unit = -1;
  int fd = -1;
  bool owns_fd = false;      // opened by open_unit, closed by close_unit
  bool each_record = false;  // flushed after every record (standard error)
  int error = 0;             // errno of the first failure, 0 while healthy
  std::size_t used = 0;      // bytes waiting in the buffer
};

Slot slots[kSlots];
char buffers[kSlots][kBufferSize];

// Writes all n bytes, retrying after interrupts and partial writes.
int write_all(int fd, const char* data, std::size_t n) {
  while (n > 0) {
    ssize_t done = ::write(fd, data, n);
    if (done < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += done;
    n -= static_cast<std::size_t>(done);
  }
  return 0;
}

void fail(Slot& s, int err) {
  if (s.error == 0) s.error = err;
}

// Empties the slot's buffer into its descriptor. Data of a failed unit is dropped.
void flush_slot(int i) {
  Slot& s = slots[i];
  if (s.used > 0 && s.error == 0) fail(s, write_all(s.fd, buffers[i], s.used));
  s.used = 0;
}

int find(int unit) {
  for (int i = 0; i < kSlots; ++i)
    if (slots[i].fd >= 0 && slots[i].unit == unit) return i;
  return -1;
}

int connect(int unit, int fd, bool owns) {
  int i = find(unit);
  if (i < 0) {
    for (int k = 0; k < kSlots && i < 0; ++k)
      if (slots[k].fd < 0) i = k;
    if (i < 0) return -1;
  }
  slots[i] = Slot{unit, fd, owns, unit == kStderr, 0, 0};
  return i;
}

// Slot of a unit; the standard streams are connected on first use.
int lookup(int unit) {
  int i = find(unit);
  if (i >= 0) return i;
  if (unit == kStderr) return connect(unit, 2, false);
  if (unit == kStdout) return connect(unit, 1, false);
  return -1;
}

// Flushes, closes an owned descriptor and frees the slot. Returns the slot's first errno.
int release(int i) {
  Slot& s = slots[i];
  flush_slot(i);
  if (s.owns_fd && ::close(s.fd) != 0) fail(s, errno);
  int err = s.error;
  s = Slot{};
  return err;
}

}  // namespace

bool write_record(int unit, std::string_view line) {
  int i = lookup(unit);
  if (i < 0) return false;
  Slot& s = slots[i];
  if (s.error != 0) return false;
  if (s.used + line.size() + 1 > kBufferSize) flush_slot(i);
  if (line.size() + 1 > kBufferSize) {
    // Longer than the whole buffer: write it straight through.
    if (s.error == 0) fail(s, write_all(s.fd, line.data(), line.size()));
    if (s.error == 0) fail(s, write_all(s.fd, "\n", 1));
  } else if (s.error == 0) {
    std::memcpy(buffers[i] + s.used, line.data(), line.size());
    s.used += line.size();
    buffers[i][s.used++] = '\n';
    if (s.each_record) flush_slot(i);
  }
  return s.error == 0;
}

int open_unit(int unit, const char* path) {
  int i = find(unit);
  if (i >= 0) release(i);
  int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  if (connect(unit, fd, true) < 0) {
    ::close(fd);
    return EMFILE;
  }
  return 0;
}

void attach_unit(int unit, int fd) {
  int i = find(unit);
  if (i >= 0) release(i);
  connect(unit, fd, false);
}

int close_unit(int unit) {
  int i = find(unit);
  return i < 0 ? 0 : release(i);
}

int flush_unit(int unit) {
  int i = find(unit);
  if (i < 0) return 0;
  flush_slot(i);
  return slots[i].error;
}

void close_all() {
  for (int i = 0; i < kSlots; ++i) {
    if (slots[i].fd < 0) continue;
    if (slots[i].owns_fd) {
      release(i);
    } else {
      flush_slot(i);
    }
  }
}

}  // namespace dnls::io
