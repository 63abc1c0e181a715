#include "korvalinde/cli/json.hpp"

#include <cmath>

#include "korvalinde/cli/dated_render.hpp"
#include "korvalinde/cli/report.hpp"

namespace korvalinde::cli {

using Json = nlohmann::ordered_json;

namespace {

// Undefined values (NaN, and infinities, which JSON cannot hold) are null.
Json number(double v) { return std::isfinite(v) ? Json(v) : Json(nullptr); }

Json pair(const Interval& i) { return Json::array({number(i.lower), number(i.upper)}); }

// The estimate's fields after the ones already in j.
Json with_estimate(Json j, const Estimate& e) {
  j["value"] = number(e.value);
  j["se"] = number(e.se);
  j["lower"] = number(e.lower);
  j["upper"] = number(e.upper);
  return j;
}

Json method(const MethodResult& r, bool ls, bool mle) {
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

  j["gof"] = Json{{"ks", number(r.gof.ks)},   {"cvm", number(r.gof.cvm)},
                  {"ad", number(r.gof.ad)},   {"chi2", number(r.gof.chi2)},
                  {"chi2_df", r.gof.chi2_df}, {"chi2_p", number(r.gof.chi2_p)},
                  {"ks_p", number(r.gof.ks_p)},   {"cvm_p", number(r.gof.cvm_p)},
                  {"ad_p", number(r.gof.ad_p)},   {"p_method", r.gof.p_method}};

  if (r.boot) {
    const Boot& b = *r.boot;
    Json intervals = Json::array();
    for (const Interval& i : b.return_levels) intervals.push_back(pair(i));
    j["boot"] = Json{{"replicates", b.replicates},
                     {"failed", b.failed},
                     {"a", pair(b.a)},
                     {"b", pair(b.b)},
                     {"quantile", pair(b.quantile)},
                     {"return_levels", std::move(intervals)},
                     {"ks_p", number(b.ks_p)},
                     {"cvm_p", number(b.cvm_p)},
                     {"ad_p", number(b.ad_p)}};
  }
  return j;
}

}  // namespace

Json to_json(const FitResult& r) {
  Json j;
  j["file"] = r.file;
  if (r.dated && r.dated->grouped) j["group"] = r.dated->group;
  j["ok"] = r.ok;
  if (!r.ok) {
    j["error"] = r.error;
    if (r.input_error) {
      const InputError& e = *r.input_error;
      j["input_error"] = Json{{"line", e.line}, {"column", e.column}, {"code", e.code}};
    }
    return j;
  }
  j["n"] = r.n;
  if (r.dated) add_dated_json(j, *r.dated);
  j["min"] = number(r.min);
  j["max"] = number(r.max);
  j["bins"] = r.bins;
  j["width"] = number(r.width);
  j["m"] = r.m;
  if (r.ls.present) j["ls"] = method(r.ls, true, false);
  if (r.mle.present) j["mle"] = method(r.mle, false, true);
  if (r.lmom.present) j["lmom"] = method(r.lmom, false, false);
  if (r.pot) j["pot"] = pot_json(*r.pot);
  if (const auto methods = ranked_methods(r); !methods.empty()) j["headline"] = methods[0].name;
  return j;
}

std::string to_json_line(const FitResult& r) {
  // Names come from the command line and may hold any bytes: replace what is
  // not UTF-8 rather than throw.
  return to_json(r).dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace korvalinde::cli
