// The fit command's options for dated records, block maxima and peaks over
// a threshold, and the plan they make.
#pragma once

#include <optional>
#include <string>

#include "korvalinde/core/dated.hpp"

namespace CLI {
class App;
}

namespace korvalinde::cli {

struct DatedSettings {
  std::string time, by, na, duplicates, block, maxima, threshold_range;
  bool header = false, no_header = false, pot = false;
  double min_coverage = 0.9;
  std::optional<double> threshold, threshold_quantile, per_year, max_gap;
  int run = 0;
};

// `peaks` false: --maxima, --pot and the threshold's options stay out of
// --help and the manual page; given, they still reach the settings, for the
// command to refuse them by name. --block then offers years only.
void add_dated_options(CLI::App& app, DatedSettings& settings, bool peaks = true);

// Whether the input needs the dated reader: any of its options, or a column
// given by name.
bool wants_dated(const DatedSettings& settings, const std::string& column);

// The plan, or a usage error. `sep` is the --sep character (0: a comma).
std::string make_plan(const DatedSettings& settings, const std::string& column, char sep,
                      const FitOptions& fit, DatedPlan& plan);

// Appends a series' lines of the --maxima file, "block,time,value" (with a
// leading "group" column for a grouped record), after the header when `out`
// is empty; `out` stays empty while no series has a block maximum, so that
// the old file stays.
void append_maxima(std::string& out, const SeriesFit& fit, bool grouped);

}  // namespace korvalinde::cli
