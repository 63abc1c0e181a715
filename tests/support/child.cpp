#include "tests/support/child.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "dnls/io/units.hpp"

namespace testsupport {
namespace {

int temp_fd(std::string& path) {
  char name[] = "/tmp/korvalinde-child-XXXXXX";
  int fd = mkstemp(name);
  if (fd < 0) std::abort();
  path = name;
  return fd;
}

}  // namespace

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::string& path, std::string_view content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

TempDir::TempDir() {
  char name[] = "/tmp/korvalinde-test-XXXXXX";
  if (mkdtemp(name) == nullptr) std::abort();
  path_ = name;
}

TempDir::~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }

ChildRun run_in_child(const std::function<void()>& body, std::string_view input) {
  std::string in_path, out_path, err_path;
  int in_fd = temp_fd(in_path);
  int out_fd = temp_fd(out_path);
  int err_fd = temp_fd(err_path);
  if (write(in_fd, input.data(), input.size()) != static_cast<ssize_t>(input.size())) std::abort();
  lseek(in_fd, 0, SEEK_SET);

  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) std::abort();
  if (pid == 0) {
    dup2(in_fd, 0);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    body();
    dnls::io::close_all();
    std::fflush(nullptr);
    _exit(kReturned);
  }
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  close(in_fd);
  close(out_fd);
  close(err_fd);

  ChildRun run;
  run.exited = WIFEXITED(wstatus);
  run.status = run.exited ? WEXITSTATUS(wstatus) : WTERMSIG(wstatus);
  run.out = read_file(out_path);
  run.err = read_file(err_path);
  unlink(in_path.c_str());
  unlink(out_path.c_str());
  unlink(err_path.c_str());
  return run;
}

}  // namespace testsupport
