#include "korvalinde/cli/region_command.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

#include "korvalinde/cli/dated_options.hpp"
#include "korvalinde/cli/fit_command.hpp"
#include "korvalinde/cli/man_page.hpp"
#include "korvalinde/cli/option_checks.hpp"
#include "korvalinde/cli/region_render.hpp"
#include "korvalinde/cli/run_meta.hpp"
#include "korvalinde/cli/text.hpp"
#include "korvalinde/core/dated.hpp"
#include "korvalinde/detail/output_file.hpp"
#include "korvalinde/input/dated_csv.hpp"
#include "korvalinde/input/file_bytes.hpp"
#include "korvalinde/stats/blocks.hpp"
#include "korvalinde/stats/region.hpp"

namespace korvalinde::cli {
namespace {

constexpr const char* kRegionUsage = "Usage: korvalinde region [OPTIONS] FILE... | --summary FILE";

struct RegionSettings {
  std::vector<std::string> files;
  std::string summary, column = "1", sep, periods = "2,5,10,20,50,100", json, html, units;
  DatedSettings dated;
  std::size_t nsim = 500, min_years = 10, accuracy = 0;
  std::uint64_t seed = 0;
  double correlation = 0;
  unsigned threads = 0;
  bool quiet = false, all_curves = false;
  RunMeta meta;
};

int region_usage(const std::string& what) {
  std::fprintf(stderr, "korvalinde: %s\n%s\n", what.c_str(), kRegionUsage);
  return 2;
}

std::vector<std::string> fields(std::string_view line, char sep) {
  std::vector<std::string> out;
  for (std::size_t at = 0; at <= line.size();) {
    const std::size_t end = std::min(line.find(sep, at), line.size());
    std::string_view f = line.substr(at, end - at);
    while (!f.empty() && (f.front() == ' ' || f.front() == '\t')) f.remove_prefix(1);
    while (!f.empty() && (f.back() == ' ' || f.back() == '\t' || f.back() == '\r')) f.remove_suffix(1);
    out.emplace_back(f);
    at = end + 1;
  }
  return out;
}

// The sites of a summary file: a header "site,n,mean,t,t3,t4,t5" and one line
// a site.
std::optional<InputError> read_summary(const std::string& file, std::string_view text, char sep,
                                       std::vector<stats::RegionSiteInput>& sites) {
  static const std::vector<std::string> kHeader{"site", "n", "mean", "t", "t3", "t4", "t5"};
  std::uint64_t line_no = 0;
  bool header = false;
  std::set<std::string> names;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string_view line = text.substr(at, end - at);
    at = end + 1;
    ++line_no;
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
    const std::vector<std::string> f = fields(line, sep);
    if (!header) {
      if (f != kHeader) return InputError{file, line_no, 0, "bad_header", "the header must be site,n,mean,t,t3,t4,t5"};
      header = true;
      continue;
    }
    if (f.size() != kHeader.size())
      return InputError{file, line_no, 0, "field_count", std::to_string(f.size()) + " fields, 7 expected"};
    if (!names.insert(f[0]).second)
      return InputError{file, line_no, 1, "duplicate_site", "site " + printable(f[0]) + " given twice"};
    stats::RegionSiteInput s;
    s.name = f[0];
    unsigned long long n = 0;
    const auto [p, ec] = std::from_chars(f[1].data(), f[1].data() + f[1].size(), n);
    if (ec != std::errc() || p != f[1].data() + f[1].size() || n == 0)
      return InputError{file, line_no, 2, "not_a_count", "'" + printable(f[1]) + "' is not a positive whole number"};
    s.lm.n = static_cast<std::size_t>(n);
    double v[5];
    for (int k = 0; k < 5; ++k) {
      if (std::string why = read_number(f[2 + k], v[k]); !why.empty() || !std::isfinite(v[k]))
        return InputError{file, line_no, 3 + k, "not_a_number", "'" + printable(f[2 + k]) + "' is not a finite number"};
    }
    s.lm.l1 = v[0];
    s.lm.t = v[1];
    s.lm.l2 = v[0] * v[1];
    s.lm.t3 = v[2];
    s.lm.t4 = v[3];
    s.lm.t5 = v[4];
    sites.push_back(std::move(s));
  }
  if (!header) return InputError{file, 0, 0, "empty", "no header line site,n,mean,t,t3,t4,t5"};
  return std::nullopt;
}

// A site's name from its file: the base name without its extension.
std::string site_name(const std::string& file) {
  std::string base = file.substr(file.find_last_of('/') + 1);
  const std::size_t dot = base.find_last_of('.');
  if (dot != std::string::npos && dot > 0) base.resize(dot);
  return base.empty() ? file : base;
}

// The site's sample: its kept block maxima with a block rule, else its
// values; what is left out is said on standard error.
std::vector<double> site_values(const Series& s, const DatedPlan& plan, const std::string& name) {
  std::vector<double> v;
  if (plan.block) {
    const stats::BlockMaxima bm = stats::block_maxima(s.time, s.value, *plan.block);
    for (const stats::BlockMax& m : bm.maxima) v.push_back(m.value);
    if (!bm.dropped.empty())
      std::fprintf(stderr, "korvalinde: note: site %s: %zu block%s without enough observations left out\n",
                   printable(name).c_str(), bm.dropped.size(), bm.dropped.size() == 1 ? "" : "s");
    return v;
  }
  for (double x : s.value)
    if (!std::isnan(x)) v.push_back(x);
  if (s.n_missing > 0)
    std::fprintf(stderr, "korvalinde: note: site %s: %zu missing value%s left out\n", printable(name).c_str(),
                 s.n_missing, s.n_missing == 1 ? "" : "s");
  return v;
}

std::string parse_periods(const std::string& text, std::vector<double>& periods) {
  periods.clear();
  for (const std::string& p : fields(text, ',')) {
    double t = 0;
    if (std::string why = read_number(p, t); !why.empty() || !(t > 1) || !std::isfinite(t))
      return "--periods: '" + p + "': return periods must be finite and greater than 1";
    periods.push_back(t);
  }
  return "";
}

int run_region(RegionSettings& s) {
  stats::RegionOptions o;
  if (std::string why = parse_periods(s.periods, o.periods); !why.empty()) return region_usage(why);
  if (s.summary.empty() == s.files.empty())
    return region_usage(s.files.empty() ? "site FILEs or --summary FILE are needed"
                                        : "give site FILEs or --summary FILE, not both");
  if (s.dated.pot || !s.dated.maxima.empty()) return region_usage("--pot and --maxima are not for regions");
  if (!s.dated.by.empty() && s.files.size() != 1) return region_usage("--by takes one FILE");
  if (s.sep.size() > 1) return region_usage("--sep: one character expected");
  if (!s.dated.time.empty() && s.dated.block.empty()) s.dated.block = "year";
  DatedPlan plan;
  if (std::string why = make_plan(s.dated, s.column, s.sep.empty() ? 0 : s.sep[0], FitOptions{}, plan); !why.empty())
    return region_usage(why);
  if (plan.block && plan.block->kind == stats::BlockKind::Month) return region_usage("--block: year or water-year expected");
  o.nsim = s.nsim;
  o.seed = s.seed;
  o.min_years = s.min_years;
  o.accuracy = s.accuracy;
  o.correlation = s.correlation;
  o.every_curve = s.all_curves;
  o.threads = s.threads == 0 ? std::max(1u, std::thread::hardware_concurrency()) : s.threads;
  plan.csv.threads = o.threads;

  detail::OutputFile json_file, html_file;
  if (!s.html.empty() && s.html == s.json) return region_usage("--json and --html name one file");
  for (const auto& [option, name, file] : {std::tuple{"--json", &s.json, &json_file}, std::tuple{"--html", &s.html, &html_file}}) {
    if (name->empty() || (*name == "-" && option[2] == 'j')) continue;
    for (const std::string& f : s.files)
      if (f == *name) return region_usage(std::string(option) + ": the output is the input");
    if (*name == s.summary) return region_usage(std::string(option) + ": the output is the input");
    if (const int err = file->open(*name, detail::OutputFile::InPlace::refused); err != 0) {
      std::fprintf(stderr, "korvalinde: %s%s: %s\n", file->beside_failed() ? "can not create a file beside " : "",
                   name->c_str(), std::strerror(err));
      return 1;
    }
  }

  std::vector<stats::RegionSiteInput> sites;
  if (!s.summary.empty()) {
    const int fd = s.summary == "-" ? STDIN_FILENO : ::open(s.summary.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      std::fprintf(stderr, "korvalinde: %s: %s\n", printable(s.summary).c_str(), std::strerror(errno));
      return 1;
    }
    const TextRead got = read_text(fd, std::size_t{1} << 20);
    if (fd != STDIN_FILENO) ::close(fd);
    if (got.error != 0 || got.cut) {
      std::fprintf(stderr, "korvalinde: %s: %s\n", printable(s.summary).c_str(),
                   got.cut ? "a line longer than 1 MB" : std::strerror(got.error));
      return 1;
    }
    const std::string_view text(got.text.data(), got.text.size());
    if (const auto fault = read_summary(s.summary, text, s.sep.empty() ? ',' : s.sep[0], sites)) {
      std::fprintf(stderr, "%s\n", printable(fault->text()).c_str());
      return 1;
    }
  } else {
    std::set<std::string> names;
    for (const std::string& file : s.files) {
      DatedRecord record;
      if (const std::optional<InputError> fault = read_dated_file(file, plan.csv, record)) {
        std::fprintf(stderr, "%s\n", printable(fault->text()).c_str());
        return 1;
      }
      if (!record.date_column.empty())
        std::fprintf(stderr, "korvalinde: warning: %s: %s holds times; give --time to take annual maxima\n",
                     printable(file).c_str(), printable(record.date_column).c_str());
      for (const Series& series : record.series) {
        const std::string name = plan.csv.by ? series.group : site_name(file);
        if (!names.insert(name).second) {
          std::fprintf(stderr, "korvalinde: %s: two sites named %s\n", printable(file).c_str(), printable(name).c_str());
          return 1;
        }
        sites.push_back(stats::region_site(name, site_values(series, plan, name)));
      }
    }
  }
  RegionResult result;
  std::string why;
  const stats::RegionStatus status = stats::analyze_region(sites, o, result, why);
  for (const std::string& left : result.left_out)
    std::fprintf(stderr, "korvalinde: note: site %s left out: fewer than %zu values\n", printable(left).c_str(),
                 s.min_years);
  if (status == stats::RegionStatus::empty) return region_usage(why);
  if (status == stats::RegionStatus::refused) {
    std::fprintf(stderr, "korvalinde: %s\n", printable(why).c_str());
    return 1;
  }
  std::vector<InputMeta> inputs;
  for (const std::string& file : s.summary.empty() ? s.files : std::vector<std::string>{s.summary})
    inputs.push_back(describe_input(file));
  nlohmann::ordered_json record = region_json(result);
  record["meta"] = meta_json(s.meta, inputs);
  const std::string json = record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  if (!s.quiet && s.json != "-" &&
      detail::write_all(STDOUT_FILENO, region_report(result, &s.meta, inputs)) != 0)
    return 1;
  if (!s.html.empty()) {
    const std::string page = region_html(result, &s.meta, inputs);
    if (const int err = html_file.commit(html_file.write(page)); err != 0) {
      std::fprintf(stderr, "korvalinde: %s: %s\n", s.html.c_str(), std::strerror(err));
      return 1;
    }
  }
  if (!s.json.empty() && s.json != "-") {
    if (const int err = json_file.commit(json_file.write(json)); err != 0) {
      std::fprintf(stderr, "korvalinde: %s: %s\n", s.json.c_str(), std::strerror(err));
      return 1;
    }
  }
  if (s.json == "-" && detail::write_all(STDOUT_FILENO, json) != 0) return 1;
  return 0;
}

}  // namespace

int region_main(int argc, char** argv) {
  CLI::App app{"Regional frequency analysis by L-moments of the annual maxima of several sites", "korvalinde region"};
  RegionSettings s;
  app.add_option("FILE", s.files, "A site's annual maxima (one value a line, or a dated CSV with --time)");
  app.add_option("--summary", s.summary, "Read the sites' L-moments: CSV of site,n,mean,t,t3,t4,t5");
  app.add_option("--column", s.column, "The value column (name or number)")->default_str("1");
  app.add_option("--sep", s.sep, "Field separator (default: a comma, a tab or blanks as the first line has them)");
  add_dated_options(app, s.dated, false);
  app.add_option("--periods", s.periods, "Return periods in years, comma separated")->default_str(s.periods);
  app.add_option("--nsim", s.nsim, "Simulated regions of the heterogeneity and goodness measures")
      ->check(whole_number(0, 1000000))
      ->default_str("500");
  app.add_option("--seed", s.seed, "Seed of the simulations")->default_str("0");
  app.add_option("--threads", s.threads, "Threads (default: the machine's cores)")->check(whole_number(0, 1024));
  app.add_option("--min-years", s.min_years, "Sites with fewer values are left out")
      ->check(whole_number(5, INT_MAX))
      ->default_str("10");
  app.add_option("--accuracy", s.accuracy, "Simulated regions of the quantiles' accuracy (0: none)")
      ->check(whole_number(0, 100000))
      ->default_str("0");
  app.add_option("--correlation", s.correlation, "Correlation between the sites in the accuracy's regions")
      ->check(number_where([](double r) { return r >= 0 && r < 1; }, "must be in [0, 1)"))
      ->default_str("0");
  app.add_option("--json", s.json, "Write the region as one JSON object (- is standard output)");
  app.add_option("--html", s.html, "Write a page with the L-moment ratio diagram and the growth curves");
  app.add_option("--units", s.units, "The units of the values, for the run record");
  app.add_flag("--all-curves", s.all_curves, "Growth curves of all five families, not only the accepted");
  app.add_flag("--quiet", s.quiet, "No human report");
  if (argc == 2 && std::string_view(argv[1]) == "--man") {  // the manual page's list, hidden
    std::fputs(man_options(app).c_str(), stdout);
    return 0;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return region_usage(e.what());
  }
  s.meta.version = version_text();
  s.meta.time = run_time();
  s.meta.command = shell_command(std::vector<std::string>(argv - 1, argv + argc));
  // Block options apply to dated files only.
  s.meta.options = options_in_force(app, [&](const CLI::Option& o) {
    return o.get_name() == "--min-coverage" && s.dated.time.empty() && s.dated.block.empty();
  });
  s.meta.units = s.units;
  return run_region(s);
}

}  // namespace korvalinde::cli
