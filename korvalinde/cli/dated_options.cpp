#include "korvalinde/cli/dated_options.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>

#include "korvalinde/cli/option_checks.hpp"
#include "korvalinde/cli/text.hpp"

namespace korvalinde::cli {
namespace {

std::vector<std::string> split_list(const std::string& s) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at <= s.size()) {
    const std::size_t comma = std::min(s.find(',', at), s.size());
    out.push_back(s.substr(at, comma - at));
    at = comma + 1;
  }
  return out;
}

// A field for a CSV line: quoted when it holds a comma, a quote or a line end.
std::string csv_field(const std::string& s) {
  if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
  std::string q = "\"";
  for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

}  // namespace

void add_dated_options(CLI::App& fit, DatedSettings& d, bool peaks) {
  fit.add_option("--time", d.time, "Time column (name or number), or YEAR,MONTH,DAY columns");
  fit.add_option("--by", d.by, "Fit each value of this column as its own series");
  fit.add_flag("--header", d.header, "The first line is a header");
  fit.add_flag("--no-header", d.no_header, "The first line is data");
  fit.add_option("--na", d.na, "More missing-value tokens, comma separated");
  fit.add_option("--duplicates", d.duplicates, "Rows of the same time: max, first, last, sum or keep (every row)");
  fit.add_option("--block", d.block, peaks ? "Fit block maxima: year, water-year[:MONTH] or month"
                                          : "Maxima of each block: year or water-year[:MONTH]");
  fit.add_option("--min-coverage", d.min_coverage, "Share of a block's observations it needs")
      ->default_val(0.9)
      ->check(number_where([](double c) { return c >= 0 && c <= 1; }, "must be in [0, 1]"));
  fit.add_option("--maxima", d.maxima, "Write the block maxima as CSV (one input only)");
  fit.add_flag("--pot", d.pot, "Peaks over threshold with the generalized Pareto distribution");
  fit.add_option("--threshold", d.threshold, "Threshold of --pot")
      ->check(number_where([](double u) { return std::isfinite(u); }, "must be finite"));
  fit.add_option("--threshold-quantile", d.threshold_quantile, "Threshold at this quantile")
      ->check(number_where([](double q) { return q >= 0 && q <= 1; }, "must be in [0, 1]"));
  fit.add_option("--run", d.run, "Steps without an exceedance that end a cluster (0: none)")
      ->check(whole_number(0, INT_MAX));
  fit.add_option("--per-year", d.per_year, "Observations a year (with --time: instead of the times' count)")
      ->check(number_where([](double f) { return f > 0 && std::isfinite(f); },
                           "must be positive and finite"));
  fit.add_option("--max-gap", d.max_gap, "Days without rows that --pot leaves out of the years (default: 10 steps)")
      ->check(number_where([](double f) { return f > 0 && std::isfinite(f); },
                           "must be positive and finite"));
  fit.add_option("--threshold-range", d.threshold_range, "Threshold aids over LO:HI:K");
  if (peaks) return;
  // An option of the empty group is parsed but listed nowhere.
  for (const char* name : {"--maxima", "--pot", "--threshold", "--threshold-quantile", "--run", "--per-year",
                           "--max-gap", "--threshold-range"})
    fit.get_option(name)->group("");
}

bool wants_dated(const DatedSettings& d, const std::string& column) {
  return !d.time.empty() || !d.by.empty() || !d.na.empty() || !d.duplicates.empty() ||
         !d.block.empty() || !d.maxima.empty() || d.header || d.no_header || d.pot ||
         column_ref(column).number == 0;
}

std::string make_plan(const DatedSettings& d, const std::string& column, char sep,
                      const FitOptions& fit, DatedPlan& plan) {
  plan = DatedPlan{};
  CsvOptions& c = plan.csv;
  if (column.empty()) return "--column: a name or a number expected";
  c.value = column_ref(column);
  c.sep = sep == 0 ? ',' : sep;
  c.detect_sep = sep == 0;
  if (d.header && d.no_header) return "--header and --no-header exclude each other";
  c.header = d.header ? HeaderRule::Present : d.no_header ? HeaderRule::Absent : HeaderRule::Detect;
  if (!d.time.empty()) {
    const std::vector<std::string> parts = split_list(d.time);
    if (parts.size() != 1 && parts.size() != 3) return "--time: one column or YEAR,MONTH,DAY";
    for (const std::string& p : parts) {
      if (p.empty()) return "--time: empty column";
      c.time.push_back(column_ref(p));
    }
  }
  if (!d.by.empty()) c.by = column_ref(d.by);
  if (!d.na.empty()) c.na = split_list(d.na);
  if (d.duplicates == "max") {
    c.duplicates = DuplicateRule::Max;
  } else if (d.duplicates == "first") {
    c.duplicates = DuplicateRule::First;
  } else if (d.duplicates == "last") {
    c.duplicates = DuplicateRule::Last;
  } else if (d.duplicates == "sum") {
    c.duplicates = DuplicateRule::Sum;
  } else if (d.duplicates == "keep") {
    c.duplicates = DuplicateRule::Keep;
  } else if (!d.duplicates.empty()) {
    return "--duplicates: max, first, last, sum or keep expected";
  }
  if (!d.duplicates.empty() && c.time.empty()) return "--duplicates needs --time";
  if (!d.block.empty()) {
    stats::BlockRule rule;
    if (!stats::parse_block(d.block, rule)) return "--block: year, water-year[:MONTH] or month expected";
    if (c.time.empty()) return "--block needs --time";
    rule.min_coverage = d.min_coverage;
    plan.block = rule;
    plan.block_name = rule.kind == stats::BlockKind::WaterYear
                          ? "water-year:" + std::to_string(rule.start_month)
                          : d.block;
  }
  if (!d.maxima.empty() && !plan.block) return "--maxima needs --block";
  const bool pot_option = d.threshold || d.threshold_quantile || d.run > 0 || d.per_year ||
                          d.max_gap || !d.threshold_range.empty();
  if (pot_option && !d.pot)
    return "--threshold, --threshold-quantile, --run, --per-year, --max-gap and --threshold-range need --pot";
  if (d.pot) {
    stats::PotOptions p;
    if (d.threshold.has_value() == d.threshold_quantile.has_value())
      return "--pot needs one of --threshold and --threshold-quantile";
    if (d.threshold && !std::isfinite(*d.threshold)) return "--threshold: a finite number expected";
    p.threshold = d.threshold;
    p.threshold_quantile = d.threshold_quantile;
    p.run = d.run;
    if (c.time.empty() && !d.per_year) return "--pot without --time needs --per-year";
    if (c.time.empty() && d.max_gap) return "--max-gap needs --time";
    p.per_year = d.per_year.value_or(0);
    p.max_gap = std::min(d.max_gap.value_or(0), 1e8) * 86400;
    p.mle = fit.mle;
    p.lmom = fit.lmom;
    p.periods = fit.periods;
    if (!d.threshold_range.empty()) {
      stats::ThresholdRange r;
      if (!stats::parse_threshold_range(d.threshold_range, r))
        return "--threshold-range: LO:HI:K expected, LO < HI, 2 <= K <= 1000";
      p.range = r;
    }
    plan.pot = std::move(p);
  }
  return "";
}

void append_maxima(std::string& out, const SeriesFit& f, bool grouped) {
  if (f.maxima.empty()) return;
  if (out.empty()) out = grouped ? "group,block,time,value\n" : "block,time,value\n";
  const std::string group = grouped && f.result.dated ? csv_field(f.result.dated->group) + "," : "";
  for (const stats::BlockMax& m : f.maxima) {
    char buf[32];
    const auto end = std::to_chars(buf, buf + sizeof buf, m.value).ptr;  // shortest exact
    append(out, group, m.block, ",", format_time(m.time), ",", std::string_view(buf, end), "\n");
  }
}

}  // namespace korvalinde::cli
