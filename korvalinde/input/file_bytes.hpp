// How the readers take the bytes of a regular file: copied with pread into
// memory of their own, never mapped, so that a file rewritten or cut short
// while it is read can neither change bytes already taken nor fault on a
// page; and the file's state before and after, which tells whether it
// changed meanwhile.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "korvalinde/detail/uninit.hpp"
#include "korvalinde/records/input_error.hpp"

namespace korvalinde {

// What changes when a file is written, cut or replaced in place.
struct FileStamp {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{}, ctime{};
};

FileStamp stamp_of(const struct stat& st);

// Whether `fd` still has the state `before`; false when it cannot be asked.
bool unchanged(int fd, const FileStamp& before);

// The fault of a file that changed while it was read.
InputError changed_while_read();

// Reads `size` bytes at `offset` into `to`, split between up to `threads`
// threads, retrying interrupted and short reads. Returns the bytes read
// (fewer only at the end of the file) or minus the errno.
std::int64_t read_at(int fd, char* to, std::size_t size, off_t offset, unsigned threads);

// The whole of a descriptor that is not a regular file (a pipe, a
// terminal), read with read from where it stands. It ends early, after the
// first `longest` bytes of a line longer than that: `cut` is then true.
struct TextRead {
  detail::RawVector<char> text;
  bool cut = false;
  int error = 0;  // errno of a failed read
};
TextRead read_text(int fd, std::size_t longest);

}  // namespace korvalinde
