#include "korvalinde/cli/idf_command.hpp"
#include "korvalinde/cli/man_page.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "korvalinde/cli/idf_render.hpp"
#include "korvalinde/cli/html.hpp"
#include "korvalinde/cli/idf_svg.hpp"
#include "korvalinde/cli/image_client.hpp"
#include "korvalinde/cli/fit_command.hpp"
#include "korvalinde/cli/run_meta.hpp"
#include "korvalinde/cli/text.hpp"
#include "korvalinde/core/idf.hpp"
#include "korvalinde/detail/output_file.hpp"
#include "korvalinde/input/dated_csv.hpp"
#include "korvalinde/input/file_bytes.hpp"
#include "korvalinde/stats/idf.hpp"

namespace korvalinde::cli {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kIdfUsage = "Usage: korvalinde idf [OPTIONS] FILE";

struct IdfSettings {
  std::string file, time, column = "value", sep, na, duplicates, by, block = "year";
  std::string durations, periods = "2,5,10,20,50,100", dist = "gev", methods = "mle,lmom";
  std::string json, csv, maxima, maxima_table, step, reference_duration = "1h";
  std::string svg, png, pdf, html, units = "depth/h";
  double min_coverage = 0.9, confidence = 0.95, factor = 1;
  bool header = false, no_header = false, quiet = false;
  unsigned threads = 0;
};

int idf_usage(const std::string& what) {
  std::fprintf(stderr, "korvalinde: %s\n%s\n", what.c_str(), kIdfUsage);
  return 2;
}

std::vector<std::string> items(const std::string& s) {
  std::vector<std::string> out;
  for (std::size_t at = 0; at <= s.size();) {
    const std::size_t comma = std::min(s.find(',', at), s.size());
    out.push_back(s.substr(at, comma - at));
    at = comma + 1;
  }
  return out;
}

std::string make_options(const IdfSettings& s, IdfOptions& o, CsvOptions& csv) {
  o.durations.clear();
  if (s.durations.empty()) {
    o.durations = default_durations();
  } else {
    for (const std::string& d : items(s.durations)) {
      std::int64_t sec = 0;
      if (!stats::parse_duration(d, sec)) return "--durations: '" + d + "' is not a duration (5min, 1h, 2d)";
      if (std::find(o.durations.begin(), o.durations.end(), sec) != o.durations.end())
        return "--durations: " + d + " given twice";
      o.durations.push_back(sec);
    }
    std::sort(o.durations.begin(), o.durations.end());
  }
  if (!s.step.empty() && !stats::parse_duration(s.step, o.step))
    return "--step: '" + s.step + "' is not a duration (5min, 1h, 1d)";
  std::int64_t ref = 0;
  if (!stats::parse_duration(s.reference_duration, ref))
    return "--reference-duration: '" + s.reference_duration + "' is not a duration";
  o.reference_hours = static_cast<double>(ref) / 3600;
  if (!stats::parse_block(s.block, o.block) || o.block.kind == stats::BlockKind::Month)
    return "--block: year or water-year[:MONTH] expected";
  if (!(s.min_coverage >= 0 && s.min_coverage <= 1)) return "--min-coverage: must be in [0, 1]";
  o.block.min_coverage = s.min_coverage;
  if (!(s.factor > 0 && std::isfinite(s.factor))) return "--fixed-interval-factor: a positive number expected";
  o.fixed_interval_factor = s.factor;
  if (!(s.confidence > 0 && s.confidence < 1)) return "--confidence: must be in (0, 1)";
  FitOptions& f = o.fit;
  f.confidence = s.confidence;
  f.ls = f.mle = f.lmom = false;
  for (const std::string& m : items(s.methods)) {
    if (m == "mle") f.mle = true;
    else if (m == "lmom") f.lmom = true;
    else return "--methods: '" + m + "' is not mle or lmom";
  }
  f.gumbel = f.gev = false;
  for (const std::string& d : items(s.dist)) {
    if (d == "gumbel") f.gumbel = true;
    else if (d == "gev") f.gev = true;
    else return "--dist: '" + d + "' is not gumbel or gev";
  }
  f.periods.clear();
  for (const std::string& p : items(s.periods)) {
    double t = 0;
    const auto [end, ec] = std::from_chars(p.data(), p.data() + p.size(), t);
    if (ec != std::errc() || end != p.data() + p.size() || !(t > 1) || !std::isfinite(t))
      return "--periods: '" + p + "': return periods must be finite and greater than 1";
    f.periods.push_back(t);
  }
  f.gev_gof_p = false;  // the simulated p-values of every duration cost more than the rest
  csv.value = column_ref(s.column);
  if (!s.time.empty()) {
    const std::vector<std::string> parts = items(s.time);
    if (parts.size() != 1 && parts.size() != 3) return "--time: one column or YEAR,MONTH,DAY";
    for (const std::string& p : parts) csv.time.push_back(column_ref(p));
  }
  if (!s.by.empty()) csv.by = column_ref(s.by);
  if (!s.na.empty()) csv.na = items(s.na);
  if (s.duplicates == "max") csv.duplicates = DuplicateRule::Max;
  else if (s.duplicates == "first") csv.duplicates = DuplicateRule::First;
  else if (s.duplicates == "last") csv.duplicates = DuplicateRule::Last;
  else if (!s.duplicates.empty()) return "--duplicates: max, first or last expected";
  if (s.header && s.no_header) return "--header and --no-header exclude each other";
  csv.header = s.header ? HeaderRule::Present : s.no_header ? HeaderRule::Absent : HeaderRule::Detect;
  if (s.sep.size() > 1) return "--sep: one character expected";
  csv.sep = s.sep.empty() ? ',' : s.sep[0];
  if (!s.by.empty() && !(s.svg.empty() && s.png.empty() && s.pdf.empty()))
    return "--svg, --png and --pdf draw one series: with --by use --html, which draws every group";
  if (s.maxima_table.empty() && s.time.empty()) return "a rain record needs --time (or give --maxima-table)";
  if (!s.maxima_table.empty() && !s.time.empty()) return "--maxima-table takes no --time";
  return "";
}

// The whole table, read as the reader reads a pipe; a line longer than
// 1 MB is no table's.
bool read_table(const std::string& name, TextRead& got, std::string& why) {
  const int fd = name == "-" ? STDIN_FILENO : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    why = name + ": " + std::strerror(errno);
    return false;
  }
  got = read_text(fd, std::size_t{1} << 20);
  if (fd != STDIN_FILENO) ::close(fd);
  if (got.error != 0 || got.cut) why = name + ": " + (got.cut ? "a line longer than 1 MB" : std::strerror(got.error));
  return why.empty();
}

// The report of a series with its input's size and digest under its first line.
std::string signed_idf_report(const IdfResult& r, const std::vector<double>& periods, const InputMeta& in) {
  std::string block = idf_report(r, periods);
  const std::size_t first = block.find('\n');
  if (first != std::string::npos) block.insert(first + 1, concat("  ", input_text(in), "\n"));
  return block;
}

// The named outputs, each replaced whole once everything is written.
struct Output {
  std::string option, name;
  detail::OutputFile file;
};

int run_idf(const IdfSettings& s, const RunMeta& meta) {
  IdfOptions options;
  CsvOptions csv;
  if (std::string why = make_options(s, options, csv); !why.empty()) return idf_usage(why);
  std::vector<std::unique_ptr<Output>> outputs;
  for (const auto& [option, name] : {std::pair{"--json", &s.json}, std::pair{"--csv", &s.csv},
                                     std::pair{"--maxima", &s.maxima}, std::pair{"--svg", &s.svg},
                                     std::pair{"--png", &s.png}, std::pair{"--pdf", &s.pdf},
                                     std::pair{"--html", &s.html}}) {
    if (name->empty()) continue;
    if (*name == s.file || *name == s.maxima_table) return idf_usage(std::string(option) + ": the output is the input");
    for (const auto& o : outputs) {
      if (o->name == *name && *name != "-") return idf_usage(o->option + " and " + option + " name one file");
    }
    auto o = std::make_unique<Output>();
    o->option = option;
    o->name = *name;
    if (*name != "-") {
      if (const int err = o->file.open(*name, detail::OutputFile::InPlace::refused); err != 0) {
        std::fprintf(stderr, "korvalinde: %s%s: %s\n", o->file.beside_failed() ? "can not create a file beside " : "",
                     name->c_str(), std::strerror(err));
        return 1;
      }
    }
    outputs.push_back(std::move(o));
  }
  const std::string input = s.maxima_table.empty() ? s.file : s.maxima_table;
  options.fit.threads = s.threads == 0 ? std::max(1u, std::thread::hardware_concurrency()) : s.threads;
  csv.threads = options.fit.threads;
  std::vector<IdfResult> results;
  // The input's size and digest, hashed beside the reading (a stream read
  // through has none).
  InputDigest digest(input);
  if (!s.maxima_table.empty()) {
    TextRead text;
    std::string why;
    MaximaTable table;
    if (!read_table(input, text, why)) {
      IdfResult r;
      r.file = input;
      r.error = why;
      results.push_back(std::move(r));
    } else if (std::string fault = parse_maxima_table(std::string_view(text.text.data(), text.text.size()), csv.sep, table); !fault.empty()) {
      IdfResult r;
      r.file = input;
      r.error = input + ":" + fault;
      results.push_back(std::move(r));
    } else {
      results.push_back(idf_table(table, options, input));
    }
  } else {
    DatedRecord record;
    if (const std::optional<InputError> fault = read_dated_file(input, csv, record)) {
      IdfResult r;
      r.file = input;
      r.error = fault->text();
      results.push_back(std::move(r));
    } else {
      for (const Series& series : record.series)
        results.push_back(idf_series(series, csv.by.has_value(), options, input));
    }
  }
  // The record of the run and of its input, for every report.
  const InputMeta& in = digest.get();
  bool failed = false;
  std::string report, json;
  for (const IdfResult& r : results) {
    if (!r.ok) {
      failed = true;
      std::fprintf(stderr, "%s\n", printable(r.error).c_str());
    } else if (!s.quiet && s.json != "-") {
      report += (report.empty() ? meta_text(meta) : "") + "\n" + signed_idf_report(r, options.fit.periods, in);
    }
    Json j = idf_json(r);
    j["meta"] = meta_json(meta, &in);
    json += j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  }
  if (!report.empty() && detail::write_all(STDOUT_FILENO, report) != 0) return 1;
  bool ok = true;
  // The pictures: one of the single series, one per series in the page.
  std::string svg;
  std::vector<IdfSection> sections;
  const bool drawn = !s.svg.empty() || !s.png.empty() || !s.pdf.empty();
  const std::string footer = meta_footer(meta, &in);
  if (drawn && !results.empty()) svg = render_idf_svg(results.front(), options.fit.periods, s.units, footer);
  if (!s.html.empty()) {
    for (const IdfResult& r : results) {
      IdfSection& sec = sections.emplace_back();
      sec.name = r.grouped ? r.file + " [" + r.group + "]" : r.file;
      if (!r.ok) {
        sec.error = r.error;
      } else {
        sec.report = idf_report(r, options.fit.periods);
        sec.svg = render_idf_svg(r, options.fit.periods, s.units, footer);
      }
    }
  }
  for (const auto& o : outputs) {
    std::string bytes;
    if (o->option == "--json") bytes = json;
    else if (o->option == "--csv") bytes = idf_csv(results);
    else if (o->option == "--maxima") bytes = idf_maxima_csv(results);
    else if (o->option == "--svg") bytes = svg;
    else if (o->option == "--html") bytes = render_idf_html(sections, &meta, &in);
    else if (results.empty() || !results.front().ok) continue;  // keeps the old file
    else if (!render_image(svg, o->option == "--png" ? "png" : "pdf", bytes)) {
      ok = false;  // the renderer has said why
      continue;
    }
    if (o->name == "-") {
      if (detail::write_all(STDOUT_FILENO, bytes) != 0) ok = false;
      continue;
    }
    const bool any = std::any_of(results.begin(), results.end(), [](const IdfResult& r) { return r.ok; });
    if (o->option != "--json" && o->option != "--html" && !any) continue;  // keeps the old file
    int err = o->file.write(bytes);
    err = o->file.commit(err);
    if (err != 0) {
      std::fprintf(stderr, "korvalinde: %s: %s\n", o->name.c_str(), std::strerror(err));
      ok = false;
    }
  }
  return failed || !ok ? 1 : 0;
}

}  // namespace

int idf_main(int argc, char** argv) {
  // argv[1] is "idf": the command's arguments follow it.
  CLI::App app{"Intensity-duration-frequency curves of a dated rain record (or of a table of "
               "annual maximum intensities)", "korvalinde idf"};
  IdfSettings s;
  app.add_option("FILE", s.file, "A dated record of rain depths at a regular step");
  app.add_option("--time", s.time, "Time column (name or number), or YEAR,MONTH,DAY columns");
  app.add_option("--column", s.column, "The depth column, by name or number")->default_str("value");
  app.add_option("--sep", s.sep, "Field separator (default: a comma)");
  app.add_option("--na", s.na, "More missing-value tokens, comma separated");
  app.add_option("--duplicates", s.duplicates, "Rows of the same time: max, first or last");
  app.add_option("--by", s.by, "Analyse each value of this column as its own series");
  app.add_flag("--header", s.header, "The first line is a header");
  app.add_flag("--no-header", s.no_header, "The first line is data");
  app.add_option("--durations", s.durations, "Durations, comma separated, each a multiple of the step")
      ->default_str("5min,10min,15min,30min,1h,2h,3h,6h,12h,24h,48h,72h");
  app.add_option("--periods", s.periods, "Return periods in years, comma separated")->default_str(s.periods);
  app.add_option("--block", s.block, "Blocks of the maxima: year or water-year[:MONTH]")->default_str(s.block);
  app.add_option("--min-coverage", s.min_coverage, "Share of a block's windows it needs")->default_str("0.9");
  app.add_option("--step", s.step, "The record's step, when the times do not show it (5min, 1h)");
  app.add_option("--maxima-table", s.maxima_table,
                 "Read annual maximum intensities: a year column and one column per duration");
  app.add_option("--fixed-interval-factor", s.factor,
                 "Multiply maxima of fixed clock intervals by this factor, 1 for none")
      ->default_str("1");
  app.add_option("--reference-duration", s.reference_duration, "Reference duration of the scaling model")
      ->default_str(s.reference_duration);
  app.add_option("--dist", s.dist, "Distributions of each duration: gumbel,gev")->default_str(s.dist);
  app.add_option("--methods", s.methods, "Methods of each duration: mle,lmom")->default_str(s.methods);
  app.add_option("--confidence", s.confidence, "Confidence of every interval")->default_str("0.95");
  app.add_option("--json", s.json, "Write the results as one JSON line per series (- is standard output)");
  app.add_option("--csv", s.csv, "Write the table of intensities as CSV");
  app.add_option("--maxima", s.maxima, "Write the annual maxima of every duration as CSV");
  app.add_option("--svg", s.svg, "Draw the curves as SVG (one series)");
  app.add_option("--png", s.png, "Draw the curves as PNG (one series)");
  app.add_option("--pdf", s.pdf, "Draw the curves as PDF (one series)");
  app.add_option("--html", s.html, "Write one HTML page: every series' report and picture");
  app.add_option("--units", s.units, "Units of the intensities on the picture's axis")->default_str(s.units);
  app.add_option("--threads", s.threads, "Threads (default: the machine's cores)");
  app.add_flag("--quiet", s.quiet, "No human report");
  if (argc == 3 && std::string_view(argv[2]) == "--man") {  // the manual page's list, hidden
    std::fputs(man_options(app).c_str(), stdout);
    return 0;
  }
  try {
    app.parse(argc - 1, argv + 1);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return idf_usage(e.what());
  }
  if (s.file.empty() == s.maxima_table.empty())
    return idf_usage(s.file.empty() ? "a rain record FILE or --maxima-table FILE is needed"
                                    : "give a rain record FILE or --maxima-table FILE, not both");
  // Defaults that a table of maxima does not use are not in force.
  RunMeta meta;
  meta.version = version_text();
  meta.time = run_time();
  meta.command = shell_command(std::vector<std::string>(argv, argv + argc));
  meta.options = options_in_force(app, [&s](const CLI::Option& o) {
    const std::string n = o.get_name();
    return !s.maxima_table.empty() && (n == "--durations" || n == "--block" || n == "--column" ||
                                       n == "--min-coverage" || n == "--fixed-interval-factor");
  });
  meta.units = s.units;
  return run_idf(s, meta);
}

}  // namespace korvalinde::cli
