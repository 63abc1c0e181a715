// Record-oriented output on numbered units.
//
// Unit 0 is the standard error stream and unit 6 the standard output stream;
// other units are files connected with open_unit. Every unit writes through a
// fixed buffer (no allocation). A failed write or close is remembered per
// unit (its errno) so that callers can report it once, where it matters.
//
// Units belong to the calling thread: a unit number connected in one thread
// means nothing in another, and each thread buffers its own standard output
// (standard error is written record by record). When a thread other than the
// main one ends, its units are flushed and its files closed.
#pragma once

#include <string_view>

namespace dnls::io {

inline constexpr int kStderr = 0;
inline constexpr int kStdout = 6;

// Appends `line` and a line end to the unit. Returns false when the unit is
// not connected or has failed.
bool write_record(int unit, std::string_view line);

// Opens `path` for writing as `unit` (created when absent, truncated when it
// exists). Returns 0 or the errno of the failed open.
int open_unit(int unit, const char* path);

// Connects `unit` to an already open descriptor (tests use this to capture
// the standard streams). The descriptor is not closed by close_unit.
void attach_unit(int unit, int fd);

// Flushes and closes the unit. Returns 0, or the errno of the first failed
// write, flush or close since the unit was connected.
int close_unit(int unit);

// Flushes the unit's buffer. Returns 0 or the unit's first errno.
int flush_unit(int unit);

// Flushes every unit of the calling thread and closes its files; used when
// the run ends.
void close_all();

}  // namespace dnls::io
