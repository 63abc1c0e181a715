#include "korvalinde/core/dated.hpp"

#include <algorithm>
#include <cmath>
#include <exception>
#include <new>
#include <span>
#include <string>

#include "korvalinde/detail/civil.hpp"
#include "korvalinde/detail/ordered.hpp"
#include "korvalinde/detail/utf8.hpp"

namespace korvalinde {
namespace {

// The count and extremes of the non-missing values, without a fit (bins
// stays 0).
FitResult summarize_values(std::span<const double> values, std::string_view name) {
  FitResult r;
  r.file = std::string(name);
  double lo = kUndefined, hi = kUndefined;
  for (double v : values) {
    if (std::isnan(v)) continue;
    if (r.n++ == 0) lo = hi = v;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  r.min = lo;
  r.max = hi;
  r.ok = r.n >= 2;
  if (!r.ok) r.error = "too few values: " + std::to_string(r.n) + " (at least 2 are needed)";
  return r;
}

// " (GROUP)" for messages, its bytes escaped where they are not printable
// text; empty without groups.
std::string group_label(bool grouped, const std::string& group) {
  return grouped ? " (" + detail::escape_bytes(group, true) + ")" : std::string();
}

// fit_series, failing the series alone when its fit throws (memory
// exhausted).
SeriesFit fit_alone(const Series& s, bool grouped, const DatedPlan& plan,
                    const FitOptions& options, std::string_view name, FitDetail* detail) {
  try {
    return fit_series(s, grouped, plan, options, name, detail);
  } catch (const std::exception& e) {
    SeriesFit f;
    f.result.file = std::string(name);
    DatedSummary& d = f.result.dated.emplace();
    d.grouped = grouped;
    d.group = s.group;
    d.n_rows = s.value.size();
    d.n_missing = s.n_missing;
    d.n_merged = s.n_merged;
    const bool memory = dynamic_cast<const std::bad_alloc*>(&e) != nullptr;
    f.result.error = std::string(name) + group_label(grouped, s.group) + ": " +
                     (memory ? "not enough memory" : e.what());
    return f;
  }
}

// The series' maxima (the blocks', else its values) with their times and
// covariates; the sample loses the observations without covariates.
std::shared_ptr<const NonstationaryResult> with_covariates(const Series& s, const DatedPlan& plan,
                                                           const std::vector<stats::BlockMax>& maxima,
                                                           double confidence, std::vector<double>& sample,
                                                           DatedSummary& summary) {
  std::vector<std::string> labels;
  std::vector<double> time;
  std::vector<std::int64_t> day;
  if (plan.block) {
    for (const stats::BlockMax& m : maxima) {
      labels.push_back(m.block);
      time.push_back(block_year(m.block));
      day.push_back(detail::day_of(m.time));
    }
  } else {
    for (std::size_t i = 0; i < s.value.size(); ++i) {
      if (std::isnan(s.value[i])) continue;
      labels.push_back(format_time(s.time[i]));
      time.push_back(decimal_year(s.time[i]));
      day.push_back(detail::day_of(s.time[i]));
    }
  }
  const std::size_t before = summary.blocks_dropped.size();
  auto ns = analyze_covariates(*plan.covariates, sample, labels, time, day, {}, summary.blocks_dropped,
                               confidence);
  if (plan.block) summary.n_blocks -= summary.blocks_dropped.size() - before;
  return ns;
}

// The excesses of the peaks fit's cluster maxima over u, each with the time
// of its row (the first at the maximum), fitted on the covariates with the
// cluster rate held constant. Rows without times take the plan's columns:
// their drops are not listed (no label names them), only counted by the
// observations fitted falling short of the clusters.
std::shared_ptr<const NonstationaryResult> peaks_with_covariates(const Series& s, const DatedPlan& plan,
                                                                 const PotResult& pot,
                                                                 const stats::Clusters& clusters,
                                                                 double confidence, DatedSummary& summary) {
  const CovariatePlan& covariates = *plan.covariates;
  const bool timed = !s.time.empty();
  // Without times the time covariate's column, if named, is the time.
  const auto named = std::find(covariates.names.begin(), covariates.names.end(), kTimeCovariate);
  const std::vector<double>* time_column =
      timed || named == covariates.names.end()
          ? nullptr
          : &(*covariates.columns)[static_cast<std::size_t>(named - covariates.names.begin())];
  std::vector<double> x;
  std::vector<std::string> labels;
  std::vector<double> time;
  std::vector<std::int64_t> day;
  for (std::size_t j = 0; j < clusters.maxima.size(); ++j) {
    const std::size_t row = clusters.at[j];
    x.push_back(clusters.maxima[j] - pot.threshold);
    if (timed) {
      labels.push_back(format_time(s.time[row]));
      time.push_back(decimal_year(s.time[row]));
      day.push_back(detail::day_of(s.time[row]));
    } else {
      labels.push_back(std::to_string(j));
      time.push_back(time_column ? (*time_column)[row] : static_cast<double>(row));
    }
  }
  CovariatePlan p = covariates;
  p.request.threshold = pot.threshold;
  p.request.rate = pot.rate_per_year;
  std::vector<BlockCount> unlisted;
  return analyze_covariates(p, x, labels, time, day, clusters.at, timed ? summary.blocks_dropped : unlisted,
                            confidence);
}

}  // namespace

SeriesFit fit_series(const Series& s, bool grouped, const DatedPlan& plan,
                     const FitOptions& options, std::string_view name, FitDetail* detail) {
  SeriesFit out;
  DatedSummary summary;
  summary.grouped = grouped;
  summary.group = s.group;
  summary.n_rows = s.value.size();
  summary.n_missing = s.n_missing;
  summary.n_merged = s.n_merged;
  std::vector<double> sample;
  std::int64_t step = 0;
  if (plan.block && !s.time.empty()) {
    stats::BlockMaxima bm = stats::block_maxima(s.time, s.value, *plan.block);
    step = bm.step;
    summary.blocks = plan.block_name;
    summary.n_blocks = bm.maxima.size();
    summary.blocks_dropped = std::move(bm.dropped);
    for (const stats::BlockMax& m : bm.maxima) sample.push_back(m.value);
    out.maxima = std::move(bm.maxima);
  } else {
    if (!s.time.empty()) step = stats::sampling_step(s.time);
  }
  if (plan.pot && !plan.block) {
    // The peaks are the fit: the methods' distribution is not fitted to
    // every raw value, which says nothing about the extremes.
    out.result = summarize_values(s.value, name);
  } else {
    if (!plan.block) {
      sample.reserve(s.value.size() - s.n_missing);
      for (double v : s.value) {
        if (!std::isnan(v)) sample.push_back(v);
      }
    }
    std::shared_ptr<const NonstationaryResult> ns;
    if (plan.covariates && !s.time.empty()) {
      ns = with_covariates(s, plan, out.maxima, options.confidence, sample, summary);
    }
    out.result = fit_sample_sorting(sample, options, name, detail);
    out.result.nonstationary = std::move(ns);
  }
  out.result.dated = std::move(summary);
  const std::string where = std::string(name) + group_label(grouped, s.group) + ": ";
  if (!out.result.ok) {
    out.result.error = where + out.result.error;
    const auto& dropped = out.result.dated->blocks_dropped;
    const auto thin = std::count_if(dropped.begin(), dropped.end(),
                                    [](const BlockCount& b) { return b.reason.empty(); });
    if (thin > 0) {
      out.result.error += " (" + std::to_string(thin) +
                          " blocks dropped for too few observations)";
    }
    return out;
  }
  if (plan.pot) {
    PotResult pot;
    std::string why;
    stats::PotOptions po = *plan.pot;
    po.threads = options.threads;
    const bool on_covariates = plan.covariates && !plan.block && (!s.time.empty() || plan.covariates->columns);
    stats::Clusters clusters;
    if (!stats::analyze_pot(s.time, s.value, step, po, pot, why, on_covariates ? &clusters : nullptr)) {
      out.result.ok = false;
      out.result.error = where + why;
    } else if (on_covariates) {
      out.result.nonstationary =
          peaks_with_covariates(s, plan, pot, clusters, options.confidence, *out.result.dated);
    }
    out.result.pot = std::move(pot);
  }
  return out;
}

void fit_dated_file(const std::string& name, const DatedPlan& plan, const FitOptions& options,
                    bool keep_detail, const std::function<bool(SeriesFit&&)>& take) {
  DatedRecord record;
  if (std::optional<InputError> e = read_dated_file(name, plan.csv, record)) {
    if (e->code == "duplicate_time") e->message += " (--duplicates max, first, last, sum or keep)";
    SeriesFit f;
    f.result.file = name;
    f.result.error = e->text();
    f.result.input_error = std::move(*e);
    take(std::move(f));
    return;
  }
  const bool grouped = plan.csv.by.has_value();
  std::vector<Series>& series = record.series;
  // Many series share the threads out, one each.
  FitOptions one = options;
  if (series.size() > 1) one.threads = 1;
  auto make = [&](std::size_t i) {
    FitDetail detail;
    SeriesFit f = fit_alone(series[i], grouped, plan, one, name, keep_detail ? &detail : nullptr);
    f.detail = std::move(detail);
    if (f.result.dated) f.result.dated->date_column = record.date_column;
    series[i] = Series{};  // its memory goes once fitted
    return f;
  };
  const unsigned threads = series.size() > 1 ? options.threads : 1;
  detail::ordered_for(series.size(), threads, 16 * std::size_t{threads}, make,
                      [&](std::size_t, SeriesFit&& f) { return take(std::move(f)); });
}

}  // namespace korvalinde
