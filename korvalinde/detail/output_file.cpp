#include "korvalinde/detail/output_file.hpp"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace korvalinde::detail {
namespace {

// Temporary files to remove when a signal ends the run. A slot is free (0),
// being filled (1) or holds a name (2); the handler reads only full slots.
struct Slot {
  std::atomic<int> state{0};
  char path[PATH_MAX];
};
constexpr int kSlots = 16;
Slot slots[kSlots];

// Every signal whose default action ends the process, but for the faults
// that come from a program's own error (SIGSEGV, SIGILL, SIGFPE, SIGABRT,
// SIGTRAP, SIGSYS), which must show where they happened. SIGBUS is also a
// mapped input shrinking under the reader.
constexpr int kEnding[] = {SIGINT,  SIGTERM, SIGHUP,  SIGPIPE,   SIGXFSZ, SIGQUIT, SIGALRM,
                           SIGUSR1, SIGUSR2, SIGXCPU, SIGVTALRM, SIGPROF, SIGBUS};
std::atomic<bool> ending{false};

// The first ending signal removes the temporary files, then ends the run
// by the signal's default action. A signal that reaches another thread
// meanwhile (a sender may signal the process and its group) finds the
// handler still installed and returns, so that the process cannot die
// before the files are gone.
extern "C" void remove_temporaries(int sig) {
  if (ending.exchange(true)) return;
  const int saved = errno;
  for (Slot& s : slots) {
    if (s.state.load() == 2) ::unlink(s.path);
  }
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  ::sigaction(sig, &dfl, nullptr);
  errno = saved;
  ::raise(sig);  // blocked in the handler: delivered as it returns
}

// Signals that end the run by default: the handler removes the temporary
// files first. A signal the caller ignores or handles is left alone.
void install_handlers() {
  struct sigaction act {};
  act.sa_handler = remove_temporaries;
  sigemptyset(&act.sa_mask);
  for (const int sig : kEnding) sigaddset(&act.sa_mask, sig);
  for (const int sig : kEnding) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
    ::sigaction(sig, &act, nullptr);
  }
}

int register_temporary(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (slots[i].state.compare_exchange_strong(expected, 1)) {
      std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
      slots[i].state.store(2);
      return i;
    }
  }
  return -1;
}

void unregister_temporary(int& slot) {
  if (slot >= 0) slots[slot].state.store(0);
  slot = -1;
}

mode_t creation_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

bool same_file(const struct stat& a, int fd) {
  struct stat b;
  return ::fstat(fd, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

int write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

void reserve_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      // The lowest free descriptor is this one: those below it are open.
      const int got = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
      if (got >= 0 && got != fd) ::close(got);
    }
  }
}

OutputFile::~OutputFile() { discard(); }

std::string link_target(const std::string& name) {
  std::string path = name;
  for (int hop = 0; hop < 40; ++hop) {  // the kernel's own limit
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char target[PATH_MAX];
    const ssize_t k = ::readlink(path.c_str(), target, sizeof target);
    if (k <= 0 || static_cast<std::size_t>(k) >= sizeof target) return path;  // the open tells why
    const std::string_view to(target, static_cast<std::size_t>(k));
    const std::size_t slash = path.rfind('/');
    path = to[0] == '/' || slash == std::string::npos ? std::string(to)
                                                       : path.substr(0, slash + 1) + std::string(to);
  }
  return {};
}

int OutputFile::open(const std::string& name, InPlace in_place) {
  discard();
  beside_failed_ = false;
  if (name.empty()) return ENOENT;
  if (name.find('\0') != std::string::npos) return EINVAL;
  path_ = name;
  struct stat st;
  const bool exists = ::stat(name.c_str(), &st) == 0;
  const int stat_error = errno;
  bool direct = false;
  struct stat lst;
  if (::lstat(name.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
    if (exists) {
      char* real = ::realpath(name.c_str(), nullptr);
      direct = real == nullptr;  // a link to no name, such as a pipe's in /proc
      if (real != nullptr) path_ = real;
      std::free(real);
    } else {
      // A dangling link: the output becomes the file it names.
      path_ = link_target(name);
      if (path_.empty()) return ELOOP;
    }
  }
  if (!direct && exists) {
    for (const int standard : {STDOUT_FILENO, STDERR_FILENO}) {
      if (same_file(st, standard)) {
        fd_ = ::fcntl(standard, F_DUPFD_CLOEXEC, 0);
        return fd_ < 0 ? errno : 0;
      }
    }
    if (!S_ISREG(st.st_mode)) {
      direct = true;
    } else {
      if (::faccessat(AT_FDCWD, path_.c_str(), W_OK, AT_EACCESS) != 0) return errno;
      mode_ = st.st_mode & 07777;
    }
  } else if (!direct) {
    direct = stat_error != ENOENT;  // the open tells why
    mode_ = creation_mode();
  }
  if (!direct) {
    const std::size_t slash = path_.rfind('/');
    temporary_ = slash == std::string::npos ? std::string() : path_.substr(0, slash + 1);
    temporary_ += ".korvalinde-XXXXXX";
    static std::once_flag installed;
    std::call_once(installed, install_handlers);
    // No ending signal between the file's creation and its registration.
    sigset_t ending_signals, old;
    sigemptyset(&ending_signals);
    for (const int sig : kEnding) sigaddset(&ending_signals, sig);
    ::pthread_sigmask(SIG_BLOCK, &ending_signals, &old);
    fd_ = ::mkostemp(temporary_.data(), O_CLOEXEC);
    const int err = errno;
    if (fd_ >= 0) slot_ = register_temporary(temporary_);
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (fd_ >= 0) return 0;
    temporary_.clear();
    // Writing in place would truncate the old file long before the new
    // bytes are ready. A new file could not be created either.
    if (in_place == InPlace::refused) {
      beside_failed_ = exists && err != ENOENT && err != ENOTDIR;
      return err;
    }
  }
  do {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd_ < 0 && errno == EINTR);
  return fd_ < 0 ? errno : 0;
}

int OutputFile::write(std::string_view bytes) { return fd_ < 0 ? EBADF : write_all(fd_, bytes); }

int OutputFile::commit(int write_error) {
  if (fd_ < 0) return write_error != 0 ? write_error : EBADF;
  int err = write_error;
  if (err == 0 && !temporary_.empty() && ::fchmod(fd_, mode_) != 0) err = errno;
  if (::close(fd_) != 0 && err == 0) err = errno;
  fd_ = -1;
  if (!temporary_.empty()) {
    if (err == 0 && ::rename(temporary_.c_str(), path_.c_str()) != 0) err = errno;
    if (err != 0) ::unlink(temporary_.c_str());
    unregister_temporary(slot_);
    temporary_.clear();
  }
  return err;
}

void OutputFile::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
    unregister_temporary(slot_);
    temporary_.clear();
  }
}

}  // namespace korvalinde::detail
