#include "korvalinde/core/covariates.hpp"

#include <algorithm>
#include <cmath>
#include <charconv>

#include "korvalinde/detail/civil.hpp"

namespace korvalinde {

double decimal_year(std::int64_t seconds) {
  const std::int64_t day = detail::day_of(seconds);
  const detail::CivilDate d = detail::civil_from_days(day);
  const std::int64_t first = detail::days_from_civil(d.year, 1, 1);
  const double days = detail::is_leap(d.year) ? 366 : 365;
  return static_cast<double>(d.year) + static_cast<double>(day - first) / days;
}

double block_year(const std::string& block) {
  long long year = 0;
  const char* end = block.data() + block.size();
  const char* at = block.data();
  if (at != end && *at == '-') ++at;  // a negative year is written with its sign
  auto [p, ec] = std::from_chars(at, end, year);
  if (ec != std::errc{} || p == at) return kUndefined;
  if (at != block.data()) year = -year;
  double y = static_cast<double>(year);
  int month = 0;
  if (p != end && *p == '-' && std::from_chars(p + 1, end, month).ec == std::errc{})
    y += (month - 1) / 12.0;
  return y;
}

std::shared_ptr<const NonstationaryResult> analyze_covariates(
    const CovariatePlan& plan, std::vector<double>& x, std::vector<std::string>& labels,
    std::vector<double>& time, std::span<const std::int64_t> day, std::vector<BlockCount>& dropped,
    double confidence) {
  auto out = std::make_shared<NonstationaryResult>();
  NonstationaryResult& r = *out;
  r.vary = plan.vary;
  r.names = plan.names;
  r.c.assign(plan.names.size(), {});
  // Where each covariate comes from: the time, or the table's column.
  std::vector<int> column(plan.names.size(), -1);
  for (std::size_t j = 0; j < plan.names.size(); ++j) {
    if (plan.names[j] == kTimeCovariate) continue;
    const auto& names = plan.table->names;
    column[j] = static_cast<int>(std::find(names.begin(), names.end(), plan.names[j]) - names.begin());
  }
  std::size_t kept = 0;
  std::vector<double> row(plan.names.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    std::string why;
    const std::vector<double>* values = nullptr;
    if (plan.table && std::any_of(column.begin(), column.end(), [](int c) { return c >= 0; })) {
      const std::int64_t key = plan.table->by_day ? day[i] : static_cast<std::int64_t>(std::floor(time[i]));
      const auto it = plan.table->rows.find(key);
      if (it == plan.table->rows.end()) why = "no covariate row in " + plan.table->file;
      else values = &it->second;
    }
    for (std::size_t j = 0; j < row.size() && why.empty(); ++j) {
      row[j] = column[j] < 0 ? time[i] : (*values)[static_cast<std::size_t>(column[j])];
      if (!std::isfinite(row[j])) why = "covariate " + plan.names[j] + " missing";
    }
    if (!why.empty()) {
      dropped.push_back(BlockCount{labels[i], 1, 1, why});
      continue;
    }
    for (std::size_t j = 0; j < row.size(); ++j) r.c[j].push_back(row[j]);
    x[kept] = x[i];
    if (kept != i) labels[kept] = std::move(labels[i]);
    time[kept] = time[i];
    ++kept;
  }
  x.resize(kept);
  labels.resize(kept);
  time.resize(kept);
  r.x = x;
  r.labels = labels;
  r.time = time;
  r.mann_kendall = stats::mann_kendall(time, x);
  r.sen = stats::sen_slope(time, x, 0.95);
  if (plan.names.empty()) return out;
  r.fitted = true;
  for (const std::vector<double>& c : r.c) {
    r.lower.push_back(c.empty() ? kUndefined : *std::min_element(c.begin(), c.end()));
    r.upper.push_back(c.empty() ? kUndefined : *std::max_element(c.begin(), c.end()));
  }
  stats::NsData data{x, {}, plan.names};
  for (const std::vector<double>& c : r.c) data.c.emplace_back(c);
  stats::NsRequest request = plan.request;
  request.confidence = confidence;
  r.periods = request.periods;
  r.analysis = stats::analyze_nonstationary(data, plan.model, request);
  if (!r.analysis.fit.ok) {
    r.error = r.analysis.fit.error;
    return out;
  }
  if (plan.effective_levels)
    r.levels = stats::ns_levels_per_observation(r.analysis.fit, r.periods, confidence);
  return out;
}

}  // namespace korvalinde
