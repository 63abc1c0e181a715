#include "korvalinde/classic/report.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dnls/io/format.hpp"
#include "dnls/io/units.hpp"
#include "korvalinde/classic/blocks.hpp"
#include "korvalinde/classic/diagnose.hpp"
#include "korvalinde/classic/model.hpp"
#include "korvalinde/classic/sysfile.hpp"
#include "korvalinde/core/result_table.hpp"

namespace korvalinde {

namespace fmt = dnls::fmt;
using dnls::io::kStdout;

namespace {

constexpr int kResultUnit = 21;
constexpr std::string_view kRule = "===========================================";

}  // namespace

void write_report(const FitSummary& s) {
  fmt::write(kStdout,
             "(2x,F10.5,1x,F12.7,1x,F10.7,3x,'DPA_CUT  SERROR  RERROR',/             2x,F15.5,2x,"
             "F15.5,3x, 'FITTING PARAMETERs ',/)",
             {s.cut, s.serror, s.rerror, s.a, s.b});
  fmt::write_free(kStdout, kRule);
  fmt::write_free(kStdout, "          FITTING RESULTS                  ");
  fmt::write_free(kStdout, kRule);
  fmt::write(kStdout,
             "(2x,I15,20x, 'EXIT PATAMETER (POSITIVE: NORMAL EXIT) ',/,        2x,2F15.7,5x,"
             "'FINAL APPROXIMATE SOLUTION',/,2x,F15.7,20x,         'FINAL L2 NORM OF THE "
             "RESIDUALS',/,2x,F15.7,20x,                  'FINAL STAND ERROR',/,2x,F15.7,20x,"
             "'DELTA X')",
             {s.info, s.a, s.b, s.l2norm, s.serror, s.dx});
  fmt::write(kStdout,
             "(//,'Extreme value fitting: ',//,                                10x, "
             "'f(x) = exp(-(x-a)/b)*exp(-(exp(-(x-a)/b))/b',/)");
}

void write_fit_failed() {
  fmt::write(kStdout, "(2x,I15,20x, 'EXIT PATAMETER < 0, ERROR FITTING  ',//)", {-2});
}

void write_bad_probability() {
  fmt::write(kStdout, "(2x,I15,20x, 'ERROR INPUT FOR PERCENTAGE',//)", {-1});
}

namespace {

constexpr std::string_view kCannotWriteText = " Can not open file for WRITE";

// Where the rows go: a new file beside the target that is renamed over it,
// or (for devices, FIFOs and names that cannot take a file beside them) the
// target itself.
struct ResultTarget {
  std::string path;       // the file that ends up with the rows
  std::string temporary;  // empty when writing directly
  int fd = -1;
  mode_t mode = 0;
};

mode_t creation_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

bool same_id(const struct stat& a, int fd) {
  struct stat b;
  return ::fstat(fd, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens a temporary file in the directory of the file `name` stands for
// (through symbolic links); false when the rows should go to `name`
// directly: a device, a FIFO, a dangling link, the file standard output or
// error writes to, or a directory that takes no new file.
bool open_beside(const std::string& name, ResultTarget& t) {
  t.path = name;
  struct stat st;
  if (::lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char* real = ::realpath(name.c_str(), nullptr);
    if (real == nullptr) return false;
    t.path = real;
    std::free(real);
  }
  if (::stat(t.path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode) || same_id(st, STDOUT_FILENO) || same_id(st, STDERR_FILENO))
      return false;
    t.mode = st.st_mode & 07777;
  } else if (errno == ENOENT) {
    t.mode = creation_mode();
  } else {
    return false;
  }
  const std::size_t slash = t.path.rfind('/');
  t.temporary = slash == std::string::npos ? std::string() : t.path.substr(0, slash + 1);
  t.temporary += ".korvalinde-XXXXXX";
  t.fd = ::mkostemp(t.temporary.data(), O_CLOEXEC);
  return t.fd >= 0;
}

// Moves the finished temporary file over the target; 0 or an errno. The
// temporary file is removed on any failure.
int commit(ResultTarget& t, int write_error) {
  int err = write_error;
  if (err == 0 && ::fchmod(t.fd, t.mode) != 0) err = errno;
  if (::close(t.fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(t.temporary.c_str(), t.path.c_str()) != 0) err = errno;
  if (err != 0) ::unlink(t.temporary.c_str());
  return err;
}

}  // namespace

void printresults(const std::string& name, bool cut, const double params[2], int m,
                  const double* residuals, const struct stat& sample) {
  // Opening the sample file for writing would destroy the measurements.
  if (same_file(name, sample)) {
    fmt::write_free(kStdout, kCannotWriteText);
    diagnose("Result file %s is the sample file; it was not overwritten", name.c_str());
    return;
  }
  // A name with a NUL byte would open a shorter, different name; one cut
  // short would open another.
  if (cut || name.find('\0') != std::string::npos) {
    fmt::write_free(kStdout, kCannotWriteText);
    return;
  }
  ResultTarget target;
  const bool beside = open_beside(name, target);
  const int opened = beside ? (dnls::io::attach_unit(kResultUnit, target.fd), 0)
                            : dnls::io::open_unit(kResultUnit, name.c_str());
  if (opened != 0) {
    fmt::write_free(kStdout, kCannotWriteText);
    return;
  }
  fmt::write(kResultUnit, kResultHeaderLayout, {"#", "X(i)", "Y(i)", "Fitted_Y(i)", "DELTA"});
  for (int i = 0; i < m; ++i) {
    fmt::write(kResultUnit, kResultRowLayout,
               {data1.x[i], data1.y[i], extremeval(data1.x[i], params[0], params[1]),
                residuals[i]});
  }
  // The file is complete before the closing line claims success.
  int err = dnls::io::close_unit(kResultUnit);
  if (beside) err = commit(target, err);
  if (err != 0) {
    diagnose("Can not write result file %s: %s", name.c_str(), std::strerror(err));
    return;
  }
  fmt::write(kStdout, "(A,//)", {"Fitting results data see: korvalindetingresult.dat"});
}

}  // namespace korvalinde
