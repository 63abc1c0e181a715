// Fuzz target: a whole run. The input is
//   byte 0        selects the result file name (bits 0-1: r, r, d = the sample
//                 file itself, 'x/r' in a missing directory) and the sample
//                 (bits 2-4: 0-5 a file d, 6 no file, 7 a directory d);
//   up to a NUL   the control values after the sample name (line ends become
//                 blanks, so the control input keeps its two lines);
//   after it      the bytes of the sample file.
// The control input is "d <values>\n<result name>\n". The run happens in a
// forked child inside a fresh temporary directory, with its standard streams
// on memory files; the parent checks the exit status, the exact shape of
// standard output and error, and the files left in the directory. From its
// own reading of the control input and the sample it also knows which message
// line reading or binning must end with, and otherwise the bin width, the
// first bin centre and the cut value that the report and result file show.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/reference.hpp"
#include "fuzz/support.hpp"
#include "korvalinde/classic/blocks.hpp"
#include "korvalinde/classic/driver.hpp"
#include "korvalinde/classic/listread.hpp"

namespace {

using fuzz::fail;

// --- coverage of the child -------------------------------------------------------
//
// The coverage counters of the instrumented build are written by the child,
// in its own copy of memory. The pages holding them are therefore remapped
// as shared memory once, so that the fuzzer sees what the child covered.
// Other data that happens to share the first or last of those pages is
// saved before each run and put back after it, so the child cannot change
// the parent's state through them.
#ifdef KORVALINDE_LIBFUZZER
}  // namespace
namespace fuzz {
void coverage_counters(std::uint8_t*& begin, std::uint8_t*& end);  // counters.cpp
}  // namespace fuzz
namespace {

// The pages beside the counters hold globals with their sanitizer red zones,
// which are copied as plain bytes: no checks, no library calls.
__attribute__((no_sanitize("address"))) void copy_bytes(const std::uint8_t* from,
                                                        const std::uint8_t* to, std::uint8_t* out) {
  volatile std::uint8_t* o = out;
  for (const std::uint8_t* p = from; p < to; ++p) *o++ = *p;
}

class SharedCounters {
 public:
  SharedCounters() {
    if (const char* off = std::getenv("KORVALINDE_FUZZ_CHILD_COVERAGE"); off && *off == '0') return;
    fuzz::coverage_counters(begin_, end_);
    if (begin_ == nullptr || end_ <= begin_) {
      begin_ = end_ = nullptr;
      return;
    }
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    lo_ = reinterpret_cast<std::uint8_t*>(reinterpret_cast<std::uintptr_t>(begin_) & ~(page - 1));
    hi_ = reinterpret_cast<std::uint8_t*>((reinterpret_cast<std::uintptr_t>(end_) + page - 1) &
                                          ~(page - 1));
    const std::size_t length = static_cast<std::size_t>(hi_ - lo_);
    std::string pages(length, '\0');
    copy_bytes(lo_, hi_, reinterpret_cast<std::uint8_t*>(pages.data()));
    fuzz::MemFile shared("counters");
    shared.assign(pages);
    if (::mmap(lo_, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, shared.fd(), 0) ==
        MAP_FAILED)
      fail("mmap of the coverage counters: %s", std::strerror(errno));
    head_.resize(static_cast<std::size_t>(begin_ - lo_));
    tail_.resize(static_cast<std::size_t>(hi_ - end_));
  }

  // Around each child run: the bytes beside the counters.
  void save() {
    copy_bytes(lo_, begin_, head_.data());
    copy_bytes(end_, hi_, tail_.data());
  }
  void restore() {
    copy_bytes(head_.data(), head_.data() + head_.size(), lo_);
    copy_bytes(tail_.data(), tail_.data() + tail_.size(), end_);
  }

 private:
  std::uint8_t *begin_ = nullptr, *end_ = nullptr, *lo_ = nullptr, *hi_ = nullptr;
  std::vector<std::uint8_t> head_, tail_;
};
#else
struct SharedCounters {
  void save() {}
  void restore() {}
};
#endif

// --- the child -------------------------------------------------------------------

struct ChildResult {
  int wait_status = 0;
  std::string out, err;
};

int child_timeout_seconds() {
  const char* s = std::getenv("KORVALINDE_FUZZ_RUN_TIMEOUT");
  const int v = s ? std::atoi(s) : 0;
  return v > 0 ? v : 20;
}

double now_seconds() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Waits for the child; false when it outlived the time limit (it is then killed).
bool wait_child(pid_t pid, int& status) {
  const double deadline = now_seconds() + child_timeout_seconds();
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  long nap_us = 20;
  for (;;) {
    const pid_t w = ::waitpid(pid, &status, WNOHANG);
    if (w == pid) break;
    if (w < 0 && errno != EINTR) fail("waitpid: %s", std::strerror(errno));
    const double left = deadline - now_seconds();
    if (left <= 0) {
      ::kill(pid, SIGKILL);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      if (pidfd >= 0) ::close(pidfd);
      return false;
    }
    if (pidfd >= 0) {
      pollfd p{pidfd, POLLIN, 0};
      ::poll(&p, 1, static_cast<int>(std::min(left * 1000 + 1, 1000.0)));
    } else {
      ::usleep(static_cast<useconds_t>(nap_us));
      nap_us = std::min(nap_us * 2, 5000L);
    }
  }
  if (pidfd >= 0) ::close(pidfd);
  return true;
}

ChildResult run_child(const std::string& control, const std::string& dir, const char* input_note) {
  static SharedCounters counters;
  static fuzz::MemFile in("stdin"), out("stdout"), err("stderr");
  in.assign(control);
  out.assign({});
  err.assign({});
  std::fflush(nullptr);  // nothing of the parent's may be flushed again by the child
  counters.save();
  const pid_t pid = ::fork();
  if (pid < 0) fail("fork: %s", std::strerror(errno));
  if (pid == 0) {
    ::dup2(in.fd(), 0);
    ::dup2(out.fd(), 1);
    ::dup2(err.fd(), 2);
    if (::chdir(dir.c_str()) != 0) ::_exit(101);
    ::_exit(korvalinde::run());
  }
  ChildResult r;
  const bool finished = wait_child(pid, r.wait_status);
  counters.restore();
  r.out = out.content();
  r.err = err.content();
  if (!finished)
    fail("the run did not end within %d s (%s)\n--- stdout:\n%s\n--- stderr:\n%s",
         child_timeout_seconds(), input_note, fuzz::shown(r.out, 2000, true).c_str(),
         fuzz::shown(r.err, 4000, true).c_str());
  return r;
}

// --- the temporary directory -----------------------------------------------------

std::string make_temp_dir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/korvalinde-fuzz-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) fail("mkdtemp: %s", std::strerror(errno));
  return pattern;
}

std::set<std::string> list_dir(const std::string& dir) {
  std::set<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) fail("opendir %s: %s", dir.c_str(), std::strerror(errno));
  while (dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
      names.insert(e->d_name);
  }
  ::closedir(d);
  return names;
}

void remove_tree(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    for (const std::string& name : list_dir(path)) remove_tree(path + "/" + name);
    ::rmdir(path.c_str());
  } else {
    ::unlink(path.c_str());
  }
}

std::string read_file(const std::string& path) {
  std::string s;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return s;
  char buf[8192];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<std::size_t>(n));
  ::close(fd);
  return s;
}

void write_file(const std::string& path, std::string_view content) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) fail("open %s: %s", path.c_str(), std::strerror(errno));
  if (::write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()))
    fail("write %s: %s", path.c_str(), std::strerror(errno));
  ::close(fd);
}

// --- expected outputs ------------------------------------------------------------

std::string message_line(std::string_view text) {
  std::string s(text);
  s.resize(100, ' ');
  return s + "\n";
}

const std::string kCannotOpen = message_line("-9900 CAN NOT OPEN FITTING DATA");
const std::string kDataMessages[] = {
    message_line("-9500 READING ERROR in FITTING DATA"),
    message_line("-9000 NUMBER OF FITTING DATA > 10000"),
    message_line("-9200 NUMBER OF BINS MUST BE 1 TO 9999"),
    message_line("-9300 FITTING DATA HAVE NO USABLE RANGE"),
};
const std::string kBadProbability =
    "               -1                    ERROR INPUT FOR PERCENTAGE\n\n\n";
const std::string kFitFailed =
    "               -2                    EXIT PATAMETER < 0, ERROR FITTING  \n\n\n";
const std::string kClosing = "Fitting results data see: korvalindetingresult.dat\n\n\n";
const std::string kCannotWrite = "  Can not open file for WRITE\n";
const std::string kRule = " ===========================================";

// Lines without their line ends; false when the text does not end with one.
bool split_lines(std::string_view text, std::vector<std::string_view>& lines) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t nl = text.find('\n', at);
    if (nl == std::string_view::npos) return false;
    lines.push_back(text.substr(at, nl - at));
    at = nl + 1;
  }
  return true;
}

// A line laid out as literal texts and fields; the fields are collected.
struct Piece {
  enum Kind { Text, Real, Int } kind;
  std::string_view text;  // Text
  std::size_t w = 0, d = 0;
};

Piece T(std::string_view s) { return {Piece::Text, s}; }
Piece F(std::size_t w, std::size_t d) { return {Piece::Real, {}, w, d}; }
Piece I(std::size_t w) { return {Piece::Int, {}, w, 0}; }

bool match_line(std::string_view line, std::initializer_list<Piece> pieces,
                std::vector<std::string_view>& fields) {
  std::size_t at = 0;
  for (const Piece& p : pieces) {
    const std::size_t len = p.kind == Piece::Text ? p.text.size() : p.w;
    if (at + len > line.size()) return false;
    const std::string_view part = line.substr(at, len);
    if (p.kind == Piece::Text && part != p.text) return false;
    if (p.kind == Piece::Real && !fuzz::is_f_field(part, p.w, p.d)) return false;
    if (p.kind != Piece::Text) fields.push_back(part);
    at += len;
  }
  return at == line.size();
}

std::string text_of(std::string_view v) { return std::string(v); }

// Two printings of one value agree to rounding; empty when they do.
std::string agree(std::string_view x, std::string_view y, double tolerance, const char* what) {
  double u = 0, v = 0;
  if (fuzz::f_value(x, u) && fuzz::f_value(y, v) && !(std::fabs(u - v) <= tolerance))
    return what + (" printed as '" + text_of(x) + "' and '" + text_of(y) + "'");
  return {};
}

bool negative(std::string_view field) { return field.find('-') != std::string_view::npos; }

constexpr std::size_t kReportLines = 17;

// The printed values of a report (a and b as printed with 7 decimals).
struct Report {
  std::string_view cut, serror, rerror, a, b, norm, dx;
  std::size_t length = 0;  // bytes of the report on standard output
};

// Checks the report's seventeen lines and the values printed twice; returns
// what is wrong, empty when nothing is.
std::string check_report(std::string_view out, Report& rep) {
  std::vector<std::string_view> lines;
  if (!split_lines(out, lines)) return "standard output does not end with a line end";
  if (lines.size() < kReportLines) return "neither a report nor a message";
  const std::string blanks20(20, ' ');
  std::vector<std::string_view> f;
  const bool ok =
      match_line(
          lines[0],
          {T("  "), F(10, 5), T(" "), F(12, 7), T(" "), F(10, 7), T("   DPA_CUT  SERROR  RERROR")},
          f) &&
      match_line(lines[1], {T("  "), F(15, 5), T("  "), F(15, 5), T("   FITTING PARAMETERs ")},
                 f) &&
      lines[2].empty() && lines[3] == kRule &&
      lines[4] == "           FITTING RESULTS                  " && lines[5] == kRule &&
      match_line(lines[6],
                 {T("  "), I(15), T(blanks20), T("EXIT PATAMETER (POSITIVE: NORMAL EXIT) ")}, f) &&
      match_line(lines[7], {T("  "), F(15, 7), F(15, 7), T("     FINAL APPROXIMATE SOLUTION")},
                 f) &&
      match_line(lines[8], {T("  "), F(15, 7), T(blanks20), T("FINAL L2 NORM OF THE RESIDUALS")},
                 f) &&
      match_line(lines[9], {T("  "), F(15, 7), T(blanks20), T("FINAL STAND ERROR")}, f) &&
      match_line(lines[10], {T("  "), F(15, 7), T(blanks20), T("DELTA X")}, f) &&
      lines[11].empty() && lines[12].empty() && lines[13] == "Extreme value fitting: " &&
      lines[14].empty() && lines[15] == "          f(x) = exp(-(x-a)/b)*exp(-(exp(-(x-a)/b))/b" &&
      lines[16].empty();
  if (!ok) return "neither a report in its layout nor a message";
  // f: cut serror rerror | a b | info | a b | norm | serror | dx
  const std::string_view info = f[5];
  if (info != "              1" && info != "              2" && info != "              3")
    return "exit parameter '" + text_of(info) + "' in a report";
  for (const std::string& problem :
       {agree(f[1], f[9], 0, "SERROR"), agree(f[3], f[6], 0.5e-5 + 0.5e-7 + 1e-12, "a"),
        agree(f[4], f[7], 0.5e-5 + 0.5e-7 + 1e-12, "b")}) {
    if (!problem.empty()) return problem;
  }
  if (negative(f[1]) || negative(f[2]) || negative(f[8]) || negative(f[10]) ||
      f[10].find("NaN") != std::string_view::npos)
    return "a negative SERROR, RERROR, residual norm or bin width";
  rep = {f[0], f[1], f[2], f[6], f[7], f[8], f[10], 0};
  for (std::size_t i = 0; i < kReportLines; ++i) rep.length += lines[i].size() + 1;
  return {};
}

// What the parent knows of the sample: the smallest value and the bin width.
struct Sample {
  double lo = 0, dx = 0;
};

std::string number_text(double v) {
  char s[40];
  std::snprintf(s, sizeof s, "%.17g", v);
  return s;
}

// Checks the report's numbers against the sample and the control values.
std::string check_numbers(const Report& rep, double p, const Sample& s) {
  double dx = 0, a = 0, b = 0, cut = 0;
  if (fuzz::f_value(rep.dx, dx) && !(std::fabs(dx - s.dx) <= 0.5e-7 + 1e-15 * s.dx))
    return "DELTA X printed as '" + text_of(rep.dx) + "' for a bin width of " + number_text(s.dx);
  if (fuzz::f_value(rep.a, a) && fuzz::f_value(rep.b, b) && fuzz::f_value(rep.cut, cut)) {
    const double l = std::log(-std::log(p));
    const double want = a - b * l;
    const double tolerance =
        0.5e-5 + 0.5e-7 * (1 + std::fabs(l)) + 1e-12 * (std::fabs(a) + std::fabs(b * l));
    if (std::isfinite(l) && !(std::fabs(cut - want) <= tolerance))
      return "DPA_CUT printed as '" + text_of(rep.cut) + "' where a - b*ln(-ln p) is " +
             number_text(want);
  }
  return {};
}

// Checks the result file: a header and one row per bin, in a layout and
// with values consistent with each other, the report and the sample.
// Returns what is wrong, empty when nothing is.
std::string check_result_file(const std::string& text, std::int32_t bins, const Report& rep,
                              const Sample& s) {
  std::vector<std::string_view> lines;
  if (!split_lines(text, lines)) return "result file does not end with a line end";
  if (lines.empty() || lines[0] != "#       X(i)          Y(i)   Fitted_Y(i)         DELTA")
    return "result file header";
  const std::size_t rows = lines.size() - 1;
  if (rows != static_cast<std::size_t>(bins) && rows != static_cast<std::size_t>(bins) + 1)
    return "result file has " + std::to_string(rows) + " rows for " + std::to_string(bins) +
           " bins";
  double last_x = 0, squares = 0;
  bool have_last = false, all_residuals = true;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string row = "result row " + std::to_string(i) + " '" + text_of(lines[i]) + "': ";
    std::vector<std::string_view> f;
    if (!match_line(lines[i], {F(12, 7), T("  "), F(12, 7), T("  "), F(12, 7), T("  "), F(12, 7)},
                    f))
      return row + "layout";
    if (negative(f[1])) return row + "negative observed density";
    double x = 0, y = 0, fit = 0, res = 0;
    const bool have_x = fuzz::f_value(f[0], x);
    if (have_x && i == 1) {
      const double centre = s.dx * 0.5 + s.lo;
      if (!(std::fabs(x - centre) <= 0.5e-7 + 1e-15 * std::fabs(centre)))
        return row + "first centre is not the smallest sample plus half a bin width, " +
               number_text(centre);
    }
    if (have_x && have_last) {
      if (x < last_x) return row + "bin centres decrease";
      if (!(std::fabs((x - last_x) - s.dx) <= 1e-7 + 1e-15 * (std::fabs(x) + s.dx)))
        return row + "centres not one bin width (" + number_text(s.dx) + ") apart";
    }
    have_last = have_x;
    last_x = x;
    const bool have_res = fuzz::f_value(f[3], res);
    all_residuals = all_residuals && have_res;
    if (have_res) squares += res * res;
    if (fuzz::f_value(f[1], y) && fuzz::f_value(f[2], fit) && have_res &&
        !(std::fabs(res - (y - fit)) <= 1.6e-7 + 1e-15 * (std::fabs(y) + std::fabs(fit))))
      return row + "residual is not observed minus fitted";
  }
  // The residual norm and the standard error come from the same residuals.
  const double m = static_cast<double>(rows);
  double norm = 0, serror = 0;
  if (fuzz::f_value(rep.norm, norm)) {
    if (all_residuals &&
        !(std::fabs(std::sqrt(squares) - norm) <= 0.5e-7 * (std::sqrt(m) + 1) + 1e-12 * norm))
      return "residual norm printed as '" + text_of(rep.norm) + "', the rows give " +
             number_text(std::sqrt(squares));
    if (rows > 1 && fuzz::f_value(rep.serror, serror) &&
        !(std::fabs(serror * std::sqrt(m - 1) - norm) <=
          0.5e-7 * (std::sqrt(m - 1) + 1) + 1e-12 * norm))
      return "standard error '" + text_of(rep.serror) + "' does not fit the residual norm '" +
             text_of(rep.norm) + "' over " + std::to_string(rows) + " bins";
  }
  return {};
}

bool is_solver_report(std::string_view err) {
  return err.starts_with(" ***MESSAGE FROM ROUTINE DNLS1") &&
         err.find("\n ***JOB ABORT DUE TO UNRECOVERED ERROR.\n") != std::string_view::npos &&
         err.find("\n0          ERROR MESSAGE SUMMARY\n") != std::string_view::npos;
}

bool is_control_failure(std::string_view err) {
  return err.starts_with("korvalinde: unreadable control input: ") &&
         err.find('\n') == err.size() - 1;
}

// What the parent knows of the control input: the same two reads as the run.
struct Control {
  bool first_ok = false, want_file = false, second_ok = false;
  std::int32_t bins = 0;
  double probability = 0;
};

Control read_control(std::string_view text) {
  Control c;
  std::string name, answer, result;
  korvalinde::ListInput in(text);
  const korvalinde::ListItem first[] = {
      korvalinde::ListItem::of_text(name), korvalinde::ListItem::of_int(c.bins),
      korvalinde::ListItem::of_real(c.probability), korvalinde::ListItem::of_text(answer, 1)};
  c.first_ok = korvalinde::read_list(in, first).status == korvalinde::ListResult::Status::Ok;
  if (!c.first_ok) return c;
  c.want_file = !answer.empty() && std::strchr("sSyY", answer[0]) != nullptr && answer[0] != '\0';
  if (c.want_file) {
    const korvalinde::ListItem second[] = {korvalinde::ListItem::of_text(result)};
    c.second_ok = korvalinde::read_list(in, second).status == korvalinde::ListResult::Status::Ok;
  }
  return c;
}

double sample_values[korvalinde::kMaxSamples];

// The one message line that reading or binning ends the run with, or empty
// when the fit is reached; then `s` receives the sample's extremes.
std::string expected_message(std::string_view sample, std::int32_t bins, Sample& s) {
  int count = 0;
  const fuzz::ReadOutcome read = fuzz::reference_read(sample, sample_values, count);
  if (read == fuzz::ReadOutcome::Bad) return kDataMessages[0];
  if (read == fuzz::ReadOutcome::TooMany) return kDataMessages[1];
  if (bins < 1 || bins > 9999) return kDataMessages[2];
  if (count < 2) return kDataMessages[3];
  double lo = sample_values[0], hi = sample_values[0];
  for (int i = 1; i < count; ++i) {
    lo = std::min(lo, sample_values[i]);
    hi = std::max(hi, sample_values[i]);
  }
  // Fewer than two distinct values, a range that overflows, or one too
  // small to split into the bins.
  const double range = hi - lo;
  const double dx = range / bins;
  if (!std::isfinite(range) || !(range > 0) || !(dx > 0) || !(range / dx < korvalinde::kMaxBins))
    return kDataMessages[3];
  s = {lo, dx};
  return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const char* const kResultNames[] = {"r", "r", "d", "'x/r'"};
  const std::string result_name = kResultNames[data[0] & 3];
  const int sample_kind = (data[0] >> 2) & 7;  // 0-5 file, 6 none, 7 directory
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t nul = rest.find('\0');
  std::string values(rest.substr(0, nul));
  const std::string_view sample =
      nul == std::string_view::npos ? std::string_view() : rest.substr(nul + 1);
  std::replace(values.begin(), values.end(), '\n', ' ');
  std::replace(values.begin(), values.end(), '\r', ' ');
  const std::string control = "d " + values + "\n" + result_name + "\n";

  const std::string dir = make_temp_dir();
  if (sample_kind <= 5) {
    write_file(dir + "/d", sample);
  } else if (sample_kind == 7) {
    ::mkdir((dir + "/d").c_str(), 0755);
  }
  const std::set<std::string> before = list_dir(dir);

  const std::string note = "control '" + fuzz::shown(control) + "', sample kind " +
                           std::to_string(sample_kind) + ", directory " + dir;
  const ChildResult r = run_child(control, dir, note.c_str());
  const std::string_view out = r.out, err = r.err;
  const auto bad = [&](const char* what) {
    fail("%s\n  %s, exit %s %d\n--- stdout:\n%s\n--- stderr:\n%s", what, note.c_str(),
         WIFEXITED(r.wait_status) ? "status" : "by signal",
         WIFEXITED(r.wait_status) ? WEXITSTATUS(r.wait_status) : WTERMSIG(r.wait_status),
         fuzz::shown(out, 3000, true).c_str(), fuzz::shown(err, 4000, true).c_str());
  };

  if (std::getenv("KORVALINDE_FUZZ_VERBOSE") != nullptr) {
    const auto first = [](std::string_view s) { return fuzz::shown(s.substr(0, s.find('\n'))); };
    std::fprintf(stderr, "run: %s: status %d, stdout '%s', stderr '%s'\n", note.c_str(),
                 r.wait_status, first(out).c_str(), first(err).c_str());
  }
  // A crash (a sanitizer report included) or an unexpected status in the child.
  if (!WIFEXITED(r.wait_status)) bad("the run ended by a signal");
  const int status = WEXITSTATUS(r.wait_status);
  if (status != 0 && status != 2) bad("unexpected exit status");

  const Control c = read_control(control);
  const bool probability_ok = c.probability > 0 && c.probability <= 1;
  Sample sampled;
  std::set<std::string> allowed = before;
  if (!c.first_ok || (sample_kind <= 5 && c.want_file && !c.second_ok)) {
    if (status != 2 || !out.empty() || !is_control_failure(err))
      bad("an unreadable control input not reported as such");
  } else if (status != 0) {
    bad("exit status 2 for a readable control input");
  } else if (sample_kind > 5) {
    if (out != kCannotOpen || !err.empty()) bad("a missing sample file not reported as such");
  } else if (const std::string expected = expected_message(sample, c.bins, sampled);
             !expected.empty()) {
    // Reading and binning fail before the fit, whatever the fit would do.
    if (out != expected || !err.empty()) bad(("expected only the line " + expected).c_str());
  } else if (out.empty()) {
    if (!is_solver_report(err)) bad("no output and no solver report");
  } else if (out == kBadProbability || out == kFitFailed) {
    if (!err.empty()) bad("an error line with something on standard error");
    if (out == kBadProbability && probability_ok) bad("a usable probability refused");
  } else {
    Report rep;
    if (const std::string problem = check_report(out, rep); !problem.empty()) bad(problem.c_str());
    const std::string_view tail = out.substr(rep.length);
    if (!probability_ok) bad("a report for an unusable probability");
    if (const std::string problem = check_numbers(rep, c.probability, sampled); !problem.empty())
      bad(problem.c_str());
    if (!c.want_file) {
      if (!tail.empty() || !err.empty()) bad("output after a report without a result file");
    } else if (result_name == "r") {
      if (tail != kClosing || !err.empty()) bad("a result file not reported as written");
      if (before.count("r") == 0) allowed.insert("r");
      if (const std::string problem =
              check_result_file(read_file(dir + "/r"), c.bins, rep, sampled);
          !problem.empty())
        bad(problem.c_str());
    } else if (result_name == "d") {
      if (tail != kCannotWrite ||
          err != "Result file d is the sample file; it was not overwritten\n")
        bad("the sample file as result file not refused");
    } else if (tail != kCannotWrite || !err.empty()) {
      bad("a result file in a missing directory not refused");
    }
  }

  const std::set<std::string> after = list_dir(dir);
  if (after != allowed) {
    std::string names;
    for (const std::string& n : after) names += " '" + fuzz::shown(n) + "'";
    bad(("files in the run directory:" + names).c_str());
  }
  if (sample_kind <= 5 && read_file(dir + "/d") != sample) bad("the sample file was changed");
  remove_tree(dir);
  return 0;
}
