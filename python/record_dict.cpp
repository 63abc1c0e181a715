#include "record_dict.hpp"

#include <cmath>
#include <initializer_list>
#include <utility>
#include <string>
#include <vector>

#include "json_object.hpp"
#include "korvalinde/cli/json.hpp"
#include "korvalinde/cli/report.hpp"
#include "korvalinde/core/fit.hpp"
#include "korvalinde/records/family_result.hpp"

namespace korvalinde::python {

namespace py = pybind11;

namespace {

// Undefined values (NaN, and infinities, which JSON cannot hold) are None.
py::object number(double v) { return std::isfinite(v) ? py::object(py::float_(v)) : py::none(); }

py::list pair(const Interval& i) {
  py::list l;
  l.append(number(i.lower));
  l.append(number(i.upper));
  return l;
}

// The estimate's fields after the ones already in d; with `point`, its value
// and standard error too.
// A bootstrap's record: its parameters' intervals, named, after the counts.
py::dict boot_dict(const BootSummary& b, std::initializer_list<std::pair<const char*, Interval>> params) {
  py::dict d;
  d["replicates"] = b.replicates;
  d["failed"] = b.failed;
  for (const auto& [name, interval] : params) d[name] = pair(interval);
  py::list intervals;
  for (const Interval& i : b.return_levels) intervals.append(pair(i));
  d["quantile"] = pair(b.quantile);
  d["return_levels"] = intervals;
  d["ks_p"] = number(b.ks_p);
  d["cvm_p"] = number(b.cvm_p);
  d["ad_p"] = number(b.ad_p);
  return d;
}

py::dict with_estimate(py::dict d, const Estimate& e, bool point = true) {
  if (point) {
    d["value"] = number(e.value);
    d["se"] = number(e.se);
  }
  d["lower"] = number(e.lower);
  d["upper"] = number(e.upper);
  if (e.profile) {
    d["profile_lower"] = number(e.profile->lower.value);
    d["profile_upper"] = number(e.profile->upper.value);
    if (!e.profile->lower.reason.empty()) d["profile_lower_reason"] = e.profile->lower.reason;
    if (!e.profile->upper.reason.empty()) d["profile_upper_reason"] = e.profile->upper.reason;
  }
  return d;
}

py::dict with_key(const char* key, double value) {
  py::dict d;
  d[key] = number(value);
  return d;
}

py::list levels(const std::vector<ReturnLevel>& return_levels) {
  py::list l;
  for (const ReturnLevel& rl : return_levels)
    l.append(with_estimate(with_key("period", rl.period), rl.level));
  return l;
}

py::dict gof_dict(const Gof& g) {
  py::dict d;
  d["ks"] = number(g.ks);
  d["cvm"] = number(g.cvm);
  d["ad"] = number(g.ad);
  d["chi2"] = number(g.chi2);
  d["chi2_df"] = g.chi2_df;
  d["chi2_p"] = number(g.chi2_p);
  if (!g.p_method.empty()) {
    d["ks_p"] = number(g.ks_p);
    d["cvm_p"] = number(g.cvm_p);
    d["ad_p"] = number(g.ad_p);
    d["p_method"] = g.p_method;
  }
  return d;
}

py::dict error_dict(const std::string& error) {
  py::dict d;
  d["error"] = error;
  return d;
}

py::dict gev_dict(const GevMethodResult& g, double prob, bool mle) {
  if (!g.error.empty()) return error_dict(g.error);
  py::dict d;
  d["loc"] = number(g.loc);
  d["scale"] = number(g.scale);
  d["shape"] = number(g.shape);
  d["se_loc"] = number(g.se_loc);
  d["se_scale"] = number(g.se_scale);
  d["se_shape"] = number(g.se_shape);
  py::list cov;
  for (const auto& row : g.cov) {
    py::list r;
    for (const double v : row) r.append(number(v));
    cov.append(r);
  }
  d["cov"] = cov;
  if (mle) {
    d["loglik"] = number(g.loglik);
    d["iterations"] = g.iterations;
  }
  d["quantile"] = with_estimate(with_key("p", prob), g.quantile);
  d["return_levels"] = levels(g.return_levels);
  d["shape_interval"] = with_estimate(py::dict(), g.shape_interval, false);
  if (g.level) {
    py::dict level = with_key("x", *g.level);
    level["period"] = number(g.level_period);
    d["level"] = level;
  }
  d["gof"] = gof_dict(g.gof);
  if (g.boot) {
    const GevBoot& b = *g.boot;
    py::dict boot = boot_dict(b, {{"loc", b.loc}, {"scale", b.scale}, {"shape", b.shape}});
    boot["se_loc"] = number(b.se_loc);
    boot["se_scale"] = number(b.se_scale);
    boot["se_shape"] = number(b.se_shape);
    d["boot"] = boot;
  }
  return d;
}

py::dict method_dict(const MethodResult& r, Method which) {
  if (!r.error.empty()) return error_dict(r.error);
  py::dict d;
  d["a"] = number(r.a);
  d["b"] = number(r.b);
  d["loc"] = d["a"];
  d["scale"] = d["b"];
  d["se_a"] = number(r.se_a);
  d["se_b"] = number(r.se_b);
  d["corr_ab"] = number(r.corr_ab);
  if (which == Method::ls) {
    d["info"] = r.info;
    d["nfev"] = r.nfev;
    d["sum_sq"] = number(r.sum_sq);
    d["l2"] = number(r.l2);
    d["serror"] = number(r.serror);
    d["rerror"] = number(r.rerror);
  }
  if (which == Method::mle) {
    d["loglik"] = number(r.loglik);
    d["iterations"] = r.iterations;
  }
  d["quantile"] = with_estimate(with_key("p", r.prob), r.quantile);
  d["return_levels"] = levels(r.return_levels);
  if (r.level) {
    py::dict level = with_key("x", *r.level);
    level["period"] = number(r.level_period);
    d["level"] = level;
  }
  d["gof"] = gof_dict(r.gof);
  if (r.boot) d["boot"] = boot_dict(*r.boot, {{"a", r.boot->a}, {"b", r.boot->b}});
  return d;
}

// The further families as the command line's JSON has them, converted once.
void add_families(py::dict& d, const FamiliesResult& f) {
  nlohmann::ordered_json j = nlohmann::ordered_json::object();
  cli::add_families_json(j, f);
  for (const auto& [k, v] : j.items()) d[py::str(k)] = json_object(v);
}

}  // namespace

py::dict lmoments_dict(const LmomentsRecord& l, int nmom) {
  py::dict d;
  d["l1"] = number(l.l1);
  if (nmom >= 2) {
    d["l2"] = number(l.l2);
    d["t"] = number(l.t);
  }
  if (nmom >= 3) d["t3"] = number(l.t3);
  if (nmom >= 4) d["t4"] = number(l.t4);
  if (nmom >= 5) d["t5"] = number(l.t5);
  return d;
}

py::dict record_dict(const FitResult& r) {
  py::dict d;
  d["file"] = r.file;
  d["ok"] = r.ok;
  if (!r.ok) {
    d["error"] = r.error;
    return d;
  }
  d["n"] = r.n;
  d["min"] = number(r.min);
  d["max"] = number(r.max);
  d["bins"] = r.bins;
  d["width"] = number(r.width);
  d["m"] = r.m;
  for (const Method m : kMethods) {
    const MethodResult& method = result_of(r, m);
    if (method.present) d[py::str(std::string(method_name(m)))] = method_dict(method, m);
  }
  const double prob = r.mle.present ? r.mle.prob : r.lmom.prob;
  if (r.gev.mle.present || r.gev.lmom.present) {
    py::dict g;
    if (r.gev.mle.present) g["mle"] = gev_dict(r.gev.mle, prob, true);
    if (r.gev.lmom.present) g["lmom"] = gev_dict(r.gev.lmom, prob, false);
    d["gev"] = g;
  }
  if (r.gumbel_test.present) {
    const GumbelTestResult& t = r.gumbel_test;
    py::dict g;
    g["statistic"] = number(t.statistic);
    g["df"] = t.df;
    g["p"] = number(t.p);
    g["shape"] = with_estimate(py::dict(), t.shape);
    if (!t.error.empty()) g["error"] = t.error;
    d["gumbel_test"] = g;
  }
  if (r.families) add_families(d, *r.families);
  if (!r.headline.dist.empty()) {
    py::dict h;
    h["dist"] = r.headline.dist;
    h["method"] = r.headline.method;
    if (!r.headline.reason.empty()) h["reason"] = r.headline.reason;
    d["headline"] = h;
  }
  return d;
}

void raise_input_error(const std::string& message, const std::string& name) {
  const py::object error = py::module_::import("korvalinde").attr("InputError");
  const py::object instance = error(message, name.empty() ? py::object(py::none()) : py::str(name));
  PyErr_SetObject(error.ptr(), instance.ptr());
  throw py::error_already_set();
}

}  // namespace korvalinde::python
