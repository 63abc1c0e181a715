#include "korvalinde/cli/dated_render.hpp"

#include <cmath>

#include "korvalinde/cli/text.hpp"
#include "korvalinde/input/dated_csv.hpp"

namespace korvalinde::cli {
namespace {

using Json = nlohmann::ordered_json;

std::string num(double v) { return format_number(v, 6); }
Json number(double v) { return std::isfinite(v) ? Json(v) : Json(nullptr); }

// The estimate's fields after the ones already in j.
Json with_estimate(Json j, const Estimate& e) {
  j["value"] = number(e.value);
  j["se"] = number(e.se);
  j["lower"] = number(e.lower);
  j["upper"] = number(e.upper);
  return j;
}
Json estimate(const Estimate& e) { return with_estimate(Json::object(), e); }

Json gpd_json(const GpdResult& g) {
  Json j;
  j["ok"] = g.ok;
  if (!g.ok) {
    j["error"] = g.error;
    return j;
  }
  j["scale"] = number(g.scale);
  j["shape"] = number(g.shape);
  j["se_scale"] = number(g.se_scale);
  j["se_shape"] = number(g.se_shape);
  j["cov"] = Json::array({Json::array({number(g.var_scale), number(g.cov)}),
                          Json::array({number(g.cov), number(g.var_shape)})});
  j["loglik"] = number(g.loglik);
  if (g.iterations > 0) j["iterations"] = g.iterations;
  Json levels = Json::array();
  for (const PotLevel& p : g.return_levels) {
    Json l = with_estimate(Json{{"period", number(p.period)}}, p.level);
    l["profile_lower"] = number(p.profile.lower);
    l["profile_upper"] = number(p.profile.upper);
    levels.push_back(std::move(l));
  }
  j["return_levels"] = std::move(levels);
  j["gof"] = Json{{"ks", number(g.gof.ks)}, {"cvm", number(g.gof.cvm)}, {"ad", number(g.gof.ad)}};
  return j;
}

}  // namespace

std::string dated_warning(const FitResult& r) {
  if (!r.dated || r.dated->date_column.empty()) return "";
  return concat(r.dated->date_column, " holds times, but without --time every row is a value of ",
                "one sample");
}

std::string dated_report_lines(const FitResult& r) {
  if (!r.dated) return "";
  const DatedSummary& d = *r.dated;
  std::string out = concat("  rows ", std::to_string(d.n_rows), "   missing ",
                           std::to_string(d.n_missing));
  if (d.n_merged > 0) append(out, "   merged duplicates ", std::to_string(d.n_merged));
  out += "\n";
  if (!d.blocks.empty()) {
    append(out, "  blocks ", d.blocks, ": ", std::to_string(d.n_blocks), " kept, ",
           std::to_string(d.blocks_dropped.size()), " dropped\n");
  }
  if (const std::string w = dated_warning(r); !w.empty()) append(out, "  warning: ", w, "\n");
  return out;
}

std::string pot_report(const FitResult& r) {
  if (!r.pot) return "";
  const PotResult& p = *r.pot;
  std::string out = concat("  peaks over ", num(p.threshold), ": ", std::to_string(p.n_exceed),
                           " exceedances, ", std::to_string(p.n_clusters), " clusters (run ",
                           std::to_string(p.run), "), ", num(p.rate_per_year), " a year\n");
  append(out, "    observed ", num(p.years), " years: ");
  if (std::isfinite(p.per_year)) {
    append(out, std::to_string(r.n), " values at ", num(p.per_year), " a year\n");
  } else {
    append(out, format_time(p.first), " to ", format_time(p.last), " (", num(p.span_years),
           " years) less ", std::to_string(p.gaps.size()), p.gaps.size() == 1 ? " gap" : " gaps",
           " over ", num(static_cast<double>(p.max_gap) / 86400), " days\n");
  }
  append(out, "    extremal index: runs ", num(p.ei_runs), ", intervals ", num(p.ei_intervals), "\n");
  append(out, "    the GPD fits the excesses of the cluster maxima",
         p.diagnostics.empty() ? "" : "; threshold aids: mean residual life of all exceedances, "
                                      "modified scale and shape of the cluster maxima",
         "\n");
  for (const auto& [name, g] : {std::pair{"mle", &p.mle}, std::pair{"lmom", &p.lmom}}) {
    if (!g->present) continue;
    if (!g->ok) {
      append(out, "    gpd ", name, ": ", g->error, "\n");
      continue;
    }
    append(out, "    gpd ", name, ": scale ", num(g->scale), " +- ", format_number(g->se_scale, 3, "n/a"),
           "   shape ", num(g->shape), " +- ", format_number(g->se_shape, 3, "n/a"), "\n");
    for (const PotLevel& l : g->return_levels) {
      if (l.period != 100) continue;
      append(out, "      level T=100 years ", num(l.level.value));
      if (std::isfinite(l.level.se))
        append(out, " [", num(l.level.lower), ", ", num(l.level.upper), "]");
      if (std::isfinite(l.profile.lower) || std::isfinite(l.profile.upper))
        append(out, " profile [", num(l.profile.lower), ", ", num(l.profile.upper), "]");
      out += "\n";
    }
  }
  return out;
}

void add_dated_json(Json& j, const DatedSummary& d, bool peaks) {
  j["n_rows"] = d.n_rows;
  j["n_missing"] = d.n_missing;
  j["n_merged"] = d.n_merged;
  // Observations without covariates are dropped like blocks, with the reason.
  if (d.blocks.empty() && d.blocks_dropped.empty()) return;
  if (!d.blocks.empty()) {
    j["blocks"] = d.blocks;
    j["n_blocks"] = d.n_blocks;
  }
  Json dropped = Json::array();
  for (const BlockCount& b : d.blocks_dropped) {
    Json one{{"block", b.block}, {"present", b.present}, {"expected", b.expected}};
    if (!b.reason.empty()) one["reason"] = b.reason;
    dropped.push_back(std::move(one));
  }
  j["blocks_dropped"] = std::move(dropped);
  if (!d.blocks.empty()) return;
  // Without blocks, what was dropped are peaks over the threshold or rows,
  // each by its time; blocks_dropped still lists them as it always has.
  Json times = Json::array();
  for (const BlockCount& b : d.blocks_dropped) times.push_back(Json{{"time", b.block}, {"reason", b.reason}});
  j[peaks ? "peaks_dropped" : "rows_dropped"] = std::move(times);
}

Json pot_json(const PotResult& p) {
  Json j;
  j["threshold"] = number(p.threshold);
  j["run"] = p.run;
  j["n_exceed"] = p.n_exceed;
  j["n_clusters"] = p.n_clusters;
  j["gpd_of"] = "cluster maxima";
  j["extremal_index"] = Json{{"runs", number(p.ei_runs)}, {"intervals", number(p.ei_intervals)}};
  if (p.step > 0) {
    j["span"] = Json{{"first", format_time(p.first)}, {"last", format_time(p.last)},
                     {"years", number(p.span_years)}};
    j["max_gap_days"] = static_cast<double>(p.max_gap) / 86400;
    Json gaps = Json::array();
    for (const TimeGap& g : p.gaps) {
      gaps.push_back(Json{{"from", format_time(g.from)}, {"to", format_time(g.to)},
                          {"days", static_cast<double>(g.to - g.from - p.step) / 86400}});
    }
    j["gaps"] = std::move(gaps);
  }
  if (std::isfinite(p.per_year)) j["per_year"] = p.per_year;
  j["years"] = number(p.years);
  j["rate_per_year"] = number(p.rate_per_year);
  Json gpd;
  if (p.mle.present) gpd["mle"] = gpd_json(p.mle);
  if (p.lmom.present) gpd["lmom"] = gpd_json(p.lmom);
  j["gpd"] = std::move(gpd);
  if (!p.diagnostics.empty()) {
    Json d = Json::array();
    for (const ThresholdPoint& t : p.diagnostics) {
      d.push_back(Json{{"threshold", number(t.threshold)},
                       {"n_exceed", t.n_exceed},
                       {"n_clusters", t.n_clusters},
                       {"mean_excess", estimate(t.mean_excess)},
                       {"modified_scale", estimate(t.modified_scale)},
                       {"shape", estimate(t.shape)}});
    }
    j["diagnostics"] = std::move(d);
    j["diagnostics_of"] = Json{{"mean_excess", "all exceedances"},
                               {"modified_scale", "cluster maxima"},
                               {"shape", "cluster maxima"}};
  }
  return j;
}

}  // namespace korvalinde::cli
