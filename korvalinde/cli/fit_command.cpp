#include "korvalinde/cli/fit_command.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "dnls/io/format.hpp"
#include "korvalinde/cli/dated_options.hpp"
#include "korvalinde/cli/html.hpp"
#include "korvalinde/cli/image_client.hpp"
#include "korvalinde/cli/json.hpp"
#include "korvalinde/cli/output_file.hpp"
#include "korvalinde/cli/report.hpp"
#include "korvalinde/cli/svg.hpp"
#include "korvalinde/core/fit.hpp"
#include "korvalinde/core/model.hpp"
#include "korvalinde/core/result_table.hpp"
#include "korvalinde/detail/parallel.hpp"
#include "korvalinde/input/sample_reader.hpp"

#ifndef KORVALINDE_VERSION
#define KORVALINDE_VERSION "0.0.0"
#endif

namespace korvalinde::cli {
namespace {

constexpr const char* kUsage = "Usage: korvalinde fit [OPTIONS] FILE...";

struct Settings {
  FitOptions fit;
  std::vector<std::string> files;
  std::string result, json, svg, methods = "ls,mle,lmom", sep;
  std::string png, pdf, html;
  PictureOptions picture;
  int column = 1;
  std::string column_text = "1";
  DatedSettings dated;
  std::optional<DatedPlan> plan;  // a dated record
  unsigned threads = 0;
  bool quiet = false;
};

// Everything one input produces, kept until its turn to be written.
struct Outcome {
  FitResult result;
  FitDetail detail;
  std::vector<FitResult> more;  // the further series of a grouped record
  std::string maxima;           // the --maxima text
};

std::string version_text() {
  std::string v = "korvalinde " KORVALINDE_VERSION;
#ifdef KORVALINDE_GIT_COMMIT
  v += " (" KORVALINDE_GIT_COMMIT ")";
#endif
  return v;
}

// Reads one input ("-" is standard input); an empty string or the message.
std::string load(const std::string& name, const FieldSpec& fields, std::vector<double>& values) {
  struct stat st {};
  const int fd = name == "-" ? STDIN_FILENO : open_sample(name, &st);
  if (fd < 0) return name + ": " + std::strerror(-fd);
  if (fd == STDIN_FILENO && ::fstat(fd, &st) != 0) st = {};
  const std::size_t hint = S_ISREG(st.st_mode) ? static_cast<std::size_t>(st.st_size) : 0;
  std::string why = read_values(fd, fields, values, hint);
  if (!why.empty()) why = name + ":" + (why[0] >= '0' && why[0] <= '9' ? "" : " ") + why;
  if (fd != STDIN_FILENO) ::close(fd);
  return why;
}

Outcome fit_file(const std::string& name, const Settings& s, bool keep_detail) {
  Outcome o;
  if (s.plan) {
    std::vector<SeriesFit> fits =
        fit_dated_file(name, *s.plan, s.fit, keep_detail ? &o.detail : nullptr);
    if (!s.dated.maxima.empty()) o.maxima = maxima_csv(fits, s.plan->csv.by.has_value());
    o.result = std::move(fits[0].result);
    for (std::size_t i = 1; i < fits.size(); ++i) o.more.push_back(std::move(fits[i].result));
    return o;
  }
  std::vector<double> values;
  const FieldSpec fields{s.column, s.sep.empty() ? '\0' : s.sep[0]};
  if (std::string why = load(name, fields, values); !why.empty()) {
    o.result.file = name;
    o.result.error = why;
    return o;
  }
  o.result = fit_sample_sorting(values, s.fit, name, keep_detail ? &o.detail : nullptr);
  if (!o.result.ok) o.result.error = name + ": " + o.result.error;
  return o;
}

// A file whose fit throws (memory exhausted) fails alone.
Outcome fit_one(const std::string& name, const Settings& s, bool keep_detail) noexcept {
  try {
    return fit_file(name, s, keep_detail);
  } catch (const std::exception& e) {
    Outcome o;
    o.result.file = name;
    const bool memory = dynamic_cast<const std::bad_alloc*>(&e) != nullptr;
    o.result.error = name + ": " + (memory ? "not enough memory" : e.what());
    return o;
  }
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

// Writes a whole output file ("-" is standard output); false after a
// message on standard error.
bool write_file(const std::string& name, const std::string& text) {
  if (name == "-") {
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0;
  }
  std::ofstream f(name, std::ios::binary | std::ios::trunc);
  f << text;
  f.close();
  if (!f) {
    std::fprintf(stderr, "korvalinde: can not write %s: %s\n", name.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

std::string picture(const Outcome& o, const PictureOptions& options) {
  const PlotData plot{o.detail.centres, o.detail.densities, o.detail.minimum, o.detail.dx,
                      o.detail.sorted};
  return render_svg(o.result, plot, options);
}

bool parse_methods(const std::string& list, FitOptions& o) {
  o.ls = o.mle = o.lmom = false;
  std::size_t at = 0;
  while (at <= list.size()) {
    const std::size_t comma = std::min(list.find(',', at), list.size());
    const std::string m = list.substr(at, comma - at);
    if (m == "ls")
      o.ls = true;
    else if (m == "mle")
      o.mle = true;
    else if (m == "lmom")
      o.lmom = true;
    else
      return false;
    at = comma + 1;
  }
  return true;
}

int usage_error(const std::string& what) {
  std::fprintf(stderr, "korvalinde: %s\n%s\n", what.c_str(), kUsage);
  return 2;
}

int run_fit(Settings& s) {
  if (!parse_methods(s.methods, s.fit))
    return usage_error("--methods: expected ls, mle or lmom, separated by commas");
  if (std::string why = check_options(s.fit); !why.empty()) return usage_error(why);
  if (s.sep.size() > 1) {
    if (s.sep == "\\t" || s.sep == "tab")
      s.sep = "\t";
    else
      return usage_error("--sep: one character expected");
  }
  if (wants_dated(s.dated, s.column_text)) {
    s.plan.emplace();
    if (std::string why = make_plan(s.dated, s.column_text, s.sep.empty() ? '\0' : s.sep[0], s.fit, *s.plan);
        !why.empty())
      return usage_error(why);
  } else {
    s.column = column_ref(s.column_text).number;
  }
  if (s.column < 1 || (s.plan && s.plan->csv.value.number == 0 && s.plan->csv.value.name.empty()))
    return usage_error("--column: a positive number or a header name expected");
  if (s.files.size() > 1 && !s.result.empty()) return usage_error("--result: one input file only");
  if (s.files.size() > 1 && !s.dated.maxima.empty()) return usage_error("--maxima: one input file only");
  if (s.files.size() > 1 && !s.svg.empty()) return usage_error("--svg: one input file only");
  if (s.files.size() > 1 && !s.png.empty()) return usage_error("--png: one input file only");
  if (s.files.size() > 1 && !s.pdf.empty()) return usage_error("--pdf: one input file only");
  if (s.threads == 0) s.threads = detail::default_threads();
  // An output file that is one of the inputs would destroy the measurements.
  for (const auto& [option, out] : {std::pair{"--json", &s.json}, std::pair{"--svg", &s.svg},
                                    std::pair{"--result", &s.result},
                                    std::pair{"--maxima", &s.dated.maxima},
                                    std::pair{"--png", &s.png}, std::pair{"--pdf", &s.pdf},
                                    std::pair{"--html", &s.html}}) {
    struct stat o {};
    if (out->empty() || *out == "-" || ::stat(out->c_str(), &o) != 0 || !S_ISREG(o.st_mode))
      continue;
    for (const std::string& in : s.files) {
      struct stat i {};
      if (in != "-" && ::stat(in.c_str(), &i) == 0 && i.st_dev == o.st_dev && i.st_ino == o.st_ino)
        return usage_error(std::string(option) + ": " + *out + " is an input file");
    }
  }

  const bool json_to_stdout = s.json == "-";
  const bool report = !s.quiet && !json_to_stdout;
  // The first file's detail is kept for its per-bin table and pictures; with
  // --html every file's picture is drawn when the file is written.
  const bool keep_first = !s.result.empty() || !s.svg.empty() || !s.dated.maxima.empty() ||
                          !s.png.empty() || !s.pdf.empty();
  const bool detail = keep_first || !s.html.empty();
  std::vector<HtmlSection> sections;
  // One file uses the threads for its bootstrap; several share them out.
  s.fit.threads = s.files.size() == 1 ? s.threads : 1;

  std::FILE* json = nullptr;
  if (!s.json.empty()) {
    json = json_to_stdout ? stdout : std::fopen(s.json.c_str(), "wb");
    if (json == nullptr) {
      std::fprintf(stderr, "korvalinde: can not write %s: %s\n", s.json.c_str(),
                   std::strerror(errno));
      return 1;
    }
  }

  // Each file's output is written in the order given, as soon as it and all
  // before it are done.
  std::vector<Outcome> outcomes(s.files.size());
  std::vector<char> done(s.files.size(), 0);
  std::size_t next_out = 0;
  bool failed = false, reported = false;
  std::mutex lock;
  auto emit = [&](std::size_t i) {
    for (std::size_t k = 0; k <= outcomes[i].more.size(); ++k) {
      const FitResult& r = k == 0 ? outcomes[i].result : outcomes[i].more[k - 1];
      if (!r.ok) {
        failed = true;
        std::fprintf(stderr, "%s\n", r.error.c_str());
      }
      // A failed file's message goes to standard error only.
      if (report && r.ok) {
        std::fprintf(stdout, "%s%s", reported ? "\n" : "", format_report(r).c_str());
        reported = true;
      }
      if (json != nullptr) std::fprintf(json, "%s\n", to_json_line(r).c_str());
      if (!s.html.empty())
        sections.push_back({r, k == 0 ? picture(outcomes[i], s.picture) : std::string()});
    }
    std::fflush(stdout);
    if (json != nullptr) std::fflush(json);
    if (!keep_first || i > 0) outcomes[i] = Outcome{};  // the memory goes once written
  };
  detail::parallel_for(s.files.size(), s.threads, [&](std::size_t i) {
    Outcome o = fit_one(s.files[i], s, detail);
    const std::lock_guard<std::mutex> guard(lock);
    outcomes[i] = std::move(o);
    done[i] = 1;
    while (next_out < s.files.size() && done[next_out]) emit(next_out++);
  });

  if (json != nullptr && json != stdout && std::fclose(json) != 0) {
    std::fprintf(stderr, "korvalinde: can not write %s: %s\n", s.json.c_str(),
                 std::strerror(errno));
    failed = true;
  }
  if (!s.dated.maxima.empty() && !outcomes[0].maxima.empty() &&
      !write_file(s.dated.maxima, outcomes[0].maxima))
    failed = true;
  if (detail && outcomes[0].result.ok) {
    const Outcome& o = outcomes[0];
    if (!s.result.empty() && o.result.ls.present &&
        !write_file(s.result, result_table(o.result, o.detail)))
      failed = true;
    const std::string svg = s.svg.empty() && s.png.empty() && s.pdf.empty()
                                ? std::string()
                                : picture(o, s.picture);
    if (!s.svg.empty() && !write_file(s.svg, svg)) failed = true;
    if (!s.png.empty() && !write_image(svg, "png", s.png)) failed = true;
    if (!s.pdf.empty() && !write_image(svg, "pdf", s.pdf)) failed = true;
  }
  if (!s.html.empty()) {
    if (std::string why = write_output_file(s.html, render_html(sections)); !why.empty()) {
      std::fprintf(stderr, "korvalinde: can not write %s: %s\n", s.html.c_str(), why.c_str());
      failed = true;
    }
  }
  if (std::ferror(stdout)) {
    std::fprintf(stderr, "korvalinde: can not write standard output\n");
    return 1;
  }
  return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "korvalinde fits the Gumbel (extreme-value type I) distribution to samples.\n"
      "Without arguments it runs the classic run: control input on standard input.",
      "korvalinde"};
  app.set_version_flag("--version", version_text());
  app.require_subcommand(1);
  Settings s;
  CLI::App* fit = app.add_subcommand("fit", "Fit each FILE (- is standard input)");
  fit->add_option("FILE", s.files, "Sample files, one value per line")->required();
  fit->add_option("--bins", s.fit.bins, "Histogram bins, 1 to 1000000")
      ->default_val(50)
      ->check(CLI::Range(1, 1000000));
  fit->add_option("--prob", s.fit.prob, "DPA_CUT probability, in (0, 1]")->default_val(0.99);
  fit->add_option("--result", s.result, "Write the per-bin table (one input only)");
  fit->add_option("--json", s.json, "Write one JSON line per file (- is standard output)");
  fit->add_option("--svg", s.svg, "Write the picture (one input only)");
  fit->add_option("--png", s.png, "Write the picture as PNG (one input only)");
  fit->add_option("--pdf", s.pdf, "Write the picture as PDF (one input only)");
  fit->add_option("--html", s.html, "Write one self-contained HTML report of all files");
  fit->add_option("--title", s.picture.title, "Title of the picture (default: the file's name)");
  fit->add_option("--units", s.picture.units, "Units of the values, for the axes");
  fit->add_option("--column", s.column_text, "1-based field of each line, or a header name")
      ->default_val("1");
  fit->add_option("--sep", s.sep, "Field separator (default: blanks, tabs and commas)");
  fit->add_option("--threads", s.threads, "Threads (default: the machine's cores)")
      ->check(CLI::PositiveNumber);
  fit->add_option("--methods", s.methods, "Methods: ls,mle,lmom")->default_val("ls,mle,lmom");
  fit->add_option("--periods", s.fit.periods, "Return periods, comma separated")
      ->delimiter(',')
      ->default_str("2,5,10,20,50,100,200,500,1000");
  fit->add_option("--level", s.fit.level, "Also give the return period of this level");
  fit->add_option("--bootstrap", s.fit.bootstrap, "Parametric bootstrap replicates")
      ->check(CLI::NonNegativeNumber);
  fit->add_option("--seed", s.fit.seed, "Bootstrap seed");
  fit->add_flag("--quiet", s.quiet, "No human report");
  add_dated_options(*fit, s.dated);
  if (argc > 1) {
    const std::string first = argv[1];
    if (first != "fit" && first != "--help" && first != "-h" && first != "--version")
      return usage_error(first[0] == '-' ? first + ": unknown option"
                                         : first + ": unknown command");
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
  return run_fit(s);
}

}  // namespace korvalinde::cli
