#include "korvalinde/cli/covariate_options.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "korvalinde/cli/option_checks.hpp"
#include "korvalinde/detail/civil.hpp"

namespace korvalinde::cli {
namespace {

std::vector<std::string_view> split(std::string_view s, char sep) {
  std::vector<std::string_view> out;
  for (std::size_t at = 0; at <= s.size();) {
    const std::size_t end = std::min(s.find(sep, at), s.size());
    out.push_back(s.substr(at, end - at));
    at = end + 1;
  }
  return out;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  return s;
}

bool whole(std::string_view s, long long& v) {
  const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  return !s.empty() && ec == std::errc{} && p == s.data() + s.size();
}

// A year ("1931") or a date ("1931-07-15"): its key and whether it is a day.
bool read_key(std::string_view s, std::int64_t& key, bool& day) {
  long long y = 0, m = 0, d = 0;
  if (whole(s, y)) {
    key = y;
    day = false;
    return y >= 0 && y <= 9999;
  }
  if (s.size() != 10 || s[4] != '-' || s[7] != '-') return false;
  if (!whole(s.substr(0, 4), y) || !whole(s.substr(5, 2), m) || !whole(s.substr(8, 2), d)) return false;
  if (m < 1 || m > 12 || d < 1 || d > detail::days_in_month(y, static_cast<int>(m))) return false;
  key = detail::days_from_civil(y, static_cast<int>(m), static_cast<int>(d));
  day = true;
  return true;
}

// The whole file into text (a table of covariates is small: at most 1 GiB);
// 0 or the errno.
int read_whole_file(const std::string& name, std::string& text) {
  std::FILE* f = std::fopen(name.c_str(), "rb");
  if (f == nullptr) return errno;
  char buf[1 << 16];
  int err = 0;
  for (std::size_t got; (got = std::fread(buf, 1, sizeof buf, f)) > 0;) {
    if (text.size() + got > (std::size_t{1} << 30)) {
      err = EFBIG;
      break;
    }
    text.append(buf, got);
  }
  if (err == 0 && std::ferror(f)) err = EIO;
  std::fclose(f);
  return err;
}

bool missing(std::string_view s) {
  return s.empty() || s == "NA" || s == "na" || s == "NaN" || s == "nan" || s == "-";
}

}  // namespace

void add_covariate_options(CLI::App& fit, CovariateSettings& c) {
  fit.add_option("--covariate", c.names,
                 "Fit the GEV with parameters linear in these covariates, comma separated: "
                 "time (the record's own, in years) or columns of --covariates");
  fit.add_option("--covariates", c.table,
                 "CSV of covariates: a header, then a year or a date and the values");
  fit.add_option("--vary", c.vary, "Parameters that follow the covariates: loc (default), loc,scale, or "
                 "dispersion (mu and sigma both times exp(a c / mu0)); with --pot the GPD's scale alone");
  fit.add_option("--at", c.at, "A covariate point NAME=V[,NAME=V] for the effective levels (repeatable; "
                               "default: the first and last observed values of one covariate)")
      ->allow_extra_args(false);
  fit.add_option("--effective-levels", c.effective,
                 "Write every observation's effective return levels as CSV (one input only)");
  fit.add_flag("--trend", c.trend, "Mann-Kendall test and Sen's slope of the dated maxima");
}

bool wants_covariates(const CovariateSettings& c) {
  return !c.names.empty() || !c.table.empty() || !c.vary.empty() || !c.at.empty() ||
         !c.effective.empty() || c.trend;
}

std::string make_covariate_plan(const CovariateSettings& c, const FitOptions& fit, DatedPlan& plan) {
  CovariatePlan p;
  if (!c.names.empty()) {
    for (std::string_view n : split(c.names, ',')) {
      if (n.empty()) return "--covariate: empty name";
      if (std::find(p.names.begin(), p.names.end(), n) != p.names.end())
        return "--covariate: " + std::string(n) + " given twice";
      p.names.emplace_back(n);
    }
    if (p.names.size() > stats::kMaxCovariates)
      return "--covariate: at most " + std::to_string(stats::kMaxCovariates) + " covariates";
  }
  const bool fitted = !p.names.empty();
  if (!fitted && (!c.table.empty() || !c.vary.empty() || !c.at.empty() || !c.effective.empty()))
    return "--covariates, --vary, --at and --effective-levels need --covariate";
  for (const std::string& n : p.names) {
    if (n != kTimeCovariate && c.table.empty())
      return "--covariate " + n + ": not time, and no --covariates file is given";
  }
  if (plan.csv.time.empty()) return "--covariate and --trend need --time";
  if (plan.pot && !plan.block) {
    // Peaks over a threshold: the GPD's log-scale follows the covariates,
    // its shape and the cluster rate stay constant.
    if (!c.vary.empty() && c.vary != "scale")
      return "--vary: with --pot only scale, not '" + c.vary + "'";
    p.model = {stats::NsFamily::gpd, false, true};
    p.vary = "scale";
  } else if (c.vary.empty() || c.vary == "loc") {
    p.model = {stats::NsFamily::gev, true, false};
    p.vary = "loc";
  } else if (c.vary == "loc,scale" || c.vary == "scale,loc") {
    p.model = {stats::NsFamily::gev, true, true};
    p.vary = "loc,scale";
  } else if (c.vary == "scale") {
    p.model = {stats::NsFamily::gev, false, true};
    p.vary = "scale";
  } else if (c.vary == "dispersion") {
    p.model = {stats::NsFamily::gev, true, false, true};
    p.vary = "dispersion";
  } else {
    return "--vary: loc, scale, loc,scale or dispersion expected, not '" + c.vary + "'";
  }
  for (const std::string& text : c.at) {
    std::vector<double> point(p.names.size(), kUndefined);
    for (std::string_view item : split(text, ',')) {
      const std::size_t eq = item.find('=');
      const std::string name(item.substr(0, eq));
      const auto it = std::find(p.names.begin(), p.names.end(), name);
      if (eq == std::string_view::npos || it == p.names.end())
        return "--at " + text + ": NAME=VALUE of a covariate expected";
      double& v = point[static_cast<std::size_t>(it - p.names.begin())];
      if (std::string why = read_number(item.substr(eq + 1), v); !why.empty() || !std::isfinite(v))
        return "--at " + text + ": " + (why.empty() ? "must be finite" : why);
    }
    for (std::size_t j = 0; j < point.size(); ++j) {
      if (std::isnan(point[j])) return "--at " + text + ": no value of " + p.names[j];
    }
    p.request.at.push_back(std::move(point));
  }
  if (c.at.empty() && p.names.size() > 1)
    return "--at: the points are needed with more than one covariate";
  p.request.periods = fit.periods;
  p.request.level = fit.level.value_or(kUndefined);
  p.request.profiles = fit.profiles;
  p.effective_levels = !c.effective.empty();
  plan.covariates = std::move(p);
  return "";
}

std::string parse_covariate_table(std::string_view text, const std::string& file, CovariateTable& t) {
  t = CovariateTable{};
  t.file = file;
  std::size_t line_no = 0;
  std::map<std::int64_t, std::size_t> line_of;
  bool first_row = true;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    ++line_no;
    if (trim(line).empty()) continue;
    const std::vector<std::string_view> fields = split(line, ',');
    auto fault = [&](std::size_t field, const std::string& why) {
      return file + ":" + std::to_string(line_no) + ":" + std::to_string(field + 1) + ": " + why;
    };
    if (t.names.empty()) {
      if (fields.size() < 2) return fault(0, "a header of a year or date column and covariates expected");
      for (std::size_t k = 1; k < fields.size(); ++k) {
        const std::string name(trim(fields[k]));
        if (name.empty()) return fault(k, "empty column name");
        if (std::find(t.names.begin(), t.names.end(), name) != t.names.end())
          return fault(k, "column " + name + " given twice");
        t.names.push_back(name);
      }
      continue;
    }
    if (fields.size() != t.names.size() + 1)
      return fault(std::min(fields.size(), t.names.size() + 1) - 1,
                   std::to_string(fields.size()) + " fields, the header has " +
                       std::to_string(t.names.size() + 1));
    std::int64_t key = 0;
    bool day = false;
    if (!read_key(trim(fields[0]), key, day)) return fault(0, "a year (0 to 9999) or a date YYYY-MM-DD expected");
    if (first_row) t.by_day = day;
    else if (day != t.by_day) return fault(0, t.by_day ? "a date expected, as above" : "a year expected, as above");
    first_row = false;
    if (const auto seen = line_of.find(key); seen != line_of.end())
      return fault(0, std::string(day ? "date" : "year") + " also on line " + std::to_string(seen->second));
    line_of.emplace(key, line_no);
    std::vector<double> values(t.names.size(), kUndefined);
    for (std::size_t k = 1; k < fields.size(); ++k) {
      const std::string_view f = trim(fields[k]);
      if (missing(f)) continue;
      double v = 0;
      if (std::string why = read_number(f, v); !why.empty()) return fault(k, why);
      if (!std::isfinite(v)) return fault(k, "a finite number expected");
      values[k - 1] = v;
    }
    t.rows.emplace(key, std::move(values));
  }
  if (t.names.empty()) return file + ": no header line";
  if (t.rows.empty()) return file + ": no rows";
  return "";
}

std::string load_covariate_table(const CovariateSettings& c, DatedPlan& plan) {
  if (c.table.empty() || !plan.covariates) return "";
  std::string text;
  if (const int err = read_whole_file(c.table, text); err != 0) return c.table + ": " + std::strerror(err);
  auto table = std::make_shared<CovariateTable>();
  if (std::string why = parse_covariate_table(text, c.table, *table); !why.empty()) return why;
  for (const std::string& n : plan.covariates->names) {
    if (n != kTimeCovariate && std::find(table->names.begin(), table->names.end(), n) == table->names.end())
      return c.table + ": no column " + n + " (--covariate)";
  }
  if (table->by_day && plan.block)
    return c.table + ": dates join a dated series' values, block maxima join a table of years";
  plan.covariates->table = std::move(table);
  return "";
}

}  // namespace korvalinde::cli
