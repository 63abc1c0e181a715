// Opening of named files for reading.
#pragma once

#include <sys/stat.h>

#include <string>

namespace korvalinde {

// Opens an existing file for reading. A directory counts as a failed open.
// Returns the descriptor or -1; `id` (when given) receives the file's status.
int open_existing(const std::string& name, struct stat* id = nullptr);

// True when `name` is an existing file with the device and inode of `id`.
bool same_file(const std::string& name, const struct stat& id);

}  // namespace korvalinde
