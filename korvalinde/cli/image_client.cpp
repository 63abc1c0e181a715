#include "korvalinde/cli/image_client.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

extern char** environ;

namespace korvalinde::cli {

namespace {

std::string helper_path() {
  std::vector<char> self(4096);
  const ssize_t k = ::readlink("/proc/self/exe", self.data(), self.size() - 1);
  if (k <= 0) return "korvalinde-image";
  std::string path(self.data(), static_cast<std::size_t>(k));
  return path.substr(0, path.find_last_of('/') + 1) + "korvalinde-image";
}

}  // namespace

bool write_image(std::string_view svg, const char* format, const std::string& file) {
  const std::string helper = helper_path();
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
    std::fprintf(stderr, "korvalinde: can not write %s: %s\n", file.c_str(), std::strerror(errno));
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[0], STDIN_FILENO);
  std::string fmt(format), out(file);
  char* args[] = {const_cast<char*>(helper.c_str()), fmt.data(), out.data(), nullptr};
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, helper.c_str(), &actions, nullptr, args, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_fds[0]);
  if (spawned != 0) {
    ::close(pipe_fds[1]);
    std::fprintf(stderr, "korvalinde: can not write %s: %s: %s\n", file.c_str(), helper.c_str(),
                 std::strerror(spawned));
    return false;
  }
  // A helper that dies early must not kill us with SIGPIPE: the write fails instead.
  struct sigaction ignore {}, old {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &old);
  bool written = true;
  for (std::string_view rest = svg; !rest.empty();) {
    const ssize_t k = ::write(pipe_fds[1], rest.data(), rest.size());
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) {
      written = false;
      break;
    }
    rest.remove_prefix(static_cast<std::size_t>(k));
  }
  ::close(pipe_fds[1]);
  ::sigaction(SIGPIPE, &old, nullptr);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  // The helper has said what went wrong on standard error.
  return written && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace korvalinde::cli
