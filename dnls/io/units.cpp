#include "dnls/io/units.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
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

// The units of one thread.
struct Table {
  Slot slots[kSlots];
  char buffers[kSlots][kBufferSize];
};

// Every thread has its own units. Half a megabyte of buffers per thread is
// too heavy for thread_local storage (every thread of the host program would
// carry it from its start), so each thread holds a pointer, set on its first
// unit access: the first thread gets the static table, which keeps the
// single-threaded program free of allocations, and any other thread a table
// from the heap (served from fresh pages: buffers cost memory only once
// written). When a thread ends, a key destructor flushes its units, closes
// its files and gives its table back. The destructor does not run for the
// main thread at exit: there, as for the halt, close_all is the program's
// own call.
Table first_table;
std::atomic<bool> first_taken{false};
thread_local Table* current = nullptr;
pthread_key_t table_key;
pthread_once_t key_once = PTHREAD_ONCE_INIT;

void release_table(void* p);

void create_key() {
  if (pthread_key_create(&table_key, &release_table) != 0) std::abort();
}

Table& table() {
  if (current != nullptr) return *current;
  Table* t = nullptr;
  if (!first_taken.exchange(true, std::memory_order_acquire)) {
    t = &first_table;
  } else {
    t = new Table;
  }
  pthread_once(&key_once, &create_key);
  pthread_setspecific(table_key, t);
  current = t;
  return *t;
}

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
void flush_slot(Table& t, int i) {
  Slot& s = t.slots[i];
  if (s.used > 0 && s.error == 0) fail(s, write_all(s.fd, t.buffers[i], s.used));
  s.used = 0;
}

int find(const Table& t, int unit) {
  for (int i = 0; i < kSlots; ++i)
    if (t.slots[i].fd >= 0 && t.slots[i].unit == unit) return i;
  return -1;
}

int connect(Table& t, int unit, int fd, bool owns) {
  int i = find(t, unit);
  if (i < 0) {
    for (int k = 0; k < kSlots && i < 0; ++k)
      if (t.slots[k].fd < 0) i = k;
    if (i < 0) return -1;
  }
  t.slots[i] = Slot{unit, fd, owns, unit == kStderr, 0, 0};
  return i;
}

// Slot of a unit; the standard streams are connected on first use.
int lookup(Table& t, int unit) {
  int i = find(t, unit);
  if (i >= 0) return i;
  if (unit == kStderr) return connect(t, unit, 2, false);
  if (unit == kStdout) return connect(t, unit, 1, false);
  return -1;
}

// Flushes, closes an owned descriptor and frees the slot. Returns the slot's first errno.
int release(Table& t, int i) {
  Slot& s = t.slots[i];
  flush_slot(t, i);
  if (s.owns_fd && ::close(s.fd) != 0) fail(s, errno);
  int err = s.error;
  s = Slot{};
  return err;
}

// Flushes every unit of the table and closes its files.
void close_table(Table& t) {
  for (int i = 0; i < kSlots; ++i) {
    if (t.slots[i].fd < 0) continue;
    if (t.slots[i].owns_fd) {
      release(t, i);
    } else {
      flush_slot(t, i);
    }
  }
}

// Key destructor: the thread that used the table has ended.
void release_table(void* p) {
  auto* t = static_cast<Table*>(p);
  close_table(*t);
  current = nullptr;
  if (t == &first_table) {
    for (Slot& s : t->slots) s = Slot{};
    first_taken.store(false, std::memory_order_release);
  } else {
    delete t;
  }
}

}  // namespace

bool write_record(int unit, std::string_view line) {
  Table& t = table();
  int i = lookup(t, unit);
  if (i < 0) return false;
  Slot& s = t.slots[i];
  if (s.error != 0) return false;
  if (s.used + line.size() + 1 > kBufferSize) flush_slot(t, i);
  if (line.size() + 1 > kBufferSize) {
    // Longer than the whole buffer: write it straight through.
    if (s.error == 0) fail(s, write_all(s.fd, line.data(), line.size()));
    if (s.error == 0) fail(s, write_all(s.fd, "\n", 1));
  } else if (s.error == 0) {
    std::memcpy(t.buffers[i] + s.used, line.data(), line.size());
    s.used += line.size();
    t.buffers[i][s.used++] = '\n';
    if (s.each_record) flush_slot(t, i);
  }
  return s.error == 0;
}

int open_unit(int unit, const char* path) {
  Table& t = table();
  int i = find(t, unit);
  if (i >= 0) release(t, i);
  int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  if (connect(t, unit, fd, true) < 0) {
    ::close(fd);
    return EMFILE;
  }
  return 0;
}

void attach_unit(int unit, int fd) {
  Table& t = table();
  int i = find(t, unit);
  if (i >= 0) release(t, i);
  connect(t, unit, fd, false);
}

int close_unit(int unit) {
  Table& t = table();
  int i = find(t, unit);
  return i < 0 ? 0 : release(t, i);
}

int flush_unit(int unit) {
  Table& t = table();
  int i = find(t, unit);
  if (i < 0) return 0;
  flush_slot(t, i);
  return t.slots[i].error;
}

void close_all() {
  if (current != nullptr) close_table(*current);
}

}  // namespace dnls::io
