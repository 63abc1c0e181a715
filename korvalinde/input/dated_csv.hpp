// The reader of dated records: a delimited text file with an optional header,
// a value column, an optional time (one column or year, month and day
// columns) and an optional grouping column. Missing values are kept (as NaN)
// and counted; rows come out in time order, one series per group.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "korvalinde/detail/uninit.hpp"
#include "korvalinde/records/input_error.hpp"

namespace korvalinde {

// A column by header name, or by 1-based number when `number` > 0.
struct ColumnRef {
  std::string name;
  int number = 0;
};

// "6" is column 6; anything else is a header name.
ColumnRef column_ref(std::string_view text);

enum class HeaderRule { Detect, Present, Absent };
enum class DuplicateRule { Error, Max, First, Last, Sum, Keep };  // Keep: every row

struct CsvOptions {
  ColumnRef value{{}, 1};
  std::vector<ColumnRef> time;  // none, one column, or year, month, day
  std::optional<ColumnRef> by;
  HeaderRule header = HeaderRule::Detect;
  // ' ': a run of blanks and tabs separates; 0: fields end at a comma or
  // blanks, a slash ends the line (plain files).
  char sep = ',';
  bool detect_sep = false;  // instead: a comma, a tab or blanks, as the first line has them
  std::vector<std::string> na;  // missing-value tokens besides the default ones
  DuplicateRule duplicates = DuplicateRule::Error;
  unsigned threads = 1;  // for parsing; the result does not depend on it
  // Bytes of a regular file read at a time (and parsed in 16 runs at most):
  // memory holds one window besides the rows. A longer line is refused.
  std::size_t window = std::size_t{1} << 24;
};

struct Series {
  std::string group;               // the grouping column's value; empty without one
  detail::RawVector<std::int64_t> time;  // seconds since 1970-01-01 UTC, ascending; empty without a time
  detail::RawVector<double> value;       // NaN where missing
  std::size_t n_missing = 0;  // NaN entries of value
  std::size_t n_merged = 0;   // rows merged into another of the same time (--duplicates)
};

struct DatedRecord {
  bool has_time = false;
  std::vector<Series> series;  // groups in order of first appearance
  // Without times: a column whose first value is a time (not a number), by
  // its header name or as "column N"; empty when there is none.
  std::string date_column;
};

// Parses the whole text of `file`. The first fault in file order is returned
// (a duplicate time, found after all rows are read, names both lines).
std::optional<InputError> read_dated(std::string_view text, const std::string& file,
                                     const CsvOptions& options, DatedRecord& out);

// Reads the file ("-" is standard input) from its offset on and parses it:
// a regular file in windows copied in with pread (and "changed while it
// was read" when it changed meanwhile), anything else read whole first.
std::optional<InputError> read_dated_file(const std::string& file, const CsvOptions& options,
                                          DatedRecord& out);

// A time of the formats the reader accepts: YYYY, YYYY-MM-DD and
// YYYY-MM-DD(T| )HH:MM[:SS][Z]. False for anything else.
bool parse_time(std::string_view text, std::int64_t& seconds);

// YYYY-MM-DD at midnight, else YYYY-MM-DDTHH:MM:SSZ.
std::string format_time(std::int64_t seconds);

}  // namespace korvalinde
