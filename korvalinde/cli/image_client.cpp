#include "korvalinde/cli/image_client.hpp"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace korvalinde::cli {

namespace {

using Clock = std::chrono::steady_clock;

std::string helper_path() {
  std::vector<char> self(4096);
  const ssize_t k = ::readlink("/proc/self/exe", self.data(), self.size() - 1);
  if (k <= 0) return "korvalinde-image";
  std::string path(self.data(), static_cast<std::size_t>(k));
  return path.substr(0, path.find_last_of('/') + 1) + "korvalinde-image";
}

// Seconds the helper may take: KORVALINDE_IMAGE_TIMEOUT, else 60.
double time_limit() {
  const char* text = std::getenv("KORVALINDE_IMAGE_TIMEOUT");
  if (text == nullptr) return 60;
  char* end = nullptr;
  const double s = std::strtod(text, &end);
  return end != text && *end == '\0' && s > 0 && s < 1e6 ? s : 60;
}

// A pipe whose end on our side does not block.
bool make_pipe(int fds[2], int ours) {
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  ::fcntl(fds[ours], F_SETFL, ::fcntl(fds[ours], F_GETFL) | O_NONBLOCK);
  return true;
}

void close_all(std::initializer_list<int> fds) {
  for (const int fd : fds) {
    if (fd >= 0) ::close(fd);
  }
}

// What the helper sends back: its output and what it says on standard
// error (the first kSaidMax bytes).
constexpr std::size_t kSaidMax = 65536;
struct Exchange {
  bool sent = false;      // the whole document was read
  bool timed_out = false;
  std::string out, said;
};

// Sends `svg` to `in` while reading `from` and `err`, until both are at
// their end or the deadline passes.
Exchange talk(std::string_view svg, int in, int from, int err, Clock::time_point deadline) {
  Exchange x;
  std::string_view rest = svg;
  if (rest.empty()) {
    close_all({in});
    in = -1;
    x.sent = true;
  }
  char buffer[65536];
  while (from >= 0 || err >= 0) {
    pollfd fds[3] = {{in, POLLOUT, 0}, {from, POLLIN, 0}, {err, POLLIN, 0}};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      x.timed_out = true;
      break;
    }
    const int n = ::poll(fds, 3, static_cast<int>(std::min<long long>(left.count() + 1, 1 << 30)));
    if (n < 0 && errno != EINTR) break;
    if (n <= 0) continue;
    if (in >= 0 && fds[0].revents != 0) {
      const ssize_t k = ::write(in, rest.data(), rest.size());
      if (k > 0) rest.remove_prefix(static_cast<std::size_t>(k));
      if (rest.empty() || (k < 0 && errno != EAGAIN && errno != EINTR)) {
        x.sent = rest.empty();
        close_all({in});
        in = -1;
      }
    }
    for (int i = 1; i <= 2; ++i) {
      int& fd = i == 1 ? from : err;
      if (fd < 0 || fds[i].revents == 0) continue;
      const ssize_t k = ::read(fd, buffer, sizeof buffer);
      if (k < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (k <= 0) {
        close_all({fd});
        fd = -1;
      } else if (i == 1) {
        x.out.append(buffer, static_cast<std::size_t>(k));
      } else {
        const std::size_t room = kSaidMax - std::min(x.said.size(), kSaidMax);
        x.said.append(buffer, std::min(static_cast<std::size_t>(k), room));
      }
    }
  }
  close_all({in, from, err});
  return x;
}

// The helper's exit status, waiting no longer than the deadline; false when
// it had to be stopped (SIGKILL).
bool reap(pid_t pid, Clock::time_point deadline, int& status) {
  for (;;) {
    const pid_t got = ::waitpid(pid, &status, WNOHANG);
    if (got == pid) return true;
    if (got < 0 && errno != EINTR) return true;  // not ours to wait for any more
    if (Clock::now() >= deadline) break;
    ::usleep(2000);
  }
  ::kill(pid, SIGKILL);
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return false;
}

}  // namespace

bool render_image(std::string_view svg, const char* format, std::string& out) {
  out.clear();
  const std::string helper = helper_path();
  auto fail = [format](const std::string& why) {
    std::fprintf(stderr, "korvalinde: can not draw the %s picture: %s\n", format, why.c_str());
    return false;
  };
  int in[2] = {-1, -1}, from[2] = {-1, -1}, err[2] = {-1, -1};
  if (!make_pipe(in, 1) || !make_pipe(from, 0) || !make_pipe(err, 0)) {
    const int e = errno;
    close_all({in[0], in[1], from[0], from[1], err[0], err[1]});
    return fail(std::strerror(e));
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, from[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  std::string fmt(format);
  char* args[] = {const_cast<char*>(helper.c_str()), fmt.data(), nullptr};
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, helper.c_str(), &actions, nullptr, args, environ);
  posix_spawn_file_actions_destroy(&actions);
  close_all({in[0], from[1], err[1]});
  if (spawned != 0) {
    close_all({in[1], from[0], err[0]});
    return fail(helper + ": " + std::strerror(spawned));
  }
  // A helper that stops reading must not end us with SIGPIPE.
  struct sigaction ignore {}, old {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &old);
  const double limit = time_limit();
  const auto deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(limit));
  Exchange x = talk(svg, in[1], from[0], err[0], deadline);
  ::sigaction(SIGPIPE, &old, nullptr);
  int status = 0;
  const bool ended = !x.timed_out && reap(pid, deadline, status);
  if (!ended) {
    if (x.timed_out) reap(pid, Clock::now(), status);
    char secs[32];
    std::snprintf(secs, sizeof secs, "%g", limit);
    return fail(helper + " took longer than " + secs + " s and was stopped");
  }
  // What the helper said goes on, after it ended.
  if (!x.said.empty()) std::fwrite(x.said.data(), 1, x.said.size(), stderr);
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    return fail(helper + " was killed by signal " + std::to_string(sig) + " (" + strsignal(sig) + ")");
  }
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (code != 0) return x.said.empty() ? fail(helper + " ended with status " + std::to_string(code)) : false;
  if (!x.sent) return fail(helper + " ended without reading the picture");
  if (x.out.empty()) return fail(helper + " wrote no picture");
  out = std::move(x.out);
  return true;
}

}  // namespace korvalinde::cli
