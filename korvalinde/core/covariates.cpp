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

std::shared_ptr<const NonstationaryResult> fit_on_covariates(const CovariatePlan& plan, std::vector<double> x,
                                                             std::vector<std::vector<double>> c,
                                                             std::vector<double> time,
                                                             std::vector<std::string> labels, double confidence) {
  auto out = std::make_shared<NonstationaryResult>();
  NonstationaryResult& r = *out;
  r.vary = plan.vary;
  r.names = plan.names;
  r.x = std::move(x);
  r.c = std::move(c);
  r.time = std::move(time);
  r.labels = std::move(labels);
  if (plan.trend) {
    r.mann_kendall = stats::mann_kendall(r.time, r.x);
    r.sen = stats::sen_slope(r.time, r.x, 0.95);
  }
  if (plan.names.empty()) return out;
  r.fitted = true;
  for (const std::vector<double>& v : r.c) {
    r.lower.push_back(v.empty() ? kUndefined : *std::min_element(v.begin(), v.end()));
    r.upper.push_back(v.empty() ? kUndefined : *std::max_element(v.begin(), v.end()));
  }
  stats::NsData data{r.x, {}, plan.names};
  for (const std::vector<double>& v : r.c) data.c.emplace_back(v);
  stats::NsRequest request = plan.request;
  request.confidence = confidence;
  r.periods = request.periods;
  r.threshold = request.threshold;
  r.rate = request.rate;
  r.analysis = stats::analyze_nonstationary(data, plan.model, request);
  if (!r.analysis.fit.ok) {
    r.error = r.analysis.fit.error;
    return out;
  }
  if (plan.effective_levels)
    r.levels = stats::ns_levels_per_observation(r.analysis.fit, r.periods, confidence, request.threshold,
                                                request.rate);
  return out;
}

std::shared_ptr<const NonstationaryResult> analyze_covariates(
    const CovariatePlan& plan, std::vector<double>& x, std::vector<std::string>& labels,
    std::vector<double>& time, std::span<const std::int64_t> day, std::span<const std::size_t> row_of,
    std::vector<BlockCount>& dropped, double confidence) {
  std::vector<std::vector<double>> c(plan.names.size());
  // Where each covariate comes from: the time, or the table's column (the
  // plan's column of the same index).
  std::vector<int> column(plan.names.size(), -1);
  for (std::size_t j = 0; j < plan.names.size(); ++j) {
    if (plan.names[j] == kTimeCovariate) continue;
    if (plan.columns) {
      column[j] = static_cast<int>(j);
      continue;
    }
    const auto& names = plan.table->names;
    column[j] = static_cast<int>(std::find(names.begin(), names.end(), plan.names[j]) - names.begin());
  }
  const bool joined = !plan.columns && std::any_of(column.begin(), column.end(), [](int k) { return k >= 0; });
  std::size_t kept = 0;
  std::vector<double> row(plan.names.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    // An infinite value (an excess may overflow) is not fitted either.
    std::string why = std::isfinite(x[i]) ? "" : "value not finite";
    const std::vector<double>* values = nullptr;
    if (joined && why.empty()) {
      const std::int64_t key = plan.table->by_day ? day[i] : static_cast<std::int64_t>(std::floor(time[i]));
      const auto it = plan.table->rows.find(key);
      if (it == plan.table->rows.end()) why = "no covariate row in " + plan.table->file;
      else values = &it->second;
    }
    for (std::size_t j = 0; j < row.size() && why.empty(); ++j) {
      const auto k = static_cast<std::size_t>(column[j]);
      row[j] = column[j] < 0 ? time[i] : plan.columns ? (*plan.columns)[k][row_of[i]] : (*values)[k];
      if (!std::isfinite(row[j])) why = "covariate " + plan.names[j] + " missing";
    }
    if (!why.empty()) {
      dropped.push_back(BlockCount{labels[i], 1, 1, why});
      continue;
    }
    for (std::size_t j = 0; j < row.size(); ++j) c[j].push_back(row[j]);
    x[kept] = x[i];
    if (kept != i) labels[kept] = std::move(labels[i]);
    time[kept] = time[i];
    ++kept;
  }
  x.resize(kept);
  labels.resize(kept);
  time.resize(kept);
  return fit_on_covariates(plan, x, std::move(c), time, labels, confidence);
}

}  // namespace korvalinde
