#include "korvalinde/core/dated.hpp"

#include <cmath>

namespace korvalinde {

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
    sample.reserve(s.value.size() - s.n_missing);
    for (double v : s.value) {
      if (!std::isnan(v)) sample.push_back(v);
    }
  }
  out.result = fit_sample_sorting(sample, options, name, detail);
  out.result.dated = std::move(summary);
  const std::string where = std::string(name) + (grouped ? " (" + s.group + ")" : "") + ": ";
  if (!out.result.ok) {
    out.result.error = where + out.result.error;
    return out;
  }
  if (plan.pot) {
    PotResult pot;
    std::string why;
    if (!stats::analyze_pot(s.time, s.value, step, *plan.pot, pot, why)) {
      out.result.ok = false;
      out.result.error = where + why;
    }
    out.result.pot = std::move(pot);
  }
  return out;
}

std::vector<SeriesFit> fit_dated_file(const std::string& name, const DatedPlan& plan,
                                      const FitOptions& options, FitDetail* detail) {
  DatedRecord record;
  std::vector<SeriesFit> fits;
  if (std::optional<InputError> e = read_dated_file(name, plan.csv, record)) {
    SeriesFit f;
    f.result.file = name;
    f.result.error = e->text();
    f.result.input_error = std::move(*e);
    fits.push_back(std::move(f));
    return fits;
  }
  const bool grouped = plan.csv.by.has_value();
  for (std::size_t i = 0; i < record.series.size(); ++i) {
    fits.push_back(fit_series(record.series[i], grouped, plan, options, name, i == 0 ? detail : nullptr));
  }
  return fits;
}

}  // namespace korvalinde
