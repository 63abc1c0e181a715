#include "korvalinde/stats/blocks.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "korvalinde/detail/civil.hpp"

namespace korvalinde::stats {
namespace {

using detail::civil_from_days;
using detail::days_from_civil;

// Blocks are numbered by their first month: index = 12 * year + (month - 1).
struct Calendar {
  const BlockRule& rule;

  std::int64_t months() const { return rule.kind == BlockKind::Month ? 1 : 12; }
  int first_month() const { return rule.kind == BlockKind::WaterYear ? rule.start_month : 1; }

  // The block holding a time: the month index of its first month.
  std::int64_t block_of(std::int64_t seconds) const {
    const detail::CivilDate c = civil_from_days(detail::day_of(seconds));
    const std::int64_t month = 12 * c.year + (c.month - 1);
    if (rule.kind == BlockKind::Month) return month;
    const std::int64_t start = 12 * c.year + (first_month() - 1);
    return month >= start ? start : start - 12;
  }

  std::int64_t start_seconds(std::int64_t index) const {
    const std::int64_t y = index >= 0 ? index / 12 : -((-index + 11) / 12);
    const int m = static_cast<int>(index - 12 * y) + 1;
    return days_from_civil(y, m, 1) * detail::kSecondsPerDay;
  }

  std::string label(std::int64_t index) const {
    const std::int64_t y = index >= 0 ? index / 12 : -((-index + 11) / 12);
    const int m = static_cast<int>(index - 12 * y) + 1;
    char buf[32];
    if (rule.kind == BlockKind::Month)
      std::snprintf(buf, sizeof buf, "%04lld-%02d", static_cast<long long>(y), m);
    else  // a year that starts after January is named by the year it ends in
      std::snprintf(buf, sizeof buf, "%04lld", static_cast<long long>(m == 1 ? y : y + 1));
    return buf;
  }
};

}  // namespace

std::int64_t sampling_step(std::span<const std::int64_t> time) {
  if (time.size() < 2) return 0;
  // A record has few distinct steps: count them, without a copy of the
  // differences, unless there are many.
  // Runs of one step are counted at once.
  std::map<std::int64_t, std::size_t> counts;
  std::size_t positive = 0;
  for (std::size_t i = 1; i < time.size() && counts.size() <= 4096;) {
    const std::int64_t step = time[i] - time[i - 1];
    std::size_t j = i + 1;
    while (j < time.size() && time[j] - time[j - 1] == step) ++j;
    if (step > 0) {
      counts[step] += j - i;
      positive += j - i;
    }
    i = j;
  }
  if (counts.size() <= 4096) {
    if (positive == 0) return 0;
    std::size_t below = 0;
    const std::size_t rank = (positive - 1) / 2;  // of the lower median, 0-based
    for (const auto& [step, n] : counts) {
      below += n;
      if (below > rank) return step;
    }
  }
  std::vector<std::int64_t> diff;
  diff.reserve(time.size() - 1);
  for (std::size_t i = 1; i < time.size(); ++i) {
    if (time[i] > time[i - 1]) diff.push_back(time[i] - time[i - 1]);
  }
  const auto mid = diff.begin() + static_cast<std::ptrdiff_t>((diff.size() - 1) / 2);
  std::nth_element(diff.begin(), mid, diff.end());
  return *mid;
}

bool parse_block(std::string_view text, BlockRule& rule) {
  if (text == "year") {
    rule.kind = BlockKind::Year;
  } else if (text == "month") {
    rule.kind = BlockKind::Month;
  } else if (text.starts_with("water-year")) {
    rule.kind = BlockKind::WaterYear;
    rule.start_month = 10;
    std::string_view rest = text.substr(10);
    if (rest.empty()) return true;
    if (rest[0] != ':' || rest.size() < 2 || rest.size() > 3) return false;
    int m = 0;
    for (char c : rest.substr(1)) {
      if (c < '0' || c > '9') return false;
      m = m * 10 + (c - '0');
    }
    if (m < 1 || m > 12) return false;
    rule.start_month = m;
  } else {
    return false;
  }
  return true;
}

BlockMaxima block_maxima(std::span<const std::int64_t> time, std::span<const double> value,
                         const BlockRule& rule) {
  BlockMaxima out;
  out.step = sampling_step(time);
  if (time.empty()) return out;
  const Calendar cal{rule};
  const std::int64_t last = cal.block_of(time.back());
  std::size_t i = 0;
  for (std::int64_t b = cal.block_of(time.front()); b <= last; b += cal.months()) {
    const std::int64_t end = cal.start_seconds(b + cal.months());
    std::size_t present = 0;
    std::size_t at_max = 0;
    for (; i < time.size() && time[i] < end; ++i) {
      if (std::isnan(value[i])) continue;
      if (present == 0 || value[i] > value[at_max]) at_max = i;
      ++present;
    }
    // With one time only the step is unknown: the block is expected to hold it.
    const double length = static_cast<double>(end - cal.start_seconds(b));
    const double expected =
        out.step > 0 ? std::max(1.0, std::round(length / static_cast<double>(out.step))) : 1.0;
    if (present > 0 && static_cast<double>(present) >= rule.min_coverage * expected) {
      out.maxima.push_back({cal.label(b), time[at_max], value[at_max]});
    } else {
      out.dropped.push_back({cal.label(b), present, static_cast<std::size_t>(expected), {}});
    }
  }
  return out;
}

}  // namespace korvalinde::stats
