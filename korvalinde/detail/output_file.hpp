// An output file replaced whole or not at all. The bytes go to a new file
// beside the target, which takes the target's name once complete; a failed
// or interrupted run leaves the old file as it was. A symbolic link, also a
// dangling one, is followed to the file it names. Devices and FIFOs are
// written directly, and a name for the file that standard output or error
// already writes to is written through that open descriptor, after what it
// holds. A name that cannot take a file beside it (a read-only directory) is
// refused, or written in place when the caller allows that.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace korvalinde::detail {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // an output not committed is discarded
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  enum class InPlace { refused, allowed };

  // Opens the output `name`: 0 or an errno. An empty name is ENOENT; an
  // existing file that may not be written is refused (EACCES, as an open
  // for writing would). When no file can be created beside the target,
  // `in_place` says whether the target itself is opened and truncated now;
  // when refused, the errno is returned and beside_failed() is true.
  int open(const std::string& name, InPlace in_place = InPlace::allowed);

  // Whether the last open failed because no file could be created beside
  // the target.
  bool beside_failed() const { return beside_failed_; }

  // The descriptor to write to (-1 before open).
  int fd() const { return fd_; }

  // Writes all of `bytes`: 0 or an errno.
  int write(std::string_view bytes);

  // Completes the output: the temporary file gets the target's permissions
  // and name. 0 or an errno (`write_error`, when not 0, is passed on); on any
  // failure the temporary file is removed.
  int commit(int write_error = 0);

  // Removes the temporary file, leaving the target as it was.
  void discard();

 private:
  std::string path_;       // the file that ends up with the bytes
  std::string temporary_;  // empty when writing directly
  int fd_ = -1;
  mode_t mode_ = 0;
  int slot_ = -1;  // where the temporary is registered for removal on a signal
  bool beside_failed_ = false;
};

// The file that writing to `name` replaces or creates: symbolic links
// followed, a dangling one's target included. `name` itself when it is no
// link; empty after too many links.
std::string link_target(const std::string& name);

// Writes all of `bytes` to `fd`, retrying interrupted and partial writes: 0
// or an errno.
int write_all(int fd, std::string_view bytes);

// Opens /dev/null on any of the descriptors 0, 1 and 2 that is closed, so
// that no file opened later takes the place of a standard stream.
void reserve_standard_descriptors();

}  // namespace korvalinde::detail
