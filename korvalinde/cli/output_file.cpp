#include "korvalinde/cli/output_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace korvalinde::cli {

namespace {

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t k = ::write(fd, bytes.data(), bytes.size());
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(k));
  }
  return true;
}

}  // namespace

std::string write_output_file(const std::string& name, std::string_view bytes) {
  if (name == "-") {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    return std::fflush(stdout) == 0 ? std::string() : std::strerror(errno);
  }
  std::vector<char> temp(name.begin(), name.end());
  for (char c : std::string_view(".tmpXXXXXX")) temp.push_back(c);
  temp.push_back('\0');
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return std::strerror(errno);
  // mkstemp makes the file private; give it the usual mode.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  bool ok = write_all(fd, bytes);
  int error = errno;
  if (::close(fd) != 0 && ok) ok = false, error = errno;
  if (ok && std::rename(temp.data(), name.c_str()) != 0) ok = false, error = errno;
  if (!ok) {
    ::unlink(temp.data());
    return std::strerror(error);
  }
  return {};
}

}  // namespace korvalinde::cli
