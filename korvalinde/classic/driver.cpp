#include "korvalinde/classic/driver.hpp"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>

#include "dnls/io/format.hpp"
#include "dnls/messages/machine.hpp"
#include "dnls/io/units.hpp"
#include "dnls/solver/dnls.hpp"
#include "korvalinde/classic/blocks.hpp"
#include "korvalinde/classic/diagnose.hpp"
#include "korvalinde/classic/histogram.hpp"
#include "korvalinde/classic/listread.hpp"
#include "korvalinde/classic/message.hpp"
#include "korvalinde/classic/model.hpp"
#include "korvalinde/classic/reader.hpp"
#include "korvalinde/classic/report.hpp"
#include "korvalinde/classic/solver_entry.hpp"
#include "korvalinde/classic/sysfile.hpp"

namespace korvalinde {
namespace {

constexpr int kWorkLength = 110050;

// Solver work arrays, lent to the solver for the one fit of the run.
double fvec[kMaxBins];
double wa[kWorkLength];
int iwa[2];

// Number of bins and parameters of the fit, for the result file.
struct {
  int m = 0;
  double params[2] = {0, 0};
} fit;

constexpr int kExitOk = 0;
constexpr int kExitOutputFailed = 1;
constexpr int kExitBadControl = 2;

// Reports a control input that cannot be read; `names` label the items.
int control_failure(const ListResult& r, const char* const* names) {
  const char* item = r.item > 0 ? names[r.item - 1] : "";
  using S = ListResult::Status;
  switch (r.status) {
    case S::EndOfInput:
      diagnose("korvalinde: unreadable control input: end of control input before the %s", item);
      break;
    case S::BadInteger:
      diagnose("korvalinde: unreadable control input: bad integer '%s' for the %s",
               r.token.c_str(), item);
      break;
    case S::BadReal:
      diagnose("korvalinde: unreadable control input: bad real '%s' for the %s", r.token.c_str(),
               item);
      break;
    default:
      diagnose("korvalinde: unreadable control input: %s", r.token.c_str());
      break;
  }
  return kExitBadControl;
}

// Ends the run: every file closed, and a standard output that could not be
// written is reported rather than passed over.
int finish(int status) {
  if (int err = dnls::io::flush_unit(dnls::io::kStdout); err != 0) {
    diagnose("korvalinde: can not write standard output: %s", std::strerror(err));
    status = kExitOutputFailed;
  }
  dnls::io::close_all();
  return status;
}

void trim_trailing_blanks(std::string& s) {
  std::size_t end = s.find_last_not_of(' ');
  s.erase(end == std::string::npos ? 0 : end + 1);
}

bool is_yes(const std::string& answer) {
  if (answer.empty()) return false;
  char c = answer[0];
  return c == 's' || c == 'S' || c == 'y' || c == 'Y';
}

void write_message(const Message& m) { dnls::fmt::write(dnls::io::kStdout, "(A)", {m.view()}); }

// Closes a descriptor when the run ends, or before.
struct Descriptor {
  int fd;
  explicit Descriptor(int f) : fd(f) {}
  ~Descriptor() { close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  void close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

}  // namespace

int run() {
  int status = 0;

  std::string data_name, answer, result_name;
  bool data_cut = false, result_cut = false;
  std::int32_t bins = 0;
  double probability = 0;

  // Names longer than the system's path limit cannot be opened: only that
  // much is kept, with a mark, so that memory stays bounded.
  constexpr std::size_t kPathMax = PATH_MAX;
  ListInput control(STDIN_FILENO);
  {
    static const char* const names[] = {"data file name", "bin count", "probability", "answer"};
    const ListItem items[] = {ListItem::of_text(data_name, kPathMax, &data_cut),
                              ListItem::of_int(bins), ListItem::of_real(probability),
                              ListItem::of_text(answer, 1)};
    ListResult r = read_list(control, items);
    if (r.status != ListResult::Status::Ok) return finish(control_failure(r, names));
  }
  trim_trailing_blanks(data_name);

  // The sample file is opened once, here, and read from this descriptor.
  struct stat sample_id {};
  Message message;
  const int fd = data_cut ? -1 : open_existing(data_name, &sample_id);
  if (fd < 0) {
    message.set(kCannotOpenText);
    write_message(message);
    return finish(kExitOk);
  }
  Descriptor sample(fd);

  const bool want_file = is_yes(answer);
  if (want_file) {
    static const char* const names[] = {"result file name"};
    const ListItem items[] = {ListItem::of_text(result_name, kPathMax, &result_cut)};
    ListResult r = read_list(control, items);
    if (r.status != ListResult::Status::Ok) return finish(control_failure(r, names));
    trim_trailing_blanks(result_name);
  }

  // A sample file that is standard input itself continues after the control
  // input: the bytes read ahead beyond its last line are the first samples.
  std::string_view ahead;
  struct stat in_id {};
  if (::fstat(STDIN_FILENO, &in_id) == 0 && in_id.st_dev == sample_id.st_dev &&
      in_id.st_ino == sample_id.st_ino) {
    ahead = control.rest_after_line();
    if (S_ISREG(in_id.st_mode)) {
      // A regular file opened anew starts at its beginning: go to where the
      // control input ends.
      const off_t at = ::lseek(STDIN_FILENO, 0, SEEK_CUR);
      if (at >= 0) ::lseek(fd, at - static_cast<off_t>(ahead.size()), SEEK_SET);
      ahead = {};
    }
  }

  int count = 0;
  ini_data(status, message, fd, ahead, data_name, count);
  // Read: its descriptor is not needed for the result file (which may need
  // the last one a low descriptor limit allows).
  sample.close();
  if (status < 0) {
    write_message(message);
    return finish(kExitOk);
  }
  if (fit_and_report(count, bins, probability)) {
    if (want_file) {
      // The report is out before the result file is written, so that it
      // survives whatever happens while writing the file.
      dnls::io::flush_unit(dnls::io::kStdout);
      printresults(result_name, result_cut, fit.params, fit.m, fvec, sample_id);
    }
  }
  return finish(kExitOk);
}

bool fit_and_report(int count, int bins, double probability) {
  const double tol = std::sqrt(dnls::D1MACH(4));
  const int n = 2;
  Message message;
  if (check_binning(count, bins, message) != 0) {
    write_message(message);
    return false;
  }

  double minimum, dx;
  preproccdata(count, bins, fit.m, fit.params, minimum, dx);

  int info = 0;
  dnls::DNLS1E(1, fit.m, n, fit.params, fvec, tol, 0, info, iwa, wa, kWorkLength);
  if (info < 1) {
    write_fit_failed();
    return false;
  }

  double cut = 0;
  int rc = 0;
  findcutdpa(probability, fit.params, cut, rc);
  if (rc < 1) {
    write_bad_probability();
    return false;
  }
  double rerror = 0;
  corrl(fit.m, fit.params, rerror);
  const double l2norm = enorm(fit.m, fvec);
  const double serror = standerror(fit.m, fvec);

  write_report({cut, serror, rerror, fit.params[0], fit.params[1], info, l2norm, dx});
  return true;
}

}  // namespace korvalinde
