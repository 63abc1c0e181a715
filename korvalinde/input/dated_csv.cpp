#include "korvalinde/input/dated_csv.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <span>
#include <unordered_map>

#include "korvalinde/detail/civil.hpp"
#include "korvalinde/detail/parallel.hpp"
#include "korvalinde/input/file_bytes.hpp"
#include "korvalinde/input/number.hpp"
#include "korvalinde/input/sample_reader.hpp"

namespace korvalinde {
namespace {

constexpr std::size_t kShown = 64;  // characters of a bad token shown in a message

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

// Splits a line of a plain value file: fields end at a comma or a run of
// blanks and tabs, and a slash ends the line's fields.
void split_plain(std::string_view line, std::vector<std::string_view>& fields) {
  std::size_t i = 0;
  while (i < line.size() && is_blank(line[i])) ++i;
  while (i < line.size() && line[i] != '/') {
    std::size_t j = i;
    while (j < line.size() && !is_blank(line[j]) && line[j] != ',' && line[j] != '/') ++j;
    fields.push_back(line.substr(i, j - i));
    while (j < line.size() && is_blank(line[j])) ++j;
    if (j < line.size() && line[j] == ',') {
      ++j;
      while (j < line.size() && is_blank(line[j])) ++j;
      if (j == line.size()) fields.emplace_back();  // an empty last field
    }
    i = j;
  }
}

// Splits one line (without its end) at `sep` (0: split_plain; ' ': a run of
// blanks and tabs is one separator); blanks around a field are dropped. A
// field in double quotes is taken whole, separators in it included, and a
// doubled quote in it is one quote (RFC 4180): such a field's text is copied
// into `unquoted`. Returns nothing, or why the quotes of field
// fields.size() + 1 are wrong.
const char* split(std::string_view line, char sep, std::vector<std::string_view>& fields,
                  std::string& unquoted) {
  fields.clear();
  if (sep == '\0') {
    split_plain(line, fields);
    return nullptr;
  }
  const bool blanks = sep == ' ';
  auto ends_field = [&](char c) { return blanks ? c == ' ' || c == '\t' : c == sep; };
  auto skip_blanks = [&](std::size_t j) {
    while (j < line.size() && is_blank(line[j]) && (blanks || line[j] != sep)) ++j;
    return j;
  };
  unquoted.clear();
  std::size_t i = blanks ? skip_blanks(0) : 0;
  if (blanks && i == line.size()) return nullptr;
  for (;;) {
    const std::size_t j = skip_blanks(i);
    std::size_t k;  // where the field ends: a separator or the line's end
    if (j < line.size() && line[j] == '"') {
      std::size_t close = j + 1;
      bool doubled = false;
      for (;; close += 2, doubled = true) {
        close = line.find('"', close);
        if (close == std::string_view::npos) return "a quoted field without its closing quote";
        if (close + 1 >= line.size() || line[close + 1] != '"') break;
      }
      k = close + 1;
      while (k < line.size() && !ends_field(line[k]) && is_blank(line[k])) ++k;
      if (k < line.size() && !ends_field(line[k])) return "text after a quoted field's closing quote";
      std::string_view text = line.substr(j + 1, close - j - 1);
      if (doubled) {
        // Room for every field of the line: the views taken stay valid.
        unquoted.reserve(line.size());
        const std::size_t from = unquoted.size();
        for (std::size_t q = 0; q < text.size(); ++q) {
          unquoted += text[q];
          if (text[q] == '"') ++q;
        }
        text = std::string_view(unquoted).substr(from);
      }
      fields.push_back(text);
    } else {
      k = blanks ? j : std::min(line.find(sep, j), line.size());
      while (blanks && k < line.size() && !ends_field(line[k])) ++k;
      fields.push_back(trim(line.substr(j, k - j)));
    }
    if (k >= line.size()) return nullptr;
    i = blanks ? skip_blanks(k) : k + 1;
    if (blanks && i == line.size()) return nullptr;
  }
}

std::string shown(std::string_view token) {
  std::string s(token.substr(0, kShown));
  for (char& c : s) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  if (token.size() > kShown) s += "...";
  return s;
}

bool digits(std::string_view s, std::size_t at, std::size_t n, int& out) {
  if (at + n > s.size()) return false;
  int v = 0;
  for (std::size_t i = at; i < at + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  out = v;
  return true;
}

// A whole signed decimal integer of at most 9 digits.
bool small_int(std::string_view s, std::int64_t& out) {
  bool neg = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    neg = s[0] == '-';
    s.remove_prefix(1);
  }
  int v = 0;
  if (s.empty() || s.size() > 9 || !digits(s, 0, s.size(), v)) return false;
  out = neg ? -v : v;
  return true;
}

bool civil_seconds(std::int64_t y, std::int64_t m, std::int64_t d, std::int64_t& seconds) {
  if (m < 1 || m > 12 || d < 1 || d > detail::days_in_month(y, static_cast<int>(m))) return false;
  seconds = detail::days_from_civil(y, static_cast<int>(m), static_cast<int>(d)) * detail::kSecondsPerDay;
  return true;
}

struct Row {
  std::int64_t time;
  double value;
  std::uint64_t line;
};

// A group's rows as columns, which become the series without a copy.
struct Group {
  std::string name;
  detail::RawVector<std::int64_t> time;
  detail::RawVector<double> value;
  std::vector<std::uint64_t> line;

  std::size_t size() const { return value.size(); }
  // Line numbers are kept only to name the lines of a duplicate time.
  void push(const Row& r, bool with_time, bool with_line) {
    if (with_time) time.push_back(r.time);
    if (with_line) line.push_back(r.line);
    value.push_back(r.value);
  }
  Row at(std::size_t i) const { return {time[i], value[i], line.empty() ? 0 : line[i]}; }
  void set(std::size_t i, const Row& r) {
    time[i] = r.time;
    value[i] = r.value;
    if (!line.empty()) line[i] = r.line;
  }
  bool has_duplicate() const { return std::adjacent_find(time.begin(), time.end()) != time.end(); }
  // Rows by time, equal times in file order; a record in order stays as is.
  void sort_by_time() {
    if (std::is_sorted(time.begin(), time.end())) return;
    std::vector<std::size_t> order(size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return time[a] < time[b]; });
    auto permute = [&](auto& v) {
      std::remove_reference_t<decltype(v)> sorted(v.size());
      for (std::size_t i = 0; i < order.size(); ++i) sorted[i] = v[order[i]];
      v = std::move(sorted);
    };
    permute(time);
    permute(value);
    if (!line.empty()) permute(line);
  }
};

struct Columns {
  int value = 0;                 // 0-based
  std::vector<int> time;         // 0-based
  int by = -1;                   // 0-based, -1 without
  int needed = 0;                // fields a data line must have
};

InputError error_at(const std::string& file, std::uint64_t line, int column, std::string code,
                    std::string message) {
  return InputError{file, line, column, std::move(code), std::move(message)};
}

// The duplicate time whose later line comes first in the file; each group's
// rows are sorted by time, equal times in file order.
std::optional<InputError> first_duplicate(const std::vector<Group>& groups,
                                          const std::string& file, int time_column) {
  std::optional<InputError> first;
  for (const Group& g : groups) {
    for (std::size_t i = 1; i < g.size(); ++i) {
      if (g.time[i] != g.time[i - 1]) continue;
      const std::uint64_t a = g.line[i - 1], b = g.line[i];
      if (!first || b < first->line) {
        first = error_at(file, b, time_column, "duplicate_time",
                         "time " + format_time(g.time[i]) + " on lines " +
                             std::to_string(a) + " and " + std::to_string(b));
      }
    }
  }
  return first;
}

void merge_duplicates(Group& g, DuplicateRule rule, std::size_t& merged) {
  if (rule == DuplicateRule::Keep) return;
  std::size_t out = 0;
  for (std::size_t i = 0; i < g.size();) {
    std::size_t j = i + 1;
    Row keep = g.at(i);
    for (; j < g.size() && g.time[j] == keep.time; ++j) {
      const Row r = g.at(j);
      if (rule == DuplicateRule::Sum) {  // of the values present, in file order
        if (!std::isnan(r.value)) keep.value = std::isnan(keep.value) ? r.value : keep.value + r.value;
      } else if (rule == DuplicateRule::Last ||
          (rule == DuplicateRule::Max && (std::isnan(keep.value) || r.value > keep.value)))
        keep = r;
    }
    merged += j - i - 1;
    g.set(out++, keep);
    i = j;
  }
  g.time.resize(out);
  g.value.resize(out);
  if (!g.line.empty()) g.line.resize(out);
}

}  // namespace

ColumnRef column_ref(std::string_view text) {
  int n = 0;
  if (!text.empty() && text.size() <= 9 && digits(text, 0, text.size(), n) && n > 0) return {{}, n};
  return {std::string(text), 0};
}

namespace {

// YYYY-MM-DD, the first 10 characters of s, at midnight.
bool parse_date(std::string_view s, std::int64_t& seconds) {
  int y = 0, m = 0, d = 0;
  return s.size() >= 10 && digits(s, 0, 4, y) && s[4] == '-' && digits(s, 5, 2, m) &&
         s[7] == '-' && digits(s, 8, 2, d) && civil_seconds(y, m, d, seconds);
}

// What follows a date: nothing, or (T| )HH:MM[:SS][Z]; added to seconds.
bool parse_clock(std::string_view rest, std::int64_t& seconds) {
  if (rest.empty()) return true;
  if (rest[0] != 'T' && rest[0] != ' ') return false;
  rest.remove_prefix(1);
  if (!rest.empty() && rest.back() == 'Z') rest.remove_suffix(1);
  int hh = 0, mm = 0, ss = 0;
  if (rest.size() != 5 && rest.size() != 8) return false;
  if (!digits(rest, 0, 2, hh) || rest[2] != ':' || !digits(rest, 3, 2, mm)) return false;
  if (rest.size() == 8 && (rest[5] != ':' || !digits(rest, 6, 2, ss))) return false;
  if (hh > 23 || mm > 59 || ss > 59) return false;
  seconds += hh * 3600 + mm * 60 + ss;
  return true;
}

}  // namespace

bool parse_time(std::string_view s, std::int64_t& seconds) {
  int y = 0;
  if (s.size() == 4) return digits(s, 0, 4, y) && civil_seconds(y, 1, 1, seconds);
  return parse_date(s, seconds) && parse_clock(s.substr(10), seconds);
}

std::string format_time(std::int64_t seconds) {
  const std::int64_t day = detail::day_of(seconds);
  const std::int64_t in_day = seconds - day * detail::kSecondsPerDay;
  const detail::CivilDate c = detail::civil_from_days(day);
  char buf[64];
  int len = std::snprintf(buf, sizeof buf, "%04lld-%02d-%02d", static_cast<long long>(c.year),
                          c.month, c.day);
  if (in_day != 0) {
    len += std::snprintf(buf + len, sizeof buf - static_cast<std::size_t>(len),
                         "T%02d:%02d:%02dZ", static_cast<int>(in_day / 3600),
                         static_cast<int>(in_day / 60 % 60), static_cast<int>(in_day % 60));
  }
  return std::string(buf, static_cast<std::size_t>(len));
}

namespace {

// The rows of a run of whole lines, parsed on their own: line numbers count
// from 1 at the run's first line and are made absolute when runs are joined.
struct Chunk {
  std::vector<Group> groups;  // in order of first appearance within the run
  std::optional<InputError> fault;
  std::uint64_t newlines = 0;
  // A record of one series is written straight into its joined columns,
  // from these, one row a line at most (no groups then).
  double* value = nullptr;
  std::int64_t* time = nullptr;
  std::size_t rows = 0;
};

// The last date read and its midnight: consecutive rows of a record mostly
// share their day.
struct DayCache {
  char key[10] = {};
  std::int64_t midnight = 0;
  bool valid = false;

  bool parse(std::string_view t, std::int64_t& seconds) {
    if (t.size() < 10) return parse_time(t, seconds);
    if (!valid || std::memcmp(t.data(), key, 10) != 0) {
      if (!parse_date(t, midnight)) return valid = false;
      std::memcpy(key, t.data(), 10);
      valid = true;
    }
    seconds = midnight;
    return parse_clock(t.substr(10), seconds);
  }
};

struct LineParser {
  const CsvOptions& o;
  const std::string& file;
  const Columns& cols;
  const std::vector<std::string_view>& missing;
  char sep;  // as split takes it
  bool has_time;
  bool keep_lines;

  bool is_missing(std::string_view f) const {
    return std::find(missing.begin(), missing.end(), f) != missing.end();
  }

  void parse(std::string_view text, Chunk& c) const {
    std::vector<std::string_view> fields;
    std::string unquoted;
    std::unordered_map<std::string, std::size_t> group_of;
    DayCache day;
    if (c.value != nullptr) {
      // Lines counted and room made by the caller.
    } else if (!o.by) {
      c.newlines = static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n'));
      // One series: room for every line up front, so that its columns never
      // grow by copying (and their memory goes back once joined).
      c.groups.resize(1);
      Group& g = c.groups[0];
      g.value.reserve(c.newlines + 1);
      if (has_time) g.time.reserve(c.newlines + 1);
      if (keep_lines) g.line.reserve(c.newlines + 1);
    } else {
      c.newlines = static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n'));
    }
    std::uint64_t line_no = 0;
    std::size_t at = 0;
    while (at < text.size()) {
      const std::size_t end = std::min(text.find('\n', at), text.size());
      const std::string_view line = text.substr(at, end - at);
      at = end + 1;
      ++line_no;
      if (trim(line).empty()) continue;
      if (const char* why = split(line, sep, fields, unquoted)) {
        c.fault = error_at(file, line_no, static_cast<int>(fields.size()) + 1, "bad_quotes", why);
        break;
      }
      if (!parse_row(fields, line_no, c, group_of, day)) break;
    }
  }

  bool parse_row(const std::vector<std::string_view>& fields, std::uint64_t line_no, Chunk& c,
                 std::unordered_map<std::string, std::size_t>& group_of, DayCache& day) const {
    auto fail = [&](int column, const char* code, std::string message) {
      c.fault = error_at(file, line_no, column, code, std::move(message));
      return false;
    };
    if (static_cast<int>(fields.size()) < cols.needed)
      return fail(static_cast<int>(fields.size()) + 1, "no_column", "no column " + std::to_string(cols.needed));
    Row row{0, std::numeric_limits<double>::quiet_NaN(), line_no};
    const std::string_view v = fields[static_cast<std::size_t>(cols.value)];
    if (!is_missing(v) && !parse_sample(v, row.value))
      return fail(cols.value + 1, "not_a_number", "'" + shown(v) + "' is not a number");
    if (cols.time.size() == 1) {
      const std::string_view t = fields[static_cast<std::size_t>(cols.time[0])];
      if (!day.parse(t, row.time)) return fail(cols.time[0] + 1, "bad_time", "'" + shown(t) + "' is not a time");
    } else if (cols.time.size() == 3) {
      std::int64_t part[3];
      for (std::size_t i = 0; i < 3; ++i) {
        const std::string_view t = fields[static_cast<std::size_t>(cols.time[i])];
        if (!small_int(t, part[i]))
          return fail(cols.time[i] + 1, "bad_time", "'" + shown(t) + "' is not a whole number");
      }
      // Years as a single time column has them: the blocks between two
      // times stay few.
      if (part[0] < 0 || part[0] > 9999)
        return fail(cols.time[0] + 1, "bad_time", "year " + std::to_string(part[0]) + " not in 0 to 9999");
      if (!civil_seconds(part[0], part[1], part[2], row.time)) {
        // The month or the day is at fault: any year has every month.
        const bool month = part[1] < 1 || part[1] > 12;
        return fail(cols.time[month ? 1 : 2] + 1, "bad_time",
                    month ? "no such date: month " + std::to_string(part[1])
                          : "no such date: day " + std::to_string(part[2]) + " of month " +
                                std::to_string(part[1]));
      }
    }
    if (c.value != nullptr) {
      c.value[c.rows] = row.value;
      if (has_time) c.time[c.rows] = row.time;
      ++c.rows;
      return true;
    }
    std::size_t g = 0;
    if (o.by) {
      const std::string_view name = fields[static_cast<std::size_t>(cols.by)];
      auto [it, fresh] = group_of.try_emplace(std::string(name), c.groups.size());
      if (fresh) c.groups.emplace_back().name = it->first;
      g = it->second;
    }
    c.groups[g].push(row, has_time, keep_lines);
    return true;
  }
};

// Runs of whole lines of about equal size, at least `least` bytes each.
std::vector<std::string_view> cut_at_lines(std::string_view text, std::size_t parts, std::size_t least) {
  parts = std::max<std::size_t>(1, std::min(parts, text.size() / least));
  std::vector<std::string_view> runs;
  std::size_t begin = 0;
  for (std::size_t k = 1; k <= parts && begin < text.size(); ++k) {
    std::size_t end = k == parts ? text.size() : std::max(begin, text.size() / parts * k);
    if (end < text.size()) {
      const std::size_t nl = text.find('\n', end);
      end = nl == std::string_view::npos ? text.size() : nl + 1;
    }
    runs.push_back(text.substr(begin, end - begin));
    begin = end;
  }
  return runs;
}

// Joins the runs in file order up to the first fault, after the groups
// already read: line numbers made absolute (`before` lines precede the first
// run), groups in order of first appearance (`global` maps their names).
// Each run's memory goes once it is copied.
std::optional<InputError> join(std::vector<Chunk>& chunks, std::uint64_t before, bool has_time,
                               bool keep_lines, std::vector<Group>& groups,
                               std::unordered_map<std::string, std::size_t>& global) {
  if (chunks.size() == 1 && groups.empty()) {
    groups = std::move(chunks[0].groups);
    for (std::size_t g = 0; g < groups.size(); ++g) {
      global.emplace(groups[g].name, g);
      for (std::uint64_t& l : groups[g].line) l += before;
    }
    if (chunks[0].fault) chunks[0].fault->line += before;
    return std::move(chunks[0].fault);
  }
  std::vector<std::vector<std::size_t>> index(chunks.size());
  std::vector<std::size_t> sizes(groups.size());
  for (std::size_t g = 0; g < groups.size(); ++g) sizes[g] = groups[g].size();
  std::size_t used = chunks.size();
  for (std::size_t c = 0; c < chunks.size(); ++c) {
    for (const Group& g : chunks[c].groups) {
      auto [it, fresh] = global.try_emplace(g.name, groups.size());
      if (fresh) {
        groups.emplace_back().name = g.name;
        sizes.push_back(0);
      }
      index[c].push_back(it->second);
      sizes[it->second] += g.size();
    }
    if (chunks[c].fault) {
      used = c + 1;
      break;
    }
  }
  // Room for the rows to come, growing by at least half so that a record
  // read in many windows is not copied once a window.
  auto grow = [](auto& v, std::size_t n) {
    if (n > v.capacity()) v.reserve(std::max(n, v.capacity() + v.capacity() / 2));
  };
  for (std::size_t g = 0; g < groups.size(); ++g) {
    grow(groups[g].value, sizes[g]);
    if (has_time) grow(groups[g].time, sizes[g]);
    if (keep_lines) grow(groups[g].line, sizes[g]);
  }
  std::optional<InputError> fault;
  std::uint64_t offset = before;
  for (std::size_t c = 0; c < used; ++c) {
    for (std::size_t k = 0; k < chunks[c].groups.size(); ++k) {
      Group& from = chunks[c].groups[k];
      Group& to = groups[index[c][k]];
      to.value.insert(to.value.end(), from.value.begin(), from.value.end());
      to.time.insert(to.time.end(), from.time.begin(), from.time.end());
      for (std::uint64_t l : from.line) to.line.push_back(l + offset);
      from = Group{};
    }
    if (chunks[c].fault) {
      fault = std::move(chunks[c].fault);
      fault->line += offset;
    }
    offset += chunks[c].newlines;
  }
  return fault;
}

// Lines of a run: its line ends, and one more when the last lacks its end.
std::size_t line_count(std::string_view run) {
  return static_cast<std::size_t>(std::count(run.begin(), run.end(), '\n')) +
         (!run.empty() && run.back() != '\n');
}

// Gives every run of a one-series record its share of the columns of g
// after its rows so far, one row a line, so that the threads write the rows
// where they end up. The rows read so far are likely `1 / share` of all.
void make_room(std::span<const std::string_view> runs, unsigned threads, bool has_time,
               double share, std::vector<Chunk>& chunks, Group& g) {
  std::vector<std::size_t> lines(runs.size());
  detail::parallel_for(runs.size(), threads, [&](std::size_t i) { lines[i] = line_count(runs[i]); });
  std::size_t at = g.value.size();
  const std::size_t total = at + std::accumulate(lines.begin(), lines.end(), std::size_t{0});
  if (total > g.value.capacity()) {
    const auto expected = static_cast<std::size_t>(static_cast<double>(total) * share * 1.05);
    const std::size_t room = std::max({total, expected, g.value.capacity() + g.value.capacity() / 2});
    g.value.reserve(room);
    if (has_time) g.time.reserve(room);
  }
  g.value.resize(total);
  if (has_time) g.time.resize(total);
  for (std::size_t i = 0; i < runs.size(); ++i) {
    chunks[i].value = g.value.data() + at;
    chunks[i].time = has_time ? g.time.data() + at : nullptr;
    chunks[i].newlines = lines[i];  // every run but the last ends with its line end
    at += lines[i];
  }
}

// Closes the gaps blank lines left between the runs' rows, which follow the
// `at` rows already read, up to the first fault, whose line number is made
// absolute.
std::optional<InputError> close_gaps(std::vector<Chunk>& chunks, std::uint64_t before,
                                     std::size_t at, Group& g) {
  std::uint64_t offset = before;
  std::optional<InputError> fault;
  for (Chunk& c : chunks) {
    const auto from = static_cast<std::size_t>(c.value - g.value.data());
    if (from != at) {
      std::memmove(g.value.data() + at, c.value, c.rows * sizeof(double));
      if (c.time != nullptr) std::memmove(g.time.data() + at, c.time, c.rows * sizeof(std::int64_t));
    }
    at += c.rows;
    if (c.fault) {
      fault = std::move(c.fault);
      fault->line += offset;
      break;
    }
    offset += c.newlines;
  }
  g.value.resize(at);
  if (!g.time.empty()) g.time.resize(at);
  return fault;
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";  // of UTF-8, passed over

// Whether the text's lines end in carriage returns alone: the first line
// ends in one, and no line feed follows anywhere.
bool cr_line_ends(std::string_view text) {
  const std::size_t end = text.find_first_of("\r\n");
  return end != std::string_view::npos && text[end] == '\r' && end + 1 < text.size() &&
         text.find('\n', end) == std::string_view::npos;
}

// Makes the carriage returns that are not followed by a line feed line
// feeds.
void make_line_feeds(char* text, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    if (text[i] == '\r' && (i + 1 == size || text[i + 1] != '\n')) text[i] = '\n';
  }
}

// The separator of a line's fields when none is given: a comma if there is
// one outside quotes, else a tab, else a run of blanks.
char detect_separator(std::string_view line) {
  bool quoted = false, tab = false;
  for (char c : line) {
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    if (c == ',') return ',';
    tab = tab || c == '\t';
  }
  return tab ? '\t' : ' ';
}

// Whether a field reads as a number or a number the reader refuses (an
// overflow, a hexadecimal or grouped number, a lone sign ...): after signs,
// points and dollar signs, a digit or nothing; or inf, infinity or nan in
// any case. A header name never does.
bool looks_like_number(std::string_view f) {
  std::size_t i = 0;
  while (i < f.size() && (f[i] == '+' || f[i] == '-' || f[i] == '.' || f[i] == '$')) ++i;
  if (i == f.size() || (f[i] >= '0' && f[i] <= '9')) return true;
  std::string word(f.substr(i, 9));
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return word == "inf" || word == "infinity" || word == "nan";
}

// The text of a record in windows of whole lines (the last may lack its
// line end), from a byte offset on.
class LineSource {
 public:
  virtual ~LineSource() = default;
  // Starts again at byte `from` of the text.
  virtual void rewind(std::size_t from) = 0;
  // The next window; false at the end, after a read error (error() then
  // holds the errno), or before a line longer than a window (too_long()).
  virtual bool next(std::string_view& window) = 0;
  // Bytes of the text, and of a window (0: all of it).
  virtual std::size_t size() const = 0;
  virtual std::size_t window() const = 0;
  int error() const { return error_; }
  bool too_long() const { return too_long_; }
  std::size_t longest() const { return longest_; }  // bytes of the longest line read

 protected:
  explicit LineSource(std::size_t longest) : longest_(longest) {}
  int error_ = 0;
  bool too_long_ = false;
  std::size_t longest_;
};

// A text in memory, one window; when `cut`, it ends inside a line too long
// to be read, which is left out.
class MemorySource final : public LineSource {
 public:
  MemorySource(std::string_view text, bool cut, std::size_t longest)
      : LineSource(longest), text_(text), cut_(cut) {}
  void rewind(std::size_t from) override {
    at_ = std::min(from, text_.size());
    too_long_ = false;
  }
  bool next(std::string_view& window) override {
    if (at_ >= text_.size()) {
      too_long_ = cut_;
      return false;
    }
    window = text_.substr(at_);
    at_ = text_.size();
    if (cut_) {
      const std::size_t nl = window.rfind('\n');
      if (nl == std::string_view::npos) return too_long_ = true, false;
      window = window.substr(0, nl + 1);
    }
    return true;
  }
  std::size_t size() const override { return text_.size(); }
  std::size_t window() const override { return 0; }

 private:
  std::string_view text_;
  bool cut_;
  std::size_t at_ = 0;
};

// A regular file from `start` on, copied in with pread a window at a time
// into one buffer.
class FileSource final : public LineSource {
 public:
  FileSource(int fd, off_t start, std::size_t size, std::size_t window, unsigned threads)
      : LineSource(std::max<std::size_t>(window, 1)), fd_(fd), start_(start), size_(size),
        threads_(threads), buffer_(std::min(longest_, size + 1)) {}
  void rewind(std::size_t from) override {
    at_ = from;
    done_ = too_long_ = false;
  }
  bool next(std::string_view& window) override {
    if (done_) return false;
    const std::int64_t got =
        read_at(fd_, buffer_.data(), buffer_.size(), start_ + static_cast<off_t>(at_), threads_);
    if (got < 0) error_ = static_cast<int>(-got);
    if (got <= 0) return false;
    // Line ends of carriage returns alone, as the file's start has them.
    if (at_ == 0) cr_ = cr_line_ends(std::string_view(buffer_.data(), static_cast<std::size_t>(got)));
    if (cr_) make_line_feeds(buffer_.data(), static_cast<std::size_t>(got));
    window = std::string_view(buffer_.data(), static_cast<std::size_t>(got));
    if (static_cast<std::size_t>(got) < buffer_.size()) {
      done_ = true;  // the end of the file
    } else {
      const void* nl = ::memrchr(window.data(), '\n', window.size());
      if (nl == nullptr) return too_long_ = true, false;
      window = window.substr(0, static_cast<std::size_t>(static_cast<const char*>(nl) - window.data()) + 1);
    }
    at_ += window.size();
    return true;
  }
  std::size_t size() const override { return size_; }
  std::size_t window() const override { return buffer_.size(); }

 private:
  int fd_;
  off_t start_;
  std::size_t size_;
  unsigned threads_;
  detail::RawVector<char> buffer_;
  std::size_t at_ = 0;
  bool done_ = false;
  bool cr_ = false;
};

std::optional<InputError> read_source(LineSource& src, const std::string& file,
                                      const CsvOptions& o, DatedRecord& out);

}  // namespace

namespace {

std::optional<InputError> read_source(LineSource& src, const std::string& file,
                                      const CsvOptions& o, DatedRecord& out) {
  out = DatedRecord{};
  out.has_time = !o.time.empty();
  std::vector<std::string_view> fields;
  std::string unquoted;
  std::vector<std::string_view> missing{"", "NA", "NaN", "nan", "null"};
  for (const std::string& t : o.na) missing.push_back(t);
  auto is_missing = [&](std::string_view f) {
    return std::find(missing.begin(), missing.end(), f) != missing.end();
  };

  std::vector<const ColumnRef*> refs{&o.value};
  for (const ColumnRef& t : o.time) refs.push_back(&t);
  if (o.by) refs.push_back(&*o.by);
  const bool by_name = std::any_of(refs.begin(), refs.end(), [](auto* r) { return r->number == 0; });
  if (by_name && o.header == HeaderRule::Absent)
    return error_at(file, 0, 0, "no_header", "a column chosen by name needs a header line");

  auto too_long = [&](std::uint64_t line) {
    return error_at(file, line, 0, "too_long",
                    "line longer than " + std::to_string(src.longest()) + " bytes");
  };
  auto read_error = [&] { return error_at(file, 0, 0, "io", std::strerror(src.error())); };

  // The first line that is not blank decides on the header; `first` and
  // `at` are byte offsets in the text, after a byte-order mark.
  std::size_t base = 0, at = 0, first = 0;
  std::uint64_t line_no = 0;
  std::string_view line, window;
  src.rewind(0);
  while (trim(line).empty() && src.next(window)) {
    if (base == 0 && window.starts_with(kByteOrderMark)) {
      window.remove_prefix(kByteOrderMark.size());
      base = kByteOrderMark.size();
    }
    for (at = 0; at < window.size();) {
      const std::size_t end = std::min(window.find('\n', at), window.size());
      line = window.substr(at, end - at);
      first = base + at;
      at = end + 1;
      ++line_no;
      if (!trim(line).empty()) break;
      line = {};
    }
    at += base;
    base += window.size();
  }
  if (src.error() != 0) return read_error();
  if (trim(line).empty())
    return src.too_long() ? too_long(line_no + 1) : error_at(file, 0, 0, "empty", "no data");
  const char sep = o.detect_sep ? detect_separator(line) : o.sep;
  if (const char* why = split(line, sep, fields, unquoted))
    return error_at(file, line_no, static_cast<int>(fields.size()) + 1, "bad_quotes", why);

  bool header = o.header == HeaderRule::Present || by_name;
  if (o.header == HeaderRule::Detect && !by_name) {
    // A header names its columns: its value field is no number, nor
    // anything that looks like one (an overflow, a hexadecimal number ...),
    // and its time fields are no time.
    auto field = [&](const ColumnRef& r) {
      const auto k = static_cast<std::size_t>(r.number - 1);
      return k < fields.size() ? fields[k] : std::string_view();
    };
    header = !is_missing(field(o.value)) && !looks_like_number(field(o.value));
    std::int64_t t;
    if (o.time.size() == 1 && parse_time(field(o.time[0]), t)) header = false;
    if (o.time.size() == 3 && std::all_of(o.time.begin(), o.time.end(), [&](const ColumnRef& r) {
          return small_int(field(r), t);
        }))
      header = false;
  }
  Columns cols;
  auto resolve = [&](const ColumnRef& r, int& index) -> std::optional<InputError> {
    if (r.number > 0) {
      index = r.number - 1;
      return std::nullopt;
    }
    std::string named;  // the numbers of the columns of that name
    std::size_t count = 0;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i] != r.name) continue;
      if (count++ == 0) index = static_cast<int>(i);
      named += (count == 1 ? "" : ", ") + std::to_string(i + 1);
    }
    if (count == 0)
      return error_at(file, line_no, 0, "no_column",
                      "no column named '" + shown(r.name) + "'" +
                          (fields.size() == 1 ? " (the line is one field: --sep names the separator)" : ""));
    if (count > 1) {
      const std::size_t last = named.rfind(", ");
      return error_at(file, line_no, 0, "ambiguous_column",
                      "the column name '" + shown(r.name) + "' is ambiguous: columns " +
                          named.substr(0, last) + " and " + named.substr(last + 2));
    }
    return std::nullopt;
  };
  if (auto e = resolve(o.value, cols.value)) return e;
  for (const ColumnRef& t : o.time) {
    cols.time.push_back(0);
    if (auto e = resolve(t, cols.time.back())) return e;
  }
  if (o.by) {
    if (auto e = resolve(*o.by, cols.by)) return e;
  }
  cols.needed = std::max({cols.value, cols.by, cols.time.empty() ? 0 : *std::max_element(cols.time.begin(), cols.time.end())}) + 1;
  const int time_column = cols.time.empty() ? 0 : cols.time[0] + 1;

  // Without times, a column whose first value is a time is named: the
  // record is fitted as one sample all the same.
  if (o.time.empty()) {
    // From the window that holds the first line (at its end: none).
    std::string_view row;
    for (std::size_t a = (header ? at : first) - (base - window.size()); a < window.size() && trim(row).empty();) {
      const std::size_t end = std::min(window.find('\n', a), window.size());
      row = window.substr(a, end - a);
      a = end + 1;
    }
    std::vector<std::string_view> values;
    std::string buffer;
    if (split(row, sep, values, buffer)) values.clear();
    for (std::size_t i = 0; i < values.size() && out.date_column.empty(); ++i) {
      std::int64_t t;
      double v;
      if (static_cast<int>(i) == cols.value || static_cast<int>(i) == cols.by ||
          parse_sample(values[i], v) || !parse_time(values[i], t))
        continue;
      out.date_column = header && i < fields.size() ? "'" + shown(fields[i]) + "'"
                                                   : "column " + std::to_string(i + 1);
    }
  }

  // The data, window by window in runs of lines parsed on the threads and
  // joined in file order: the rows and the first fault do not depend on the
  // thread count.
  const std::size_t data = header ? std::min(at, src.size()) : first;
  const std::uint64_t start_line = header ? line_no : line_no - 1;
  const std::size_t parts = o.threads <= 1 ? 1 : 4 * std::size_t{o.threads};
  const std::size_t least = src.window() == 0 ? std::size_t{1} << 20 : std::max<std::size_t>(src.window() / 16, 1);
  std::vector<Group> groups;
  std::optional<InputError> fault;
  auto load = [&](bool keep_lines) {
    const LineParser parser{o, file, cols, missing, sep, out.has_time, keep_lines};
    const bool direct = !o.by && !keep_lines;
    groups.clear();
    if (direct) groups.emplace_back();
    std::unordered_map<std::string, std::size_t> global;
    std::uint64_t before = start_line;
    std::size_t read = 0;  // bytes of data
    src.rewind(data);
    while (!fault && src.next(window)) {
      const std::vector<std::string_view> runs = cut_at_lines(window, parts, least);
      std::vector<Chunk> chunks(runs.size());
      const std::size_t had = direct ? groups[0].size() : 0;
      if (direct) {
        // Room for the rows of all windows, from the rows a byte so far.
        const double share = static_cast<double>(src.size() - data) / static_cast<double>(read + window.size());
        make_room(runs, o.threads, out.has_time, share, chunks, groups[0]);
      }
      detail::parallel_for(runs.size(), o.threads, [&](std::size_t i) { parser.parse(runs[i], chunks[i]); });
      fault = direct ? close_gaps(chunks, before, had, groups[0])
                     : join(chunks, before, out.has_time, keep_lines, groups, global);
      for (const Chunk& c : chunks) before += c.newlines;
      read += window.size();
    }
    if (!fault && src.error() != 0) fault = read_error();
    if (!fault && src.too_long()) fault = too_long(before + 1);
    if (out.has_time) {
      for (Group& g : groups) g.sort_by_time();
    }
  };
  load(false);

  bool dup = false;
  if (out.has_time) {
    // A duplicate time that is a fault is named by its lines: read again,
    // keeping them (rare, and never on a record without one).
    dup = std::any_of(groups.begin(), groups.end(), [](const Group& g) { return g.has_duplicate(); });
    // A duplicate before the first unreadable line is the first fault
    // unless --duplicates allows it.
    if (dup && o.duplicates == DuplicateRule::Error) {
      fault.reset();
      load(true);
      std::optional<InputError> dup = first_duplicate(groups, file, time_column);
      if (!fault || (dup && dup->line < fault->line)) fault = dup;
    }
    if (fault) return fault;
  } else if (fault) {
    return fault;
  }
  if (groups.empty() || std::all_of(groups.begin(), groups.end(), [](const Group& g) { return g.size() == 0; }))
    return error_at(file, 0, 0, "empty", "no data");

  for (Group& g : groups) {
    Series s;
    if (dup) merge_duplicates(g, o.duplicates, s.n_merged);
    s.group = std::move(g.name);
    s.time = std::move(g.time);
    s.value = std::move(g.value);
    g.line = {};
    s.n_missing = static_cast<std::size_t>(
        std::count_if(s.value.begin(), s.value.end(), [](double v) { return std::isnan(v); }));
    out.series.push_back(std::move(s));
  }
  return std::nullopt;
}

// The text with a leading byte-order mark passed over, and with line ends
// of carriage returns alone made line feeds (then copied into `lf`).
std::string_view as_lines(std::string_view text, std::string& lf) {
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  if (!cr_line_ends(text)) return text;
  lf.assign(text);
  make_line_feeds(lf.data(), lf.size());
  return lf;
}

}  // namespace

std::optional<InputError> read_dated(std::string_view text, const std::string& file,
                                     const CsvOptions& o, DatedRecord& out) {
  std::string lf;
  MemorySource src(as_lines(text, lf), false, o.window);
  return read_source(src, file, o, out);
}

std::optional<InputError> read_dated_file(const std::string& file, const CsvOptions& options,
                                          DatedRecord& out) {
  const int fd = file == "-" ? STDIN_FILENO : open_sample(file);
  if (fd < 0) return InputError{file, 0, 0, "io", std::strerror(-fd)};
  // From the descriptor's offset on: the caller may have read standard input
  // in part.
  struct stat st;
  const off_t start = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? ::lseek(fd, 0, SEEK_CUR) : -1;
  std::optional<InputError> e;
  if (start >= 0) {
    const std::size_t size = st.st_size > start ? static_cast<std::size_t>(st.st_size - start) : 0;
    FileSource src(fd, start, size, options.window, options.threads);
    e = read_source(src, file, options, out);
    if (!unchanged(fd, stamp_of(st))) {
      e = changed_while_read();
      e->file = file;
    }
  } else {
    const TextRead r = read_text(fd, options.window);
    if (r.error != 0) {
      e = InputError{file, 0, 0, "io", std::strerror(r.error)};
    } else {
      std::string lf;
      MemorySource src(as_lines(std::string_view(r.text.data(), r.text.size()), lf), r.cut, options.window);
      e = read_source(src, file, options, out);
    }
  }
  if (fd != STDIN_FILENO) ::close(fd);
  if (e) out = DatedRecord{};
  return e;
}

}  // namespace korvalinde
