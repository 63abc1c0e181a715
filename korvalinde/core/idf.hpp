// Intensity-duration-frequency analysis of one series of a dated rain record
// (or of a table of annual maximum intensities): the block maxima of the
// moving sums over each duration, the fit command's fit of their intensities,
// the table of intensities of durations and return periods, and the formula
// i = a / (d + b)^c of each period. Re-entrant.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "korvalinde/core/fit.hpp"
#include "korvalinde/input/dated_csv.hpp"
#include "korvalinde/records/idf_result.hpp"
#include "korvalinde/stats/blocks.hpp"

namespace korvalinde {

struct IdfOptions {
  std::vector<std::int64_t> durations;  // seconds, ascending
  stats::BlockRule block;
  std::int64_t step = 0;                // the record's step in seconds; 0: inferred
  double fixed_interval_factor = 1;     // multiplies maxima of fixed clock intervals
  double reference_hours = 1;           // d0 of the scaling model
  FitOptions fit;                       // families, methods, periods, confidence
};

// The default durations: 5min, 10min, 15min, 30min, 1h, 2h, 3h, 6h, 12h, 24h, 48h, 72h.
std::vector<std::int64_t> default_durations();

IdfResult idf_series(const Series& series, bool grouped, const IdfOptions& options,
                     std::string_view file);

// A table of annual maximum intensities: a year column and one column per
// duration, named by its duration ("5min", "1h", "24h").
struct MaximaTable {
  std::vector<std::int64_t> durations;          // seconds, in column order
  std::vector<std::string> years;
  std::vector<std::vector<double>> intensities;  // [duration][year], NaN where missing
};

// Parses the table's text: empty on success, else "LINE:COLUMN: why" (or
// "why" for the header) naming the first fault.
std::string parse_maxima_table(std::string_view text, char sep, MaximaTable& out);

IdfResult idf_table(const MaximaTable& table, const IdfOptions& options, std::string_view file);

}  // namespace korvalinde
