#include "korvalinde/cli/fit_command.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "dnls/io/format.hpp"
#include "korvalinde/cli/covariate_options.hpp"
#include "korvalinde/cli/dated_options.hpp"
#include "korvalinde/cli/dated_render.hpp"
#include "korvalinde/cli/html.hpp"
#include "korvalinde/cli/idf_command.hpp"
#include "korvalinde/cli/region_command.hpp"
#include "korvalinde/cli/image_client.hpp"
#include "korvalinde/cli/json.hpp"
#include "korvalinde/cli/man_page.hpp"
#include "korvalinde/cli/nonstationary_render.hpp"
#include "korvalinde/cli/option_checks.hpp"
#include "korvalinde/cli/report.hpp"
#include "korvalinde/cli/run_meta.hpp"
#include "korvalinde/cli/svg.hpp"
#include "korvalinde/cli/text.hpp"
#include "korvalinde/core/family_fit.hpp"
#include "korvalinde/core/fit.hpp"
#include "korvalinde/core/model.hpp"
#include "korvalinde/core/options.hpp"
#include "korvalinde/core/result_table.hpp"
#include "korvalinde/stats/gof_null.hpp"
#include "korvalinde/detail/output_file.hpp"
#include "korvalinde/detail/parallel.hpp"
#include "korvalinde/input/sample_reader.hpp"

#ifndef KORVALINDE_VERSION
#define KORVALINDE_VERSION "0.0.0"
#endif

namespace korvalinde::cli {
namespace {

constexpr const char* kUsage = "Usage: korvalinde fit [OPTIONS] FILE...";
constexpr std::string_view kStdoutLabel = "standard output";

struct Settings {
  FitOptions fit;
  std::vector<std::string> files;
  std::vector<Method> methods;  // empty: mle and lmom, and ls for --result
  std::vector<std::string> dists{"gumbel"};
  std::string result, json, svg, sep;
  std::string png, pdf, html;
  PictureOptions picture;
  int column = 1;
  std::string column_text = "1";
  DatedSettings dated;
  CovariateSettings covariates;
  std::optional<DatedPlan> plan;  // a dated record
  unsigned threads = 0;
  bool quiet = false;
  RunMeta meta;  // what every report says of the run
  bool per_group = false;  // --by: each group's picture and table in files of their own
};

// A file the run writes, as named on the command line ("-" is standard
// output). Outputs of one input's picture or table take one input only.
struct OutputSpec {
  const char* option;
  const std::string* name;
  bool one_input;
};

std::vector<OutputSpec> named_outputs(const Settings& s) {
  std::vector<OutputSpec> all{{"--json", &s.json, false},
                              {"--svg", &s.svg, true},
                              {"--result", &s.result, true},
                              {"--maxima", &s.dated.maxima, true},
                              {"--png", &s.png, true},
                              {"--pdf", &s.pdf, true},
                              {"--html", &s.html, false},
                              {"--effective-levels", &s.covariates.effective, true}};
  std::erase_if(all, [](const OutputSpec& o) { return o.name->empty(); });
  return all;
}

// The rendered output of an input's series, kept until its turn to be
// written: a few bytes a series rather than its whole result.
struct Pending {
  std::string errors;  // for standard error
  std::string report;  // each series' report after a "\n" (the blank line between reports)
  std::string json;
  std::vector<HtmlSection> sections;
  bool failed = false;
  std::chrono::steady_clock::time_point written{};  // last written
};

// Everything one input produces.
struct Outcome {
  FitResult result;  // the first series, kept for the outputs of one input
  FitDetail detail;  // the first series'
  std::string maxima;  // the --maxima text
  InputMeta input;     // size and digest of the input
  std::set<std::string> group_files;  // written for its groups
  std::string effective;  // the --effective-levels text
  Pending pending;
};

// The series an input hands over, in order; false stops the input.
using TakeSeries = std::function<bool(FitResult&&, bool first)>;

int usage_error(const std::string& what) {
  std::fprintf(stderr, "korvalinde: %s\n%s\n", what.c_str(), kUsage);
  return 2;
}

// ---------------------------------------------------------------- options

// A seed: 0 to 2^64 - 1, nothing that would wrap or saturate.
CLI::Validator seed_number() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        std::uint64_t v = 0;
        const char* end = text.data() + text.size();
        const auto [p, ec] = std::from_chars(text.data(), end, v);
        if (text.empty() || p != end || ec != std::errc{})
          return "must be a whole number from 0 to " +
                 std::to_string(std::numeric_limits<std::uint64_t>::max());
        return {};
      },
      "UINT64");
}

// A field separator: one character that no number holds, or "tab".
CLI::Validator separator() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (text == "tab" || text == "\\t") text = "\t";
        if (text.size() != 1) return "one character expected";
        if (text[0] == '\n' || text[0] == '\r') return "a line end can not separate fields";
        if (!separator_allowed(text[0])) return "'" + text + "' can occur in a number";
        return {};
      },
      "CHAR");
}

// A column: a whole number from 1 (any text of digits and signs is taken
// for a number), or a header name.
CLI::Validator column_number() {
  const CLI::Validator number = whole_number(1, INT_MAX);
  return CLI::Validator(
      [number](std::string& text) -> std::string {
        const bool numeric = !text.empty() && text.find_first_not_of("+-0123456789") == std::string::npos;
        return numeric ? number(text) : std::string();
      },
      "K|NAME");
}

CLI::Validator file_name() {
  return CLI::Validator(
      [](std::string& text) -> std::string { return text.empty() ? "a file name is needed" : ""; },
      "FILE");
}

// A list option: exactly one argument, its items separated by commas, so
// that the file names after it stay file names. `item` reads one item into
// its value, or returns why it can not. The last use of the option counts.
template <class T, class Item>
CLI::Option* add_list(CLI::App& app, const std::string& name, std::vector<T>& to,
                      const std::string& help, Item item) {
  return app.add_option_function<std::string>(
      name,
      [&to, item, name](const std::string& text) {
        to.clear();
        for (std::size_t at = 0; at <= text.size();) {
          const std::size_t comma = std::min(text.find(',', at), text.size());
          T value{};
          if (std::string why = item(text.substr(at, comma - at), value); !why.empty())
            throw CLI::ValidationError(name, why);
          to.push_back(value);
          at = comma + 1;
        }
      },
      help);
}

std::string joined_periods() {
  std::string text;
  for (const double t : kDefaultPeriods) text += (text.empty() ? "" : ",") + std::to_string(int(t));
  return text;
}

void add_options(CLI::App& fit, Settings& s) {
  fit.add_option("FILE", s.files, "Sample files, one value per line")->required();
  fit.add_option("--bins", s.fit.bins, "Histogram bins, 1 to " + std::to_string(kMaxBinsFit))
      ->check(whole_number(1, kMaxBinsFit))
      ->default_str(std::to_string(kDefaultBins));
  fit.add_option("--prob", s.fit.prob, "DPA_CUT probability, in (0, 1]")
      ->check(number_where([](double p) { return p > 0 && p <= 1; }, "must be in (0, 1]"))
      ->default_str("0.99");
  fit.add_option("--result", s.result, "Write the per-bin table (one input only; with --by one file per group)")
      ->check(file_name());
  fit.add_option("--json", s.json, "Write one JSON line per file (- is standard output)")
      ->check(file_name());
  fit.add_option("--svg", s.svg, "Write the picture (one input only; with --by one file per group)")->check(file_name());
  fit.add_option("--png", s.png, "Write the picture as PNG (one input; with --by one file per group)")->check(file_name());
  fit.add_option("--pdf", s.pdf, "Write the picture as PDF (one input; with --by one file per group)")->check(file_name());
  fit.add_option("--html", s.html, "Write one self-contained HTML report of all files")
      ->check(file_name());
  fit.add_option("--title", s.picture.title, "Title of the picture (default: the file's name)");
  fit.add_option("--units", s.picture.units, "Units of the values, for the axes");
  fit.add_option("--column", s.column_text, "1-based field of each line, or a header name")
      ->check(column_number())
      ->default_str("1");
  fit.add_option("--sep", s.sep, "Field separator (default: blanks, tabs and commas)")
      ->transform(separator());
  fit.add_option("--threads", s.threads, "Threads (default: the machine's cores)")
      ->check(whole_number(1, INT_MAX));
  add_list(fit, "--methods", s.methods, "Methods, comma separated, of ls,mle,lmom",
           [](const std::string& text, Method& m) -> std::string {
             const std::optional<Method> got = parse_method(text);
             if (got) m = *got;
             return got ? "" : "'" + text + "' is not ls, mle or lmom";
           })
      ->default_str("mle,lmom");
  add_list(fit, "--dist", s.dists,
           "Distributions in full, comma separated: gumbel,gev,glo,gno,pe3,lp3,gpa,weibull,kappa,"
           "wakeby,exp,normal,lognormal",
           [](const std::string& text, std::string& d) -> std::string {
             d = text;
             return text == "gumbel" || text == "gev" || is_family(text) ? "" : "'" + text + "' is not a distribution";
           })
      ->default_str("gumbel");
  fit.add_option("--confidence", s.fit.confidence, "Confidence of every interval, in (0, 1)")
      ->check(number_where([](double c) { return c > 0 && c < 1; }, "must be in (0, 1)"))
      ->default_str("0.95");
  add_list(fit, "--periods", s.fit.periods, "Return periods, comma separated",
           [](const std::string& text, double& t) {
             std::string why = read_number(text, t);
             return !why.empty() || (t > 1 && std::isfinite(t))
                        ? why
                        : "return periods must be finite and greater than 1";
           })
      ->default_str(joined_periods());
  fit.add_option("--level", s.fit.level, "Also give the return period of this level")
      ->check(number_where([](double x) { return std::isfinite(x); }, "must be finite"));
  fit.add_option_function<std::string>(
         "--gof-p",
         [&s](const std::string& how) {
           s.fit.gof_p = s.fit.gev_gof_p = how != "none";
           s.fit.gof_p_limit = how == "asymptotic";
         },
         "p-values of D, W^2 and A^2: bootstrap (simulated, beyond 1000 values from the "
         "law at 1000), asymptotic (the limit laws of known parameters: fast, approximate "
         "and high) or none")
      ->check(CLI::IsMember({"bootstrap", "asymptotic", "none"}))
      ->default_str("bootstrap");
  fit.add_option("--bootstrap", s.fit.bootstrap, "Parametric bootstrap replicates")
      ->check(whole_number(0, INT_MAX));
  fit.add_option("--seed", s.fit.seed, "Bootstrap seed")->check(seed_number());
  fit.add_flag("--quiet", s.quiet, "No human report");
  add_dated_options(fit, s.dated);
  add_covariate_options(fit, s.covariates);
}

// ------------------------------------------------------------- validation

// A file's device and inode, when it can be looked at.
struct FileId {
  bool known = false;
  dev_t dev{};
  ino_t ino{};
  mode_t mode{};
};

FileId id_of(int status, const struct stat& st) {
  return status == 0 ? FileId{true, st.st_dev, st.st_ino, st.st_mode} : FileId{};
}
FileId name_id(const std::string& name) {
  struct stat st;
  return id_of(::stat(name.c_str(), &st), st);
}
FileId fd_id(int fd) {
  struct stat st;
  return id_of(::fstat(fd, &st), st);
}
bool same(const FileId& a, const FileId& b) {
  return a.known && b.known && a.dev == b.dev && a.ino == b.ino;
}
// Reading or writing a device twice harms nothing (/dev/null, a terminal).
bool is_device(const FileId& f) { return f.known && S_ISCHR(f.mode); }

// What an output name stands for, to tell two outputs apart: the file's
// identity when it exists, else its directory's real path and its name (a
// dangling link's target's).
std::string output_key(const std::string& given) {
  const FileId id = given == "-" ? fd_id(STDOUT_FILENO) : name_id(given);
  if (id.known) return "id:" + std::to_string(id.dev) + ":" + std::to_string(id.ino);
  const std::string name = detail::link_target(given);
  const std::size_t slash = name.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : name.substr(0, slash + 1);
  char* real = ::realpath(dir.c_str(), nullptr);
  std::string key = "path:" + std::string(real != nullptr ? real : dir) + "/" +
                    name.substr(slash == std::string::npos ? 0 : slash + 1);
  std::free(real);
  return key;
}

// The usage error in the settings, or an empty string. Nothing is opened
// for writing before this passes: an output that is an input, or two outputs
// that are one file, would lose data.
std::string validate(Settings& s) {
  // The histogram least-squares fit runs on request, or for the per-bin table.
  if (s.methods.empty()) {
    s.methods = {Method::mle, Method::lmom};
    if (!s.result.empty()) s.methods.push_back(Method::ls);
  }
  s.fit.ls = s.fit.mle = s.fit.lmom = false;
  for (const Method m : s.methods) uses(s.fit, m) = true;
  s.fit.gumbel = std::find(s.dists.begin(), s.dists.end(), "gumbel") != s.dists.end();
  s.fit.gev = std::find(s.dists.begin(), s.dists.end(), "gev") != s.dists.end();
  // A fit on covariates extends the stationary GEV, which it is tested against.
  const bool covariates = wants_covariates(s.covariates);
  if (covariates && !s.covariates.names.empty()) s.fit.gev = true;
  s.fit.order = s.dists;
  if (std::string why = check_options(s.fit); !why.empty()) return why;
  const char sep = s.sep.empty() ? '\0' : s.sep[0];
  if (wants_dated(s.dated, s.column_text) || covariates) {
    s.plan.emplace();
    if (std::string why = make_plan(s.dated, s.column_text, sep, s.fit, *s.plan); !why.empty())
      return why;
    if (covariates) {
      if (std::string why = make_covariate_plan(s.covariates, s.fit, *s.plan); !why.empty()) return why;
    }
  } else {
    s.column = column_ref(s.column_text).number;
  }
  s.per_group = s.plan && s.plan->csv.by &&
                !(s.svg.empty() && s.png.empty() && s.pdf.empty() && s.result.empty());
  for (const auto& [option, name] : {std::pair{"--svg", &s.svg}, {"--png", &s.png},
                                     {"--pdf", &s.pdf}, {"--result", &s.result}}) {
    if (s.per_group && *name == "-")
      return std::string(option) + ": with --by each group has a file of its own: name one, not -";
  }
  if (s.threads == 0) s.threads = detail::default_threads();

  const std::vector<OutputSpec> outputs = named_outputs(s);
  for (const OutputSpec& o : outputs) {
    if (o.one_input && s.files.size() > 1) return std::string(o.option) + ": one input file only";
  }
  if (!s.result.empty() && !s.fit.ls)
    return "--result: the per-bin table needs the ls method (--methods)";
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    for (std::size_t k = 0; k < i; ++k) {
      if (!is_device(name_id(*outputs[i].name)) &&
          output_key(*outputs[i].name) == output_key(*outputs[k].name))
        return std::string(outputs[i].option) + ": " + *outputs[i].name + " is also the " +
               outputs[k].option + " file";
    }
  }

  // Inputs: a stream (standard input, a FIFO, a device) can be read once.
  std::vector<FileId> inputs;
  for (const std::string& in : s.files) {
    const FileId id = in == "-" ? fd_id(STDIN_FILENO) : name_id(in);
    for (std::size_t k = 0; k < inputs.size(); ++k) {
      const bool stream = id.known && !S_ISREG(id.mode);
      if ((in == "-" && s.files[k] == "-") || (stream && same(id, inputs[k])))
        return in + ": " + (in == "-" ? "standard input" : "a stream") +
               " given twice (it can be read once)";
    }
    inputs.push_back(id);
  }

  // Outputs onto inputs, standard output (the report) included.
  auto clash = [&](const FileId& out) -> std::string {
    if (!out.known || is_device(out)) return {};
    for (std::size_t k = 0; k < inputs.size(); ++k) {
      if (same(out, inputs[k]))
        return s.files[k] == "-" ? "standard input" : "the input file " + s.files[k];
    }
    return {};
  };
  for (const OutputSpec& o : outputs) {
    const std::string& name = *o.name;
    if (std::string in = clash(name == "-" ? fd_id(STDOUT_FILENO) : name_id(name)); !in.empty())
      return std::string(o.option) + ": " + name + " is " + in;
  }
  const bool report = !s.quiet && s.json != "-";
  if (report) {
    if (std::string in = clash(fd_id(STDOUT_FILENO)); !in.empty())
      return "standard output is " + in;
  }
  return {};
}

// ------------------------------------------------------------- outputs

// One destination of the run's text: standard output or an output file.
// The first failed write is told once, naming the file; later writes are
// dropped.
class Sink {
 public:
  Sink(std::string label, int fd) : label_(std::move(label)), fd_(fd) {}
  explicit Sink(std::string label) : label_(std::move(label)) {}

  // Opens the output file; false after the message.
  // An output is replaced only by a finished result: never in place.
  bool open() {
    error_ = file_.open(label_, detail::OutputFile::InPlace::refused);
    fd_ = file_.fd();
    return error_ == 0 || (tell(file_.beside_failed() ? "can not create a file beside" : nullptr), false);
  }
  bool write(std::string_view text) {
    if (error_ == 0) error_ = detail::write_all(fd_, text);
    return error_ == 0 || (tell(), false);
  }
  // Completes an output file (false after the message), or drops it.
  bool commit(bool keep) {
    if (fd_ < 0 || fd_ == STDOUT_FILENO) return error_ == 0;
    if (!keep) {
      file_.discard();
      return true;
    }
    const bool had = error_ != 0;
    error_ = file_.commit(error_);
    return error_ == 0 || had || (tell(), false);
  }
  bool failed() const { return error_ != 0; }
  // Marks the output as failed without a message (one has been given).
  void fail(int error) {
    if (error_ == 0) error_ = error;
    told_ = true;
  }

 private:
  void tell(const char* what = nullptr) {
    if (told_) return;
    told_ = true;
    std::fprintf(stderr, "korvalinde: %s %s: %s\n", what != nullptr ? what : "can not write",
                 label_.c_str(), std::strerror(error_));
  }
  std::string label_;
  int fd_ = -1;
  int error_ = 0;
  bool told_ = false;
  detail::OutputFile file_;
};

// The run's destinations, opened before any fitting.
struct Sinks {
  Sink out{std::string(kStdoutLabel), STDOUT_FILENO};
  std::vector<std::unique_ptr<Sink>> files;  // in the order of named_outputs
  Sink* json = nullptr;
  Sink* svg = nullptr;
  Sink* result = nullptr;
  Sink* maxima = nullptr;
  Sink* png = nullptr;
  Sink* pdf = nullptr;
  Sink* html = nullptr;
  Sink* effective = nullptr;
  std::vector<HtmlSection> sections;  // for the HTML report, in the order written
  bool report = false;

  bool failed() const {
    if (out.failed()) return true;
    for (const auto& f : files) {
      if (f->failed()) return true;
    }
    return false;
  }
};

// Opens every named output; false after a message.
bool open_outputs(const Settings& s, Sinks& sinks) {
  sinks.report = !s.quiet && s.json != "-";
  for (const OutputSpec& o : named_outputs(s)) {
    // The groups' pictures and tables are files of their own, written as
    // each group is fitted.
    if (s.per_group && o.one_input && o.name != &s.dated.maxima) continue;
    Sink* sink = &sinks.out;
    if (*o.name != "-") {
      sinks.files.push_back(std::make_unique<Sink>(*o.name));
      sink = sinks.files.back().get();
      if (!sink->open()) return false;
    }
    (o.name == &s.json     ? sinks.json
     : o.name == &s.svg    ? sinks.svg
     : o.name == &s.result ? sinks.result
     : o.name == &s.png    ? sinks.png
     : o.name == &s.pdf    ? sinks.pdf
     : o.name == &s.html   ? sinks.html
     : o.name == &s.dated.maxima ? sinks.maxima
                           : sinks.effective) = sink;
  }
  return true;
}

// ---------------------------------------------------------------- fitting

// Reads one input ("-" is standard input) on up to `threads` threads;
// nothing, or the first fault with the file's name (line 0 when it is not on
// a line: the file cannot be opened or read).
std::optional<InputError> load(const std::string& name, const FieldSpec& fields, unsigned threads,
                               detail::RawVector<double>& values) {
  const int fd = name == "-" ? STDIN_FILENO : open_sample(name);
  if (fd < 0) return InputError{name, 0, 0, "io", std::strerror(-fd)};
  std::optional<InputError> fault = read_values(fd, fields, values, threads);
  if (fd != STDIN_FILENO) ::close(fd);
  if (fault) fault->file = name;
  return fault;
}

// "NAME:LINE: message" or "NAME: message": the plain reader's faults name
// their line, not their field.
std::string plain_text(const InputError& e) {
  return e.file + (e.line > 0 ? ":" + std::to_string(e.line) : std::string()) + ": " + e.message;
}

// Fits one input, handing its series to `take`.
void fit_file(const std::string& name, const Settings& s, bool keep_detail, Outcome& o,
              const TakeSeries& take) {
  std::optional<DatedPlan> plain;  // a plain file that the plain reader refused
  std::uint64_t refused_at = 0;    // at this line
  FitResult refused;               // and why
  const DatedPlan* plan = s.plan ? &*s.plan : nullptr;
  if (!plan) {
    detail::RawVector<double> values;
    const FieldSpec fields{s.column, s.sep.empty() ? '\0' : s.sep[0], true};
    const std::optional<InputError> fault = load(name, fields, s.fit.threads, values);
    if (!fault) {
      FitResult r = fit_sample_sorting(values, s.fit, name, keep_detail ? &o.detail : nullptr);
      if (!r.ok) r.error = name + ": " + r.error;
      take(std::move(r), true);
      return;
    }
    refused.file = name;
    refused.error = plain_text(*fault);
    // A header line or a missing value: a regular file is read again by the
    // reader of records, which counts missing values and passes over a
    // header, with the plain reader's fields. Its result counts when it
    // reads the file, or gets further into it than the plain reader.
    refused_at = fault->line;
    if (refused_at == 0 || !S_ISREG(name_id(name).mode) ||
        !make_plan(s.dated, s.column_text, 0, s.fit, plain.emplace()).empty()) {
      take(std::move(refused), true);
      return;
    }
    plain->csv.sep = s.sep.empty() ? '\0' : s.sep[0];
    plain->csv.detect_sep = false;
    plain->csv.threads = s.fit.threads;
    plan = &*plain;
  }
  const bool grouped = plan->csv.by.has_value();
  bool first = true;
  fit_dated_file(name, *plan, s.fit, keep_detail, [&](SeriesFit&& f) {
    o.detail = std::move(f.detail);
    if (plain && f.result.input_error && f.result.input_error->line <= refused_at)
      f.result = std::move(refused);
    else if (!s.dated.maxima.empty())
      append_maxima(o.maxima, f, grouped);
    if (!s.covariates.effective.empty()) append_effective_levels(o.effective, f.result, grouped);
    const bool was_first = std::exchange(first, false);
    return take(std::move(f.result), was_first);
  });
}

// An input whose fit throws (memory exhausted, also in a worker thread)
// fails from there on.
void fit_one(const std::string& name, const Settings& s, bool keep_detail, Outcome& o,
             const TakeSeries& take) noexcept {
  try {
    fit_file(name, s, keep_detail, o, take);
  } catch (const std::exception& e) {
    FitResult r;
    r.file = name;
    const bool memory = dynamic_cast<const std::bad_alloc*>(&e) != nullptr;
    r.error = name + ": " + (memory ? "not enough memory" : e.what());
    take(std::move(r), false);
  }
}

std::string picture(const FitResult& r, const FitDetail& d, const PictureOptions& options) {
  const PlotData plot{d.centres, d.densities, d.minimum, d.dx, d.sorted};
  return render_svg(r, plot, options);
}

// The picture's options with the run's footer line, and a group's name
// after the title.
PictureOptions signed_picture(const Settings& s, const FitResult& r, const InputMeta& input) {
  PictureOptions options = s.picture;
  options.footer = meta_footer(s.meta, &input);
  if (r.dated && r.dated->grouped) {
    const std::string title = options.title.empty() ? r.file.substr(r.file.rfind('/') + 1) : options.title;
    options.title = concat(title, " [", r.dated->group, "]");
  }
  return options;
}

bool write_group_files(const Settings& s, const FitResult& r, const FitDetail& d,
                       const InputMeta& input, std::set<std::string>& used);

// The report block of a series with its input's size and digest under the
// file's line.
std::string signed_report(const FitResult& r, const InputMeta& input) {
  std::string block = format_report(r);
  const std::size_t first = block.find('\n');
  if (first != std::string::npos) block.insert(first + 1, concat("  ", input_text(input), "\n"));
  return block;
}

// Renders one series' messages, report, JSON line and HTML section.
void render(FitResult& r, std::string svg, bool report, bool json, bool html, const Settings& s,
            const InputMeta& input, Pending& p) {
  if (!r.ok) {
    p.failed = true;
    append(p.errors, r.error, "\n");
  }
  for (const Method m : kMethods) {
    if (!r.ok || result_of(r, m).error.empty()) continue;
    p.failed = true;  // the others report; the run still says it failed
    append(p.errors, r.file, ": ", method_name(m), ": ", result_of(r, m).error, "\n");
  }
  if (r.ok && r.families) {
    for (const FamilyResult& f : r.families->fits) {
      for (const auto& [name, m] : {std::pair{"mle", &f.mle}, std::pair{"lmom", &f.lmom}}) {
        if (!m->present || m->error.empty()) continue;
        p.failed = true;  // the other fits report
        append(p.errors, r.file, ": ", f.dist, " ", name, ": ", m->error, "\n");
      }
    }
  }
  if (const std::string e = nonstationary_error(r); r.ok && !e.empty()) {
    p.failed = true;  // the stationary fits still report
    append(p.errors, r.file, ": nonstationary: ", e, "\n");
  }
  if (const std::string w = dated_warning(r); !w.empty()) append(p.errors, r.file, ": warning: ", w, "\n");
  // A failed file's message goes to standard error only.
  if (report && r.ok) append(p.report, "\n", signed_report(r, input), nonstationary_report(r));
  if (json) {
    nlohmann::ordered_json j = to_json(r);
    j["meta"] = meta_json(s.meta, &input);
    append(p.json, j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace), "\n");
  }
  if (html) p.sections.push_back({r, std::move(svg), input});
}

// Pending output of the input being written goes out once it has this much,
// or this long after it last went out (at once for its first series).
constexpr std::size_t kFlushBytes = std::size_t{1} << 16;
constexpr std::chrono::milliseconds kFlushAfter{200};

// Fits every file, writing each one's reports and JSON lines in the order
// given (a grouped file's series in order), as soon as they and all before
// them are done. A failed write stops the run: what follows would be lost.
// Returns whether any file failed. keep_detail: the first file's first
// series stays with its detail for its outputs; with --html every file's
// picture is drawn when its first series is done.
bool fit_all(const Settings& s, Sinks& sinks, std::vector<Outcome>& outcomes, bool keep_detail) {
  const bool html = sinks.html != nullptr;
  outcomes.assign(s.files.size(), {});
  std::vector<char> done(s.files.size(), 0);
  std::size_t next_out = 0;
  bool failed = false, reported = false;
  std::atomic<bool> stop{false};
  std::mutex lock;
  auto write = [&](Pending& p) {  // under the lock
    if (!p.errors.empty()) std::fputs(p.errors.c_str(), stderr);
    if (!p.report.empty()) {
      // The run's header block, then a blank line, before the first report.
      if (!reported) sinks.out.write(meta_text(s.meta));
      sinks.out.write(p.report);
      reported = true;
    }
    if (sinks.json != nullptr && !p.json.empty()) sinks.json->write(p.json);
    for (HtmlSection& section : p.sections) sinks.sections.push_back(std::move(section));
    failed = failed || p.failed;
    p.errors.clear();
    p.report.clear();
    p.json.clear();
    p.sections.clear();
    if (sinks.failed()) stop = true;
  };
  detail::parallel_for(s.files.size(), s.threads, [&](std::size_t i) {
    if (stop) return;
    Outcome& o = outcomes[i];
    // Only this thread touches o until it is done, but for writing its
    // pending output under the lock while it is the next to be written.
    InputDigest digest(s.files[i]);
    bool described = false;
    const TakeSeries take = [&](FitResult&& r, bool first) {
      if (!std::exchange(described, true)) {
        // An input not read through needs no digest.
        if (!r.ok && (r.input_error || r.n == 0)) digest.cancel();
        o.input = digest.get();
      }
      // Each series has its picture, a grouped record's groups too.
      std::string svg =
          html && r.ok ? picture(r, o.detail, signed_picture(s, r, o.input)) : std::string();
      render(r, std::move(svg), sinks.report, sinks.json != nullptr, html, s, o.input, o.pending);
      if (s.per_group && r.ok && !write_group_files(s, r, o.detail, o.input, o.group_files))
        o.pending.failed = true;
      if (first && keep_detail) o.result = std::move(r);
      Pending& p = o.pending;
      const auto now = std::chrono::steady_clock::now();
      if (p.errors.size() + p.report.size() + p.json.size() >= kFlushBytes ||
          now - p.written >= kFlushAfter) {
        const std::lock_guard<std::mutex> guard(lock);
        if (i == next_out) {
          write(p);
          p.written = now;
        }
      }
      return !stop;
    };
    fit_one(s.files[i], s, keep_detail || html, o, take);
    const std::lock_guard<std::mutex> guard(lock);
    done[i] = 1;
    for (; next_out < s.files.size() && done[next_out]; ++next_out) {
      if (!stop) write(outcomes[next_out].pending);
      if (!keep_detail) outcomes[next_out] = Outcome{};  // the memory goes once written
    }
  });
  return failed;
}

// The classic per-bin table of one fit.
std::string result_table(const FitResult& r, const FitDetail& d) {
  std::string out;
  char line[256];
  out.append(line, dnls::fmt::format_to(line, sizeof line, kResultHeaderLayout,
                                        {"#", "X(i)", "Y(i)", "Fitted_Y(i)", "DELTA"}));
  out += '\n';
  for (std::size_t i = 0; i < d.centres.size(); ++i) {
    const double fitted = extremeval(d.centres[i], r.ls.a, r.ls.b);
    out.append(line, dnls::fmt::format_to(
                         line, sizeof line, kResultRowLayout,
                         {d.centres[i], d.densities[i], fitted, d.densities[i] - fitted}));
    out += '\n';
  }
  return out;
}

// The file of a group's output: FILE's stem, "-", the group's name with each
// byte but ASCII letters, digits, '-', '_' and '.' made '_', and FILE's
// extension ("g.svg" and "Oslo Blindern" give "g-Oslo_Blindern.svg").
std::string group_file(const std::string& file, const std::string& group) {
  const std::size_t slash = file.rfind('/'), dot = file.rfind('.');
  const bool extension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  const std::size_t cut = extension ? dot : file.size();
  std::string safe;
  for (const char c : group) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || c == '.';
    safe += kept ? c : '_';
  }
  return concat(std::string_view(file).substr(0, cut), "-", safe, std::string_view(file).substr(cut));
}

// Writes a group's picture and table to files of their own; false after a
// message. Two groups whose names come out alike do not share a file: the
// later one's is refused.
bool write_group_files(const Settings& s, const FitResult& r, const FitDetail& d,
                       const InputMeta& input, std::set<std::string>& used) {
  const bool drawn = !(s.svg.empty() && s.png.empty() && s.pdf.empty());
  const std::string svg = drawn ? picture(r, d, signed_picture(s, r, input)) : std::string();
  bool ok = true;
  for (const auto& [option, given, format] :
       {std::tuple{"--svg", &s.svg, "svg"}, {"--png", &s.png, "png"}, {"--pdf", &s.pdf, "pdf"},
        {"--result", &s.result, "table"}}) {
    if (given->empty()) continue;
    const std::string name = group_file(*given, r.dated->group);
    const char* clash = !used.insert(name).second ? "another group's file too"
                        : same(name_id(name), name_id(s.files[0])) ? "the input file"
                                                                    : nullptr;
    if (clash != nullptr) {
      std::fprintf(stderr, "korvalinde: %s: %s (group %s) is %s\n", option, printable(name).c_str(),
                   printable(r.dated->group).c_str(), clash);
      ok = false;
      continue;
    }
    std::string bytes = format == std::string_view("svg")     ? svg
                        : format == std::string_view("table") ? result_table(r, d)
                                                              : std::string();
    if (bytes.empty() && !render_image(svg, format, bytes)) {
      ok = false;  // the renderer has said why
      continue;
    }
    Sink sink(name);
    ok = sink.open() && sink.write(bytes) && sink.commit(true) && ok;
  }
  return ok;
}

// Writes the outputs of the one input (picture, table) and completes every
// output file. An output of a failed fit is dropped, leaving its old file.
bool write_outputs(Sinks& sinks, const std::vector<Outcome>& outcomes, const Settings& s) {
  const bool fitted = outcomes.size() == 1 && outcomes[0].result.ok;
  // The block maxima are written even when their fit fails.
  const bool maxima = outcomes.size() == 1 && !outcomes[0].maxima.empty();
  if (maxima && sinks.maxima != nullptr && !sinks.failed())
    sinks.maxima->write(outcomes[0].maxima);
  const bool effective = outcomes.size() == 1 && !outcomes[0].effective.empty();
  if (effective && sinks.effective != nullptr && !sinks.failed())
    sinks.effective->write(outcomes[0].effective);
  if (fitted && !sinks.failed()) {
    const Outcome& o = outcomes[0];
    if (sinks.result != nullptr) sinks.result->write(result_table(o.result, o.detail));
    const bool drawn = sinks.svg != nullptr || sinks.png != nullptr || sinks.pdf != nullptr;
    const std::string svg =
        drawn ? picture(o.result, o.detail, signed_picture(s, o.result, o.input)) : std::string();
    if (sinks.svg != nullptr) sinks.svg->write(svg);
    for (const auto& [sink, format] : {std::pair{sinks.png, "png"}, std::pair{sinks.pdf, "pdf"}}) {
      if (sink == nullptr) continue;
      std::string bytes;
      if (render_image(svg, format, bytes)) sink->write(bytes);
      else sink->fail(EIO);  // the renderer has said why
    }
  }
  if (sinks.html != nullptr && !sinks.failed()) sinks.html->write(render_html(sinks.sections, &s.meta));
  bool ok = !sinks.failed();
  for (const auto& f : sinks.files) {
    const bool per_input = f.get() == sinks.svg || f.get() == sinks.result ||
                           f.get() == sinks.png || f.get() == sinks.pdf;
    const bool written = f.get() == sinks.maxima      ? maxima
                         : f.get() == sinks.effective ? effective
                                                      : fitted || !per_input;
    if (!f->commit(ok && written)) ok = false;
  }
  return ok;
}

// The options in force, with the methods by their names and without the
// defaults of a method that does not run.
std::vector<std::pair<std::string, std::string>> fit_options_in_force(const CLI::App& fit,
                                                                     const Settings& s) {
  auto out = options_in_force(fit, [&](const CLI::Option& o) {
    return (o.get_name() == "--bins" && !s.fit.ls) || (o.get_name() == "--min-coverage" && s.dated.block.empty());
  });
  for (auto& [name, value] : out) {
    if (name != "--methods") continue;
    value.clear();
    for (const Method m : s.methods) append(value, value.empty() ? "" : ",", method_name(m));
  }
  return out;
}

int run_fit(Settings& s, const CLI::App& fit) {
  if (std::string why = validate(s); !why.empty()) return usage_error(why);
  s.meta.options = fit_options_in_force(fit, s);
  if (s.plan) {
    if (std::string why = load_covariate_table(s.covariates, *s.plan); !why.empty()) {
      std::fprintf(stderr, "korvalinde: %s\n", why.c_str());
      return 1;
    }
  }
  Sinks sinks;
  if (!open_outputs(s, sinks)) return 1;
  // One file uses the threads for its bootstrap; several share them out.
  s.fit.threads = s.files.size() == 1 ? s.threads : 1;
  if (s.plan) s.plan->csv.threads = s.fit.threads;
  // Series of one size share the simulated laws of their p-values: every fit
  // of the run has the same options, so the laws are the same bit for bit.
  stats::GofNullCache null_laws;
  s.fit.gof_null_cache = &null_laws;
  const bool keep_detail = s.per_group || sinks.svg != nullptr || sinks.result != nullptr ||
                           sinks.maxima != nullptr || sinks.png != nullptr || sinks.pdf != nullptr ||
                           sinks.effective != nullptr;
  std::vector<Outcome> outcomes;
  const bool fit_failed = fit_all(s, sinks, outcomes, keep_detail);
  const bool written = write_outputs(sinks, outcomes, s);
  return fit_failed || !written ? 1 : 0;
}

// A value option followed by another option's name (`--json --quiet FILE`)
// lacks its value: the other option is not taken for it. `--json=--quiet`
// names such a file.
std::string value_left_out(const CLI::App& app, const CLI::App& fit, int argc, char** argv) {
  std::map<std::string, const CLI::Option*> names;
  for (const CLI::App* a : {&app, &fit}) {
    for (const CLI::Option* o : a->get_options()) {
      for (const std::string& n : o->get_lnames()) names.emplace("--" + n, o);
      for (const std::string& n : o->get_snames()) names.emplace("-" + n, o);
    }
  }
  for (int i = 2; i + 1 < argc; ++i) {
    const std::string arg = argv[i], next = argv[i + 1];
    if (arg == "--") break;
    const auto option = names.find(arg);
    if (option == names.end() || option->second->get_expected_max() == 0) continue;  // a flag
    if (names.count(next.substr(0, next.find('='))) != 0)
      return arg + ": a value expected, not the option " + next;
    ++i;  // the value
  }
  return {};
}

}  // namespace

std::string version_text() {
  std::string v = "korvalinde " KORVALINDE_VERSION;
#ifdef KORVALINDE_GIT_COMMIT
  v += " (" KORVALINDE_GIT_COMMIT ")";
#endif
  return v;
}

int main(int argc, char** argv) {
  CLI::App app{
      "korvalinde fits the Gumbel (extreme-value type I) distribution to samples.\n"
      "Without arguments it runs the classic run: control input on standard input.",
      "korvalinde"};
  app.set_version_flag("--version", version_text());
  app.require_subcommand(1);
  Settings s;
  CLI::App* fit = app.add_subcommand("fit", "Fit each FILE (- is standard input)");
  add_options(*fit, s);
  if (argc > 1) {
    const std::string first = argv[1];
    if (first == "idf") return idf_main(argc, argv);
    if (first == "region") return region_main(argc - 1, argv + 1);
    if (first != "fit" && first != "--help" && first != "-h" && first != "--version")
      return usage_error(first[0] == '-' ? first + ": unknown option"
                                         : first + ": unknown command");
  }
  if (argc == 3 && std::string_view(argv[1]) == "fit" && std::string_view(argv[2]) == "--man") {
    std::fputs(man_options(*fit).c_str(), stdout);  // the manual page's list, hidden
    return 0;
  }
  if (argc > 1 && std::string_view(argv[1]) == "fit") {
    if (std::string why = value_left_out(app, *fit, argc, argv); !why.empty())
      return usage_error(why);
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return usage_error(e.what());
  }
  s.meta.version = version_text();
  s.meta.time = run_time();
  s.meta.command = shell_command(std::vector<std::string>(argv, argv + argc));
  s.meta.units = s.picture.units;
  return run_fit(s, *fit);
}

}  // namespace korvalinde::cli
