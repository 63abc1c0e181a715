#include "korvalinde/classic/sysfile.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace korvalinde {

int open_existing(const std::string& name, struct stat* id) {
  // A name with a NUL byte would open a shorter, different name.
  if (name.find('\0') != std::string::npos) return -1;
  int fd;
  do {
    fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  if (id != nullptr) *id = st;
  return fd;
}

bool same_file(const std::string& name, const struct stat& id) {
  struct stat st;
  return ::stat(name.c_str(), &st) == 0 && st.st_dev == id.st_dev &&
         st.st_ino == id.st_ino;
}

}  // namespace korvalinde
