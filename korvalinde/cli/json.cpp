#include "korvalinde/cli/json.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "korvalinde/cli/dated_render.hpp"
#include "korvalinde/cli/nonstationary_render.hpp"
#include "korvalinde/cli/report.hpp"
#include "korvalinde/detail/utf8.hpp"
#include "korvalinde/records/family_result.hpp"

namespace korvalinde::cli {

using Json = nlohmann::ordered_json;

namespace {

// Undefined values (NaN, and infinities, which JSON cannot hold) are null.
Json number(double v) { return std::isfinite(v) ? Json(v) : Json(nullptr); }

Json pair(const Interval& i) { return Json::array({number(i.lower), number(i.upper)}); }

// A bootstrap's record: its parameters' intervals, named, after the counts.
Json boot_json(const BootSummary& b, const std::vector<std::pair<std::string, Interval>>& params) {
  Json j{{"replicates", b.replicates}, {"failed", b.failed}};
  for (const auto& [name, interval] : params) j[name] = pair(interval);
  Json intervals = Json::array();
  for (const Interval& i : b.return_levels) intervals.push_back(pair(i));
  j["quantile"] = pair(b.quantile);
  j["return_levels"] = std::move(intervals);
  j["ks_p"] = number(b.ks_p);
  j["cvm_p"] = number(b.cvm_p);
  j["ad_p"] = number(b.ad_p);
  return j;
}

// The estimate's fields after the ones already in j.
Json with_estimate(Json j, const Estimate& e) {
  j["value"] = number(e.value);
  j["se"] = number(e.se);
  j["lower"] = number(e.lower);
  j["upper"] = number(e.upper);
  // Profile-likelihood bounds; a bound that does not exist is null with why.
  if (e.profile) {
    j["profile_lower"] = number(e.profile->lower.value);
    j["profile_upper"] = number(e.profile->upper.value);
    if (!e.profile->lower.reason.empty()) j["profile_lower_reason"] = e.profile->lower.reason;
    if (!e.profile->upper.reason.empty()) j["profile_upper_reason"] = e.profile->upper.reason;
  }
  return j;
}

Json gof_json(const Gof& g) {
  Json j{{"ks", number(g.ks)},   {"cvm", number(g.cvm)},         {"ad", number(g.ad)},
              {"chi2", number(g.chi2)}, {"chi2_df", g.chi2_df}, {"chi2_p", number(g.chi2_p)}};
  if (!g.p_method.empty()) {
    j["ks_p"] = number(g.ks_p);
    j["cvm_p"] = number(g.cvm_p);
    j["ad_p"] = number(g.ad_p);
    j["p_method"] = g.p_method;
  }
  return j;
}

// The shape's interval: delta-method bounds, and for mle profile ones.
Json shape_interval(const Estimate& e) {
  Json j = with_estimate(Json::object(), e);
  j.erase("value");
  j.erase("se");
  return j;
}

Json gev_json(const GevMethodResult& g, double prob, bool mle) {
  Json j;
  if (!g.error.empty()) {
    j["error"] = g.error;
    return j;
  }
  j["loc"] = number(g.loc);
  j["scale"] = number(g.scale);
  j["shape"] = number(g.shape);
  j["se_loc"] = number(g.se_loc);
  j["se_scale"] = number(g.se_scale);
  j["se_shape"] = number(g.se_shape);
  Json cov = Json::array();
  for (const auto& row : g.cov) cov.push_back(Json::array({number(row[0]), number(row[1]), number(row[2])}));
  j["cov"] = std::move(cov);
  if (mle) {
    j["loglik"] = number(g.loglik);
    j["iterations"] = g.iterations;
  }
  j["quantile"] = with_estimate(Json{{"p", number(prob)}}, g.quantile);
  Json levels = Json::array();
  for (const ReturnLevel& rl : g.return_levels)
    levels.push_back(with_estimate(Json{{"period", number(rl.period)}}, rl.level));
  j["return_levels"] = std::move(levels);
  j["shape_interval"] = shape_interval(g.shape_interval);
  if (g.level) j["level"] = Json{{"x", number(*g.level)}, {"period", number(g.level_period)}};
  j["gof"] = gof_json(g.gof);
  if (g.outside_support > 0) {
    j["outside_support"] = g.outside_support;
    j["gof_note"] = outside_support_note(g.outside_support);
  }
  if (g.boot) {
    const GevBoot& b = *g.boot;
    Json boot = boot_json(b, {{"loc", b.loc}, {"scale", b.scale}, {"shape", b.shape}});
    boot["se_loc"] = number(b.se_loc);
    boot["se_scale"] = number(b.se_scale);
    boot["se_shape"] = number(b.se_shape);
    j["boot"] = std::move(boot);
  }
  return j;
}

// A further family by one method: every name of its parameters, their
// errors, the covariance of the free ones, and the statistics.
Json family_json(const FamilyMethodResult& m, bool mle) {
  if (!m.error.empty()) return Json{{"error", m.error}};
  Json j;
  for (const FamilyParameter& p : m.params) j[p.name] = number(p.value);
  for (const FamilyParameter& p : m.params) j["se_" + p.name] = number(p.se);
  if (m.cov.empty()) {
    j["cov"] = nullptr;
  } else {
    Json cov = Json::array();
    for (const auto& row : m.cov) {
      Json r = Json::array();
      for (const double v : row) r.push_back(number(v));
      cov.push_back(std::move(r));
    }
    j["cov"] = std::move(cov);
  }
  j["cov_params"] = m.free;
  if (mle) {
    j["loglik"] = number(m.loglik);
    j["iterations"] = m.iterations;
  }
  j["quantile"] = with_estimate(Json{{"p", number(m.prob)}}, m.quantile);
  Json levels = Json::array();
  for (const ReturnLevel& rl : m.return_levels)
    levels.push_back(with_estimate(Json{{"period", number(rl.period)}}, rl.level));
  j["return_levels"] = std::move(levels);
  if (m.level) j["level"] = Json{{"x", number(*m.level)}, {"period", number(m.level_period)}};
  j["gof"] = gof_json(m.gof);
  if (m.outside_support > 0) {
    for (const char* k : {"ks_p", "cvm_p", "ad_p"}) j["gof"][k] = nullptr;
    j["outside_support"] = m.outside_support;
    j["gof_note"] = outside_support_note(m.outside_support);
  }
  if (m.boot) {
    const FamilyBoot& b = *m.boot;
    // As the GEV's: the free parameters' intervals after the counts, their
    // standard deviations last.
    const std::size_t k = std::min(m.free.size(), b.params.size());
    std::vector<std::pair<std::string, Interval>> params;
    for (std::size_t i = 0; i < k; ++i) params.emplace_back(m.free[i], b.params[i]);
    Json boot = boot_json(b, params);
    for (std::size_t i = 0; i < k; ++i) boot["se_" + m.free[i]] = number(b.se[i]);
    j["boot"] = std::move(boot);
  }
  return j;
}

}  // namespace

void add_families_json(Json& j, const FamiliesResult& f) {
  for (const FamilyResult& fam : f.fits) {
    Json g = Json::object();
    if (fam.mle.present) g["mle"] = family_json(fam.mle, true);
    if (fam.lmom.present) g["lmom"] = family_json(fam.lmom, false);
    j[fam.dist] = std::move(g);
  }
  const LmomentsRecord& l = f.lmoments;
  j["lmoments"] = Json{{"l1", number(l.l1)}, {"l2", number(l.l2)}, {"t", number(l.t)},
                       {"t3", number(l.t3)}, {"t4", number(l.t4)}, {"t5", number(l.t5)}};
  Json rows = Json::array();
  for (const ComparisonRow& c : f.comparison.rows) {
    rows.push_back(Json{{"dist", c.dist}, {"method", c.method}, {"aic", number(c.aic)},
                        {"lmom_distance", number(c.lmom_distance)}, {"ad", number(c.ad)},
                        {"ad_p", number(c.ad_p)}});
  }
  j["comparison"] = std::move(rows);
  auto name_or_null = [](const std::string& s) { return s.empty() ? Json(nullptr) : Json(s); };
  j["best_aic"] = name_or_null(f.comparison.best_aic);
  j["best_lmom"] = name_or_null(f.comparison.best_lmom);
}

namespace {

Json method(const MethodResult& r, bool ls, bool mle) {
  if (!r.error.empty()) return Json{{"error", r.error}};
  Json j;
  j["a"] = number(r.a);
  j["b"] = number(r.b);
  j["se_a"] = number(r.se_a);
  j["se_b"] = number(r.se_b);
  j["corr_ab"] = number(r.corr_ab);
  if (ls) {
    j["info"] = r.info;
    j["nfev"] = r.nfev;
    j["sum_sq"] = number(r.sum_sq);
    j["l2"] = number(r.l2);
    j["serror"] = number(r.serror);
    j["rerror"] = number(r.rerror);
  }
  if (mle) {
    j["loglik"] = number(r.loglik);
    j["iterations"] = r.iterations;
  }
  j["quantile"] = with_estimate(Json{{"p", number(r.prob)}}, r.quantile);

  Json levels = Json::array();
  for (const ReturnLevel& rl : r.return_levels) {
    levels.push_back(with_estimate(Json{{"period", number(rl.period)}}, rl.level));
  }
  j["return_levels"] = std::move(levels);

  if (r.level) j["level"] = Json{{"x", number(*r.level)}, {"period", number(r.level_period)}};

  j["gof"] = gof_json(r.gof);

  if (r.boot) j["boot"] = boot_json(*r.boot, {{"a", r.boot->a}, {"b", r.boot->b}});
  return j;
}

}  // namespace

Json to_json(const FitResult& r) {
  Json j;
  // Names are escaped where they are not UTF-8, so that distinct ones stay
  // distinct.
  j["file"] = detail::escape_bytes(r.file, false);
  if (r.dated && r.dated->grouped) j["group"] = detail::escape_bytes(r.dated->group, false);
  j["ok"] = r.ok;
  if (!r.ok) {
    j["error"] = r.error;
    if (r.input_error) {
      const InputError& e = *r.input_error;
      j["input_error"] = Json{{"line", e.line}, {"column", e.column}, {"code", e.code}};
    }
    if (r.dated) add_dated_json(j, *r.dated, r.pot.has_value());  // what was read of the series
    return j;
  }
  j["n"] = r.n;
  if (r.dated) add_dated_json(j, *r.dated, r.pot.has_value());
  j["min"] = number(r.min);
  j["max"] = number(r.max);
  if (r.bins > 0) {  // no histogram when only the peaks over a threshold are fitted
    j["bins"] = r.bins;
    j["width"] = number(r.width);
    j["m"] = r.m;
  }
  if (r.ls.present) j["ls"] = method(r.ls, true, false);
  if (r.mle.present) j["mle"] = method(r.mle, false, true);
  if (r.lmom.present) j["lmom"] = method(r.lmom, false, false);
  const double prob = r.mle.present ? r.mle.prob : r.lmom.prob;
  if (r.gev.mle.present || r.gev.lmom.present) {
    Json g = Json::object();
    if (r.gev.mle.present) g["mle"] = gev_json(r.gev.mle, prob, true);
    if (r.gev.lmom.present) g["lmom"] = gev_json(r.gev.lmom, prob, false);
    j["gev"] = std::move(g);
  }
  if (r.gumbel_test.present) {
    const GumbelTestResult& t = r.gumbel_test;
    Json g{{"statistic", number(t.statistic)}, {"df", t.df}, {"p", number(t.p)},
           {"shape", with_estimate(Json::object(), t.shape)}};
    if (!t.error.empty()) g["error"] = t.error;
    j["gumbel_test"] = std::move(g);
  }
  if (r.families) add_families_json(j, *r.families);
  if (r.pot) j["pot"] = pot_json(*r.pot);
  add_nonstationary_json(j, r);
  std::vector<std::string> warnings = small_sample_warnings(r);
  if (std::string w = dated_warning(r); !w.empty()) warnings.push_back(std::move(w));
  if (!warnings.empty()) j["warnings"] = std::move(warnings);
  if (!r.headline.dist.empty()) {
    Json h{{"dist", r.headline.dist}, {"method", r.headline.method}};
    if (!r.headline.reason.empty()) h["reason"] = r.headline.reason;
    j["headline"] = std::move(h);
  }
  return j;
}

std::string to_json_line(const FitResult& r) {
  // Messages may hold any bytes of a file name: replace what is not UTF-8
  // rather than throw.
  return to_json(r).dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace korvalinde::cli
