// Runs a program repeatedly with a file as its standard input and its
// standard output discarded, and prints the wall time of the runs (median,
// minimum, maximum) and the largest peak resident set size among them:
//
//   korvalinde_runner RUNS INPUT PROGRAM [ARGUMENT...]
//
// Every run must end with exit status 0. The time of a run covers process
// creation to reaping; the resident set comes from wait4's resource usage.
//
//   korvalinde_runner --exit
//
// does nothing: run through the runner, it gives the floor of both figures
// for a static program.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

extern char** environ;

namespace {

double now_us() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--exit") == 0) return 0;
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s RUNS INPUT PROGRAM [ARGUMENT...]\n", argv[0]);
    return 2;
  }
  const int runs = std::atoi(argv[1]);
  if (runs < 1) {
    std::fprintf(stderr, "%s: RUNS must be at least 1\n", argv[0]);
    return 2;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, argv[2], O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);

  std::vector<double> times;
  times.reserve(static_cast<std::size_t>(runs));
  long max_rss_kb = 0;
  for (int i = 0; i < runs; ++i) {
    const double start = now_us();
    pid_t pid;
    if (int err = posix_spawn(&pid, argv[3], &actions, nullptr, argv + 3, environ); err != 0) {
      std::fprintf(stderr, "%s: cannot run %s: %s\n", argv[0], argv[3], std::strerror(err));
      return 1;
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
      if (errno != EINTR) {
        std::perror("wait4");
        return 1;
      }
    }
    times.push_back(now_us() - start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "%s: run %d of %s did not end with status 0\n", argv[0], i + 1,
                   argv[3]);
      return 1;
    }
    max_rss_kb = std::max(max_rss_kb, usage.ru_maxrss);
  }
  posix_spawn_file_actions_destroy(&actions);

  std::sort(times.begin(), times.end());
  const std::size_t n = times.size();
  const double median = n % 2 == 1 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
  std::printf("runs %zu\nwall_median_us %.0f\nwall_min_us %.0f\nwall_max_us %.0f\n", n, median,
              times.front(), times.back());
  std::printf("max_rss_kb %ld\n", max_rss_kb);
  return 0;
}
