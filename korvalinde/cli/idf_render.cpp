#include "korvalinde/cli/idf_render.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "korvalinde/cli/idf_svg.hpp"
#include "korvalinde/cli/json.hpp"
#include "korvalinde/cli/text.hpp"
#include "korvalinde/input/dated_csv.hpp"
#include "korvalinde/stats/idf.hpp"

namespace korvalinde::cli {
namespace {

using Json = nlohmann::ordered_json;

Json number(double v) { return std::isfinite(v) ? Json(v) : Json(nullptr); }

std::string shortest(double v) {
  if (!std::isfinite(v)) return "";
  char buf[32];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// The options as the analysis takes them, or a usage error.
Json estimate_json(double hours, double period, const Estimate& e) {
  Json j{{"duration_h", number(hours)}, {"period", number(period)}, {"value", number(e.value)},
         {"lower", number(e.lower)}, {"upper", number(e.upper)}};
  j["profile_lower"] = e.profile ? number(e.profile->lower.value) : Json(nullptr);
  j["profile_upper"] = e.profile ? number(e.profile->upper.value) : Json(nullptr);
  if (e.profile && !e.profile->lower.reason.empty()) j["profile_lower_reason"] = e.profile->lower.reason;
  if (e.profile && !e.profile->upper.reason.empty()) j["profile_upper_reason"] = e.profile->upper.reason;
  return j;
}

}  // namespace

nlohmann::ordered_json idf_json(const IdfResult& r) {
  Json j{{"file", r.file}};
  if (r.grouped) j["group"] = r.group;
  j["ok"] = r.ok;
  if (!r.ok) {
    j["error"] = r.error;
    return j;
  }
  if (r.step > 0) j["step_s"] = r.step;
  j["n_rows"] = r.n_rows;
  if (r.step > 0) j["n_missing"] = r.n_missing;
  if (r.fixed_interval_factor != 1) j["fixed_interval_factor"] = r.fixed_interval_factor;
  j["model"] = r.model;
  Json durations = Json::array();
  for (const IdfDuration& d : r.durations) {
    Json dropped = Json::array();
    for (const BlockCount& b : d.blocks_dropped)
      dropped.push_back({{"block", b.block}, {"present", b.present}, {"expected", b.expected}});
    Json dj{{"duration_h", d.hours}, {"label", stats::duration_label(d.seconds)},
            {"n_years", d.intensities.size()}};
    if (r.step > 0) dj["n_windows"] = d.n_windows;
    dj["blocks_dropped"] = std::move(dropped);
    dj["fits"] = to_json(d.fit);
    durations.push_back(std::move(dj));
  }
  j["durations"] = std::move(durations);
  const auto model = [](const IdfScaling& m) {
    if (!m.ok) return Json{{"error", m.error}};
    Json j{{"mu0", number(m.mu0)},     {"sigma0", number(m.sigma0)}, {"shape", number(m.shape)},
           {"alpha", number(m.alpha)}, {"delta", number(m.delta)},   {"loglik", number(m.loglik)}};
    if (m.delta_at_zero) j["delta_at_zero"] = true;
    const char* names[5] = {"mu0", "sigma0", "shape", "alpha", "delta"};
    Json se, robust, cov = Json::array();
    for (int p = 0; p < 5; ++p) {
      se[names[p]] = number(m.se[p]);
      robust[names[p]] = number(m.se_robust[p]);
      Json row = Json::array();
      for (int q = 0; q < 5; ++q) row.push_back(number(m.cov[p][q]));
      cov.push_back(std::move(row));
    }
    j["se"] = std::move(se);
    j["se_robust"] = std::move(robust);
    j["cov"] = std::move(cov);
    return j;
  };
  j["scaling"] = {{"general", model(r.general)},
                  {"simple", model(r.simple)},
                  {"lr_test",
                   {{"statistic", number(r.lr_test.statistic)}, {"df", r.lr_test.df},
                    {"p", number(r.lr_test.p)}, {"p_mixture", number(r.lr_test.p_mixture)}}},
                  {"reference_duration_h", r.reference_hours},
                  {"likelihood", "composite: the durations' maxima taken as independent"}};
  Json table = Json::array();
  for (const IdfIntensity& i : r.intensities) table.push_back(estimate_json(i.hours, i.period, i.value));
  j["intensities"] = std::move(table);
  Json formula = Json::array();
  for (const IdfFormulaRow& f : r.formula)
    formula.push_back({{"period", f.period}, {"a", number(f.a)}, {"b", number(f.b)},
                       {"c", number(f.c)}, {"rms_log", number(f.rms_log)}});
  j["formula"] = std::move(formula);
  return j;
}

// The report: the intensities of durations (rows) and periods (columns) with
// their intervals, then the formulas.
std::string idf_report(const IdfResult& r, const std::vector<double>& periods) {
  std::string out = printable(r.file);
  if (r.grouped) append(out, " [", printable(r.group), "]");
  out += "\n";
  if (r.step > 0)
    append(out, "  step ", stats::duration_label(r.step), "   rows ", std::to_string(r.n_rows),
           "   missing ", std::to_string(r.n_missing), "\n");
  if (r.fixed_interval_factor != 1)
    append(out, "  maxima multiplied by the fixed-interval factor ", format_number(r.fixed_interval_factor), "\n");
  append(out, "  intensities (depth per hour) of ", r.model, ", with ",
         r.model.ends_with(".mle") ? "profile-likelihood intervals" :
         r.model.ends_with("scaling") ? "profile-likelihood intervals (critical value scaled by the robust "
                                         "to the model-based variance)" : "delta-method intervals",
         "\n");
  char cell[96];
  std::snprintf(cell, sizeof cell, "  %-9s %6s %8s", "duration", "years", "windows");
  out += cell;
  for (const double p : periods) {
    std::snprintf(cell, sizeof cell, " %28s", ("T=" + format_number(p) + " years").c_str());
    out += cell;
  }
  out += "\n";
  const std::size_t np = periods.size();
  for (std::size_t k = 0; k < r.durations.size(); ++k) {
    const IdfDuration& d = r.durations[k];
    std::snprintf(cell, sizeof cell, "  %-9s %6zu %8s", stats::duration_label(d.seconds).c_str(),
                  d.intensities.size(), r.step > 0 ? std::to_string(d.n_windows).c_str() : "-");
    out += cell;
    for (std::size_t p = 0; p < np; ++p) {
      const Estimate& e = r.intensities[k * np + p].value;
      const Interval b = idf_bounds(e);
      const std::string text = format_number(e.value, 4) + " [" + format_number(b.lower, 4) + ", " +
                               format_number(b.upper, 4) + "]";
      std::snprintf(cell, sizeof cell, " %28s", text.c_str());
      out += cell;
    }
    out += "\n";
  }
  for (const auto& [name, m] : {std::pair{"general", &r.general}, std::pair{"simple", &r.simple}}) {
    if (!m->ok) {
      append(out, "  ", name, " scaling: ", m->error, "\n");
      continue;
    }
    append(out, "  ", name, " scaling: mu0 ", format_number(m->mu0), " +- ", format_number(m->se_robust[0], 3),
           "   sigma0 ", format_number(m->sigma0), " +- ", format_number(m->se_robust[1], 3), "   shape ",
           format_number(m->shape), " +- ", format_number(m->se_robust[2], 3), "   alpha ",
           format_number(m->alpha), " +- ", format_number(m->se_robust[3], 3));
    if (name[0] == 'g')
      append(out, "   delta ", format_number(m->delta), " h +- ", format_number(m->se_robust[4], 3),
             m->delta_at_zero ? " (at its bound 0)" : "");
    append(out, "   log-likelihood ", format_number(m->loglik), "\n");
  }
  if (r.general.ok && r.simple.ok)
    append(out, "  simple against general scaling: likelihood ratio ", format_number(r.lr_test.statistic, 3),
           ", p = ", format_number(r.lr_test.p, 2), " (chi-square 1), ", format_number(r.lr_test.p_mixture, 2),
           " (50:50 mixture, delta = 0 on the boundary)\n");
  append(out, "  errors +-: robust (sandwich over the years), the maxima of one year coming from the same storms\n");
  out += "  formula i = a / (d + b)^c, d in hours:\n";
  for (const IdfFormulaRow& f : r.formula) {
    append(out, "    T=", format_number(f.period), " years: a ", format_number(f.a), "   b ",
           format_number(f.b), "   c ", format_number(f.c), "   rms of ln i ", format_number(f.rms_log, 3), "\n");
  }
  return out;
}

std::string idf_csv(const std::vector<IdfResult>& results) {
  std::string out = "group,duration_h,period,value,lower,upper,profile_lower,profile_upper\n";
  for (const IdfResult& r : results) {
    for (const IdfIntensity& i : r.intensities) {
      const Estimate& e = i.value;
      append(out, r.group, ",", shortest(i.hours), ",", shortest(i.period), ",", shortest(e.value), ",",
             shortest(e.lower), ",", shortest(e.upper), ",",
             e.profile ? shortest(e.profile->lower.value) : "", ",",
             e.profile ? shortest(e.profile->upper.value) : "", "\n");
    }
  }
  return out;
}

std::string idf_maxima_csv(const std::vector<IdfResult>& results) {
  std::string out = "group,duration_h,block,time,depth,intensity\n";
  for (const IdfResult& r : results) {
    for (const IdfDuration& d : r.durations) {
      for (std::size_t y = 0; y < d.intensities.size(); ++y) {
        append(out, r.group, ",", shortest(d.hours), ",", d.blocks[y], ",",
               y < d.times.size() ? format_time(d.times[y]) : "", ",", shortest(d.depths[y]), ",",
               shortest(d.intensities[y]), "\n");
      }
    }
  }
  return out;
}

}  // namespace korvalinde::cli
