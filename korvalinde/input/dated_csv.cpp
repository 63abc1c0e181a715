#include "korvalinde/input/dated_csv.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <unordered_map>

#include "korvalinde/detail/civil.hpp"
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

// Splits one line (without its end) at `sep`; blanks around a field and a
// pair of double quotes around it are dropped. A separator inside quotes
// belongs to the field.
void split(std::string_view line, char sep, std::vector<std::string_view>& fields) {
  fields.clear();
  std::size_t i = 0;
  for (;;) {
    std::size_t j = i;
    while (j < line.size() && is_blank(line[j]) && line[j] != sep) ++j;
    if (j < line.size() && line[j] == '"') {
      const std::size_t close = line.find('"', j + 1);
      if (close != std::string_view::npos) {
        std::size_t k = close + 1;
        while (k < line.size() && line[k] != sep) ++k;
        if (trim(line.substr(close + 1, k - close - 1)).empty()) {
          fields.push_back(line.substr(j + 1, close - j - 1));
          if (k >= line.size()) return;
          i = k + 1;
          continue;
        }
      }
    }
    const std::size_t k = std::min(line.find(sep, i), line.size());
    fields.push_back(trim(line.substr(i, k - i)));
    if (k >= line.size()) return;
    i = k + 1;
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

struct Group {
  std::string name;
  std::vector<Row> rows;
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
    for (std::size_t i = 1; i < g.rows.size(); ++i) {
      if (g.rows[i].time != g.rows[i - 1].time) continue;
      const std::uint64_t a = g.rows[i - 1].line, b = g.rows[i].line;
      if (!first || b < first->line) {
        first = error_at(file, b, time_column, "duplicate_time",
                         "time " + format_time(g.rows[i].time) + " on lines " +
                             std::to_string(a) + " and " + std::to_string(b));
      }
    }
  }
  return first;
}

void merge_duplicates(Group& g, DuplicateRule rule, std::size_t& merged) {
  std::size_t out = 0;
  for (std::size_t i = 0; i < g.rows.size();) {
    std::size_t j = i + 1;
    Row keep = g.rows[i];
    for (; j < g.rows.size() && g.rows[j].time == keep.time; ++j) {
      const Row& r = g.rows[j];
      if (rule == DuplicateRule::Last ||
          (rule == DuplicateRule::Max && (std::isnan(keep.value) || r.value > keep.value)))
        keep = r;
    }
    merged += j - i - 1;
    g.rows[out++] = keep;
    i = j;
  }
  g.rows.resize(out);
}

}  // namespace

ColumnRef column_ref(std::string_view text) {
  int n = 0;
  if (!text.empty() && text.size() <= 9 && digits(text, 0, text.size(), n) && n > 0) return {{}, n};
  return {std::string(text), 0};
}

bool parse_time(std::string_view s, std::int64_t& seconds) {
  int y = 0, m = 0, d = 0;
  if (s.size() == 4) return digits(s, 0, 4, y) && civil_seconds(y, 1, 1, seconds);
  if (s.size() < 10 || !digits(s, 0, 4, y) || s[4] != '-' || !digits(s, 5, 2, m) || s[7] != '-' ||
      !digits(s, 8, 2, d) || !civil_seconds(y, m, d, seconds))
    return false;
  std::string_view rest = s.substr(10);
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

std::optional<InputError> read_dated(std::string_view text, const std::string& file,
                                     const CsvOptions& o, DatedRecord& out) {
  out = DatedRecord{};
  out.has_time = !o.time.empty();
  std::vector<std::string_view> fields;
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

  std::size_t at = 0;
  std::uint64_t line_no = 0;
  auto next_line = [&](std::string_view& line) {
    while (at < text.size()) {
      const std::size_t end = std::min(text.find('\n', at), text.size());
      line = text.substr(at, end - at);
      at = end + 1;
      ++line_no;
      if (!trim(line).empty()) return true;
    }
    return false;
  };

  std::string_view line;
  if (!next_line(line)) return error_at(file, 0, 0, "empty", "no data");
  split(line, o.sep, fields);

  bool header = o.header == HeaderRule::Present || by_name;
  if (o.header == HeaderRule::Detect && !by_name) {
    const auto k = static_cast<std::size_t>(o.value.number - 1);
    double v;
    header = k < fields.size() && !is_missing(fields[k]) && !parse_sample(fields[k], v);
  }
  Columns cols;
  auto resolve = [&](const ColumnRef& r, int& index) -> std::optional<InputError> {
    if (r.number > 0) {
      index = r.number - 1;
      return std::nullopt;
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i] == r.name) {
        index = static_cast<int>(i);
        return std::nullopt;
      }
    }
    return error_at(file, line_no, 0, "no_column", "no column named '" + shown(r.name) + "'");
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

  std::vector<Group> groups(o.by ? 0 : 1);
  std::unordered_map<std::string, std::size_t> group_of;
  std::optional<InputError> fault;
  bool have_line = !header;
  while (!fault && (have_line || next_line(line))) {
    if (have_line) have_line = false;
    else split(line, o.sep, fields);
    if (static_cast<int>(fields.size()) < cols.needed) {
      const int k = static_cast<int>(fields.size()) + 1;
      fault = error_at(file, line_no, k, "no_column", "no column " + std::to_string(cols.needed));
      break;
    }
    Row row{0, std::numeric_limits<double>::quiet_NaN(), line_no};
    const std::string_view v = fields[static_cast<std::size_t>(cols.value)];
    if (!is_missing(v) && !parse_sample(v, row.value)) {
      fault = error_at(file, line_no, cols.value + 1, "not_a_number", "'" + shown(v) + "' is not a number");
      break;
    }
    if (cols.time.size() == 1) {
      const std::string_view t = fields[static_cast<std::size_t>(cols.time[0])];
      if (!parse_time(t, row.time)) {
        fault = error_at(file, line_no, cols.time[0] + 1, "bad_time", "'" + shown(t) + "' is not a time");
        break;
      }
    } else if (cols.time.size() == 3) {
      std::int64_t part[3];
      for (std::size_t i = 0; i < 3 && !fault; ++i) {
        const std::string_view t = fields[static_cast<std::size_t>(cols.time[i])];
        if (!small_int(t, part[i]))
          fault = error_at(file, line_no, cols.time[i] + 1, "bad_time", "'" + shown(t) + "' is not a whole number");
      }
      if (!fault && !civil_seconds(part[0], part[1], part[2], row.time))
        fault = error_at(file, line_no, cols.time[0] + 1, "bad_time", "no such date");
      if (fault) break;
    }
    std::size_t g = 0;
    if (o.by) {
      const std::string_view name = fields[static_cast<std::size_t>(cols.by)];
      auto [it, fresh] = group_of.try_emplace(std::string(name), groups.size());
      if (fresh) groups.push_back(Group{it->first, {}});
      g = it->second;
    }
    groups[g].rows.push_back(row);
  }

  if (out.has_time) {
    for (Group& g : groups) {
      std::stable_sort(g.rows.begin(), g.rows.end(),
                       [](const Row& a, const Row& b) { return a.time < b.time; });
    }
    // A duplicate before the first unreadable line is the first fault.
    if (o.duplicates == DuplicateRule::Error || fault) {
      std::optional<InputError> dup = first_duplicate(groups, file, time_column);
      if (!fault || (dup && dup->line < fault->line)) fault = dup;
    }
    if (fault) return fault;
  } else if (fault) {
    return fault;
  }
  if (groups.empty() || std::all_of(groups.begin(), groups.end(), [](const Group& g) { return g.rows.empty(); }))
    return error_at(file, 0, 0, "empty", "no data");

  for (Group& g : groups) {
    Series s;
    if (out.has_time) merge_duplicates(g, o.duplicates, s.n_merged);
    s.group = std::move(g.name);
    s.value.reserve(g.rows.size());
    if (out.has_time) s.time.reserve(g.rows.size());
    for (const Row& r : g.rows) {
      s.value.push_back(r.value);
      if (out.has_time) s.time.push_back(r.time);
      s.n_missing += std::isnan(r.value);
    }
    out.series.push_back(std::move(s));
  }
  return std::nullopt;
}

std::optional<InputError> read_dated_file(const std::string& file, const CsvOptions& options,
                                          DatedRecord& out) {
  const int fd = file == "-" ? STDIN_FILENO : open_sample(file);
  if (fd < 0) return InputError{file, 0, 0, "io", std::strerror(-fd)};
  std::string text;
  char buf[1 << 16];
  int err = 0;
  for (;;) {
    const ssize_t got = ::read(fd, buf, sizeof buf);
    if (got > 0) {
      text.append(buf, static_cast<std::size_t>(got));
    } else if (got == 0) {
      break;
    } else if (errno != EINTR) {
      err = errno;
      break;
    }
  }
  if (fd != STDIN_FILENO) ::close(fd);
  if (err != 0) return InputError{file, 0, 0, "io", std::strerror(err)};
  return read_dated(text, file, options, out);
}

}  // namespace korvalinde
