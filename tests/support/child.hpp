// Runs a piece of code in a child process with its standard streams captured,
// so that tests can check code paths that end the run and compare whole
// outputs byte for byte.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace testsupport {

struct ChildRun {
  bool exited = false;  // ended by exit (not by a signal)
  int status = -1;      // exit status, or the signal number
  std::string out;      // what the child wrote on standard output
  std::string err;      // what the child wrote on standard error
};

// Exit status of a child whose body returned instead of ending the run.
inline constexpr int kReturned = 99;

// Runs `body` in a forked child with `input` on its standard input. When the
// body returns, the child flushes the output units and exits with kReturned.
ChildRun run_in_child(const std::function<void()>& body, std::string_view input = {});

// Reads a whole file; empty when it does not exist.
std::string read_file(const std::string& path);

// Writes a whole file.
void write_file(const std::string& path, std::string_view content);

// A fresh temporary directory, removed with its content on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace testsupport
