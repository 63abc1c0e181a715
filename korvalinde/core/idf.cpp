#include "korvalinde/core/idf.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "korvalinde/dist/normal.hpp"
#include "korvalinde/stats/idf.hpp"

namespace korvalinde {
namespace {

std::string line_col(std::size_t line, std::size_t col, const std::string& why) {
  return std::to_string(line) + ":" + std::to_string(col) + ": " + why;
}

// The return levels of the model the table comes from: the GEV's maximum
// likelihood fit when the GEV is fitted, else the Gumbel's; L-moments where
// maximum likelihood is not asked for.
const std::vector<ReturnLevel>* chosen_levels(const FitResult& r, const FitOptions& o,
                                              std::string& model) {
  if (o.gev) {
    const GevMethodResult& g = o.mle ? r.gev.mle : r.gev.lmom;
    model = o.mle ? "gev.mle" : "gev.lmom";
    return g.present && g.error.empty() ? &g.return_levels : nullptr;
  }
  const MethodResult& m = o.mle ? r.mle : r.lmom;
  model = o.mle ? "gumbel.mle" : "gumbel.lmom";
  return m.present && m.error.empty() ? &m.return_levels : nullptr;
}

IdfScaling to_record(const stats::ScalingFit& f) {
  IdfScaling r;
  r.ok = f.ok;
  r.error = f.error;
  if (!f.ok) return r;
  r.delta_at_zero = f.delta_at_zero;
  r.mu0 = f.param[0], r.sigma0 = f.param[1], r.shape = f.param[2], r.alpha = f.param[3];
  r.delta = f.param[4];
  r.loglik = f.loglik;
  r.se = f.se;
  r.se_robust = f.se_robust;
  r.cov = f.cov;
  r.cov_robust = f.cov_robust;
  r.iterations = f.iterations;
  return r;
}

// Fits every duration's intensities, then the table and the formulas.
void finish(IdfResult& out, const IdfOptions& o) {
  for (IdfDuration& d : out.durations) {
    std::vector<double> sample;
    sample.reserve(d.intensities.size());
    for (const double v : d.intensities) {
      if (!std::isnan(v)) sample.push_back(v);
    }
    d.fit = fit_sample_sorting(sample, o.fit, out.file);
    if (!d.fit.ok) {
      out.error = out.file + (out.grouped ? " (" + out.group + ")" : "") + ": duration " +
                  stats::duration_label(d.seconds) + ": " + d.fit.error;
      return;
    }
  }
  // The scaling models over every duration's maxima, the years as clusters.
  stats::ScalingData data;
  data.reference_hours = o.reference_hours;
  out.reference_hours = o.reference_hours;
  std::vector<std::string> years;
  for (const IdfDuration& d : out.durations) {
    for (std::size_t y = 0; y < d.intensities.size(); ++y) {
      auto at = std::find(years.begin(), years.end(), d.blocks[y]);
      if (at == years.end()) at = years.insert(years.end(), d.blocks[y]);
      data.hours.push_back(d.hours);
      data.x.push_back(d.intensities[y]);
      data.cluster.push_back(static_cast<std::size_t>(at - years.begin()));
    }
  }
  stats::ScalingFit simple_fit;
  const stats::ScalingFit general_fit = stats::fit_scaling(data, true, &simple_fit);
  out.general = to_record(general_fit);
  out.simple = to_record(simple_fit);
  if (general_fit.ok && simple_fit.ok) {
    const stats::ScalingTest t = stats::scaling_test(general_fit, simple_fit);
    out.lr_test = {t.statistic, t.p, t.p_mixture, t.df};
  }
  const bool scaled = out.general.ok && out.simple.ok;
  const bool general = scaled && out.lr_test.p_mixture < 0.05;
  if (scaled) {
    out.model = general ? "general scaling" : "simple scaling";
    const stats::ScalingFit& f = general ? general_fit : simple_fit;
    const double z = dist::normal_two_sided(o.fit.confidence);
    for (const IdfDuration& d : out.durations)
      for (const double t : o.fit.periods) {
        Estimate e = stats::scaling_intensity(f, o.reference_hours, d.hours, t, z);
        if (o.fit.profiles) e.profile = stats::scaling_intensity_profile(f, data, d.hours, t, o.fit.confidence);
        out.intensities.push_back({d.hours, t, e});
      }
  } else {
    for (const IdfDuration& d : out.durations) {
      const std::vector<ReturnLevel>* levels = chosen_levels(d.fit, o.fit, out.model);
      if (levels == nullptr) {
        out.error = out.file + ": duration " + stats::duration_label(d.seconds) + ": no " +
                    out.model + " fit";
        return;
      }
      for (const ReturnLevel& l : *levels) out.intensities.push_back({d.hours, l.period, l.level});
    }
  }
  const std::size_t np = o.fit.periods.size(), nd = out.durations.size();
  for (std::size_t p = 0; p < np; ++p) {
    std::vector<double> h(nd), v(nd);
    for (std::size_t k = 0; k < nd; ++k) {
      h[k] = out.intensities[k * np + p].hours;
      v[k] = out.intensities[k * np + p].value.value;
    }
    const stats::IdfFormula f = stats::fit_idf_formula(h, v);
    IdfFormulaRow row;
    row.period = o.fit.periods[p];
    row.ok = f.ok;
    if (f.ok) row.a = f.a, row.b = f.b, row.c = f.c, row.rms_log = f.rms_log;
    out.formula.push_back(row);
  }
  out.ok = true;
}

}  // namespace

std::vector<std::int64_t> default_durations() {
  return {300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200, 86400, 172800, 259200};
}

IdfResult idf_series(const Series& s, bool grouped, const IdfOptions& o, std::string_view file) {
  IdfResult out;
  out.file = std::string(file);
  out.group = s.group;
  out.grouped = grouped;
  out.n_rows = s.value.size();
  out.n_missing = s.n_missing;
  out.fixed_interval_factor = o.fixed_interval_factor;
  const std::string where = out.file + (grouped ? " (" + s.group + ")" : "") + ": ";
  if (s.time.empty()) {
    out.error = where + "no times";
    return out;
  }
  out.step = o.step > 0 ? o.step : stats::sampling_step(s.time);
  if (!o.durations.empty() && s.time.back() - s.time.front() + out.step < o.durations.back()) {
    out.error = where + "the record is shorter than the longest duration, " +
                stats::duration_label(o.durations.back());
    return out;
  }
  std::vector<stats::DurationMaxima> maxima;
  if (std::string why = stats::window_maxima(s.time, s.value, out.step, o.durations, o.block, maxima,
                                            o.fit.threads);
      !why.empty()) {
    out.error = where + why;
    return out;
  }
  for (stats::DurationMaxima& m : maxima) {
    IdfDuration d;
    d.seconds = m.duration;
    d.hours = static_cast<double>(m.duration) / 3600;
    d.n_windows = m.n_windows;
    for (const stats::BlockMax& b : m.maxima) {
      d.blocks.push_back(b.block);
      d.times.push_back(b.time);
      d.depths.push_back(b.value);
      d.intensities.push_back(b.value * o.fixed_interval_factor / d.hours);
    }
    d.blocks_dropped = std::move(m.dropped);
    out.durations.push_back(std::move(d));
  }
  finish(out, o);
  if (!out.ok && out.error.empty()) out.error = where + "no result";
  return out;
}

std::string parse_maxima_table(std::string_view text, char sep, MaximaTable& out) {
  out = MaximaTable{};
  if (sep == 0) sep = ',';
  std::size_t line = 0, at = 0;
  const auto next_line = [&](std::string_view& l) {
    if (at >= text.size()) return false;
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    l = text.substr(at, end - at);
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    at = end + 1;
    ++line;
    return true;
  };
  const auto fields = [sep](std::string_view l) {
    std::vector<std::string_view> f;
    for (std::size_t p = 0; p <= l.size();) {
      std::size_t e = std::min(l.find(sep, p), l.size());
      std::string_view v = l.substr(p, e - p);
      while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
      while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
      f.push_back(v);
      p = e + 1;
    }
    return f;
  };
  std::string_view l;
  if (text.starts_with("\xEF\xBB\xBF")) at = 3;
  if (!next_line(l)) return "no header line";
  const std::vector<std::string_view> header = fields(l);
  if (header.size() < 2) return "1: a year column and one column per duration expected";
  for (std::size_t c = 1; c < header.size(); ++c) {
    std::int64_t s = 0;
    if (!stats::parse_duration(header[c], s))
      return line_col(1, c + 1, "'" + std::string(header[c]) + "' is not a duration (5min, 1h, 24h)");
    if (std::find(out.durations.begin(), out.durations.end(), s) != out.durations.end())
      return line_col(1, c + 1, "duration " + std::string(header[c]) + " given twice");
    out.durations.push_back(s);
  }
  out.intensities.resize(out.durations.size());
  while (next_line(l)) {
    if (l.find_first_not_of(" \t") == std::string_view::npos) continue;
    const std::vector<std::string_view> f = fields(l);
    if (f.size() != header.size())
      return line_col(line, 1, std::to_string(f.size()) + " fields where the header has " +
                                   std::to_string(header.size()));
    if (f[0].empty()) return line_col(line, 1, "no year");
    out.years.emplace_back(f[0]);
    for (std::size_t c = 1; c < f.size(); ++c) {
      double v = std::numeric_limits<double>::quiet_NaN();
      const std::string_view t = f[c];
      if (!(t.empty() || t == "NA" || t == "NaN" || t == "nan")) {
        const auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
        if (ec != std::errc() || p != t.data() + t.size() || !std::isfinite(v))
          return line_col(line, c + 1, "'" + std::string(t) + "' is not a number");
        if (v < 0) return line_col(line, c + 1, "negative intensity " + std::string(t));
      }
      out.intensities[c - 1].push_back(v);
    }
  }
  if (out.years.empty()) return "no rows below the header";
  return "";
}

IdfResult idf_table(const MaximaTable& t, const IdfOptions& o, std::string_view file) {
  IdfResult out;
  out.file = std::string(file);
  out.n_rows = t.years.size();
  out.fixed_interval_factor = o.fixed_interval_factor;
  std::vector<std::size_t> order(t.durations.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::sort(order.begin(), order.end(), [&](auto a, auto b) { return t.durations[a] < t.durations[b]; });
  for (const std::size_t k : order) {
    IdfDuration d;
    d.seconds = t.durations[k];
    d.hours = static_cast<double>(d.seconds) / 3600;
    for (std::size_t y = 0; y < t.years.size(); ++y) {
      const double v = t.intensities[k][y];
      if (std::isnan(v)) {
        d.blocks_dropped.push_back({t.years[y], 0, 1, {}});
        continue;
      }
      d.blocks.push_back(t.years[y]);
      d.depths.push_back(std::numeric_limits<double>::quiet_NaN());
      d.intensities.push_back(v * o.fixed_interval_factor);
    }
    out.durations.push_back(std::move(d));
  }
  finish(out, o);
  if (!out.ok && out.error.empty()) out.error = out.file + ": no result";
  return out;
}

}  // namespace korvalinde
