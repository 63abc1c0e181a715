#include "korvalinde/classic/sysfile.hpp"

#include <string>

#include "korvalinde/input/sample_reader.hpp"

namespace korvalinde {

int open_existing(const std::string& name, struct stat* id) {
  const int fd = open_sample(name, id);
  return fd < 0 ? -1 : fd;
}

bool same_file(const std::string& name, const struct stat& id) {
  struct stat st;
  return ::stat(name.c_str(), &st) == 0 && st.st_dev == id.st_dev &&
         st.st_ino == id.st_ino;
}

}  // namespace korvalinde
