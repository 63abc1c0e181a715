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

bool render_image(std::string_view svg, const char* format, std::string& out) {
  out.clear();
  const std::string helper = helper_path();
  int in[2], from[2];
  if (::pipe2(in, O_CLOEXEC) != 0) {
    std::fprintf(stderr, "korvalinde: can not draw the %s picture: %s\n", format, std::strerror(errno));
    return false;
  }
  if (::pipe2(from, O_CLOEXEC) != 0) {
    std::fprintf(stderr, "korvalinde: can not draw the %s picture: %s\n", format, std::strerror(errno));
    ::close(in[0]);
    ::close(in[1]);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, from[1], STDOUT_FILENO);
  std::string fmt(format);
  char* args[] = {const_cast<char*>(helper.c_str()), fmt.data(), nullptr};
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, helper.c_str(), &actions, nullptr, args, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(from[1]);
  if (spawned != 0) {
    ::close(in[1]);
    ::close(from[0]);
    std::fprintf(stderr, "korvalinde: can not draw the %s picture: %s: %s\n", format,
                 helper.c_str(), std::strerror(spawned));
    return false;
  }
  // The helper reads the whole document before it writes: send it all, then
  // read. A helper that dies early must not kill us with SIGPIPE.
  struct sigaction ignore {}, old {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &old);
  bool ok = true;
  for (std::string_view rest = svg; !rest.empty();) {
    const ssize_t k = ::write(in[1], rest.data(), rest.size());
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) {
      ok = false;
      break;
    }
    rest.remove_prefix(static_cast<std::size_t>(k));
  }
  ::close(in[1]);
  ::sigaction(SIGPIPE, &old, nullptr);
  char buffer[65536];
  for (;;) {
    const ssize_t k = ::read(from[0], buffer, sizeof buffer);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) break;
    out.append(buffer, static_cast<std::size_t>(k));
  }
  ::close(from[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  // The helper has said on standard error what went wrong.
  return ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace korvalinde::cli
