// _fit_covariates(x, names, covariates, time, vary, at, periods, level,
// confidence, profiles): the "nonstationary" and "trend" records of
// `korvalinde fit --covariate` for one series, as json.loads of the command
// line's JSON gives them. Observations with a missing value (NaN) in x or a
// covariate are dropped and counted.
// _fit_pot(x, ...): the record of `korvalinde fit --pot` for the values x in
// order (rows without times; NaN: missing), with covariates the GPD's
// log-scale linear in them at each cluster's maximum.
#include "nonstationary_module.hpp"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "korvalinde/cli/json.hpp"
#include "korvalinde/cli/nonstationary_render.hpp"
#include "korvalinde/core/covariates.hpp"
#include "korvalinde/core/dated.hpp"
#include "korvalinde/detail/parallel.hpp"
#include "record_dict.hpp"

namespace py = pybind11;

namespace korvalinde::python {
namespace {

using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;

std::vector<double> values_of(const Doubles& a, std::size_t n, const std::string& what) {
  if (a.ndim() != 1 || static_cast<std::size_t>(a.shape(0)) != n)
    throw py::value_error(what + " must be one-dimensional and as long as x (" + std::to_string(n) + ")");
  return {a.data(), a.data() + n};
}

// The plan of a fit on covariates from the Python arguments, checked.
CovariatePlan make_plan(const std::vector<std::string>& names, const std::string& vary,
                        const std::vector<std::vector<double>>& at, std::vector<double> periods,
                        std::optional<double> level, double confidence, bool profiles) {
  if (names.empty()) throw py::value_error("covariates must map at least one name to an array");
  if (names.size() > stats::kMaxCovariates)
    throw py::value_error("at most " + std::to_string(stats::kMaxCovariates) + " covariates");
  CovariatePlan plan;
  plan.names = names;
  if (vary == "loc") plan.model = {stats::NsFamily::gev, true, false};
  else if (vary == "loc,scale") plan.model = {stats::NsFamily::gev, true, true};
  else if (vary == "scale") plan.model = {stats::NsFamily::gev, false, true};
  else if (vary == "dispersion") plan.model = {stats::NsFamily::gev, true, false, true};
  else throw py::value_error("vary must be ('loc',), ('scale',), ('loc', 'scale') or 'dispersion', not '" + vary + "'");
  plan.vary = vary;
  for (const std::vector<double>& p : at) {
    if (p.size() != names.size()) throw py::value_error("each point of at needs a value of every covariate");
    for (double v : p) {
      if (!std::isfinite(v)) throw py::value_error("the points of at must be finite");
    }
  }
  if (at.empty() && names.size() > 1) throw py::value_error("at: the points are needed with more than one covariate");
  for (double t : periods) {
    if (!(t > 1) || !std::isfinite(t)) throw py::value_error("return periods must be finite and greater than 1");
  }
  if (!(confidence > 0 && confidence < 1)) throw py::value_error("confidence must be in (0, 1)");
  plan.request.at = at;
  plan.request.periods = std::move(periods);
  plan.request.level = level.value_or(kUndefined);
  plan.request.profiles = profiles;
  return plan;
}

// One series to fit: the observations with every value finite, in order.
struct Series {
  std::vector<double> x, time;
  std::vector<std::vector<double>> c;
  std::vector<std::string> labels;
  std::size_t dropped = 0;
};

// Element t of series i of `get`: x, covariate j, the time.
template <class Get>
Series keep_finite(std::size_t n, std::size_t p, bool timed, Get&& get) {
  Series s;
  s.c.resize(p);
  for (std::size_t i = 0; i < n; ++i) {
    const double x = get(0, i);
    bool ok = std::isfinite(x);
    const double t = timed ? get(p + 1, i) : static_cast<double>(i);
    ok = ok && std::isfinite(t);
    for (std::size_t j = 0; j < p && ok; ++j) ok = std::isfinite(get(1 + j, i));
    if (!ok) continue;
    s.x.push_back(x);
    s.time.push_back(t);
    for (std::size_t j = 0; j < p; ++j) s.c[j].push_back(get(1 + j, i));
    s.labels.push_back(std::to_string(i));
  }
  s.dropped = n - s.x.size();
  return s;
}

std::shared_ptr<const NonstationaryResult> fit_series(const CovariatePlan& plan, Series s, double confidence) {
  return fit_on_covariates(plan, std::move(s.x), std::move(s.c), std::move(s.time), std::move(s.labels),
                           confidence);
}

py::dict fit_covariates(const Doubles& x, const std::vector<std::string>& names,
                        const std::vector<Doubles>& covariates, std::optional<Doubles> time,
                        const std::string& vary, const std::vector<std::vector<double>>& at,
                        std::vector<double> periods, std::optional<double> level, double confidence,
                        bool profiles) {
  if (x.ndim() != 1) throw py::value_error("x must be one-dimensional");
  const std::size_t n = static_cast<std::size_t>(x.shape(0));
  if (names.size() != covariates.size())
    throw py::value_error("covariates must map at least one name to an array");
  const CovariatePlan plan = make_plan(names, vary, at, std::move(periods), level, confidence, profiles);
  std::vector<std::vector<double>> columns{values_of(x, n, "x")};
  for (std::size_t j = 0; j < names.size(); ++j) columns.push_back(values_of(covariates[j], n, "covariate " + names[j]));
  if (time) columns.push_back(values_of(*time, n, "time"));
  Series s = keep_finite(n, names.size(), time.has_value(),
                         [&](std::size_t k, std::size_t i) { return columns[k][i]; });
  const std::size_t dropped = s.dropped;
  FitResult r;
  r.ok = true;
  {
    py::gil_scoped_release unlocked;
    r.nonstationary = fit_series(plan, std::move(s), confidence);
  }
  nlohmann::ordered_json j;
  cli::add_nonstationary_json(j, r);
  const py::object loads = py::module_::import("json").attr("loads");
  py::dict out;
  out["nonstationary"] = loads(j["gev"]["mle"]["nonstationary"].dump());
  out["trend"] = loads(j["trend"].dump());
  out["n_dropped"] = dropped;
  return out;
}

py::dict fit_pot(const Doubles& x, const std::string& name, std::optional<double> threshold,
                 std::optional<double> quantile, int run, double per_year, bool mle, bool lmom,
                 std::vector<double> periods, std::optional<double> level, double confidence, bool profiles,
                 const std::vector<std::string>& names, const std::vector<Doubles>& covariates,
                 const std::vector<std::vector<double>>& at) {
  if (x.ndim() != 1) throw py::value_error("x must be one-dimensional");
  if (threshold.has_value() == quantile.has_value())
    throw py::value_error("peaks over a threshold need one of threshold and threshold_quantile");
  if (threshold && !std::isfinite(*threshold)) throw py::value_error("threshold must be finite");
  if (quantile && !(*quantile >= 0 && *quantile <= 1)) throw py::value_error("threshold_quantile must be in [0, 1]");
  if (run < 0) throw py::value_error("run must be 0 or more");
  if (!(per_year > 0 && std::isfinite(per_year))) throw py::value_error("per_year must be positive and finite");
  for (double t : periods) {
    if (!(t > 1) || !std::isfinite(t)) throw py::value_error("return periods must be finite and greater than 1");
  }
  if (!(confidence > 0 && confidence < 1)) throw py::value_error("confidence must be in (0, 1)");
  const std::size_t n = static_cast<std::size_t>(x.shape(0));
  korvalinde::Series s;
  s.value.assign(x.data(), x.data() + n);
  for (double v : s.value) s.n_missing += std::isnan(v);
  DatedPlan dated;
  stats::PotOptions& pot = dated.pot.emplace();
  pot.threshold = threshold;
  pot.threshold_quantile = quantile;
  pot.run = run;
  pot.per_year = per_year;
  pot.mle = mle;
  pot.lmom = lmom;
  pot.periods = periods;
  FitOptions options;
  options.confidence = confidence;
  if (!names.empty() || !covariates.empty()) {
    if (names.size() != covariates.size()) throw py::value_error("covariates must map at least one name to an array");
    CovariatePlan& plan = dated.covariates.emplace(make_plan(names, "scale", at, periods, level, confidence, profiles));
    plan.model = {stats::NsFamily::gpd, false, true};
    auto columns = std::make_shared<std::vector<std::vector<double>>>();
    for (std::size_t j = 0; j < names.size(); ++j) columns->push_back(values_of(covariates[j], n, "covariate " + names[j]));
    plan.columns = std::move(columns);
  }
  SeriesFit f;
  {
    py::gil_scoped_release unlocked;
    f = korvalinde::fit_series(s, false, dated, options, name);
  }
  if (!f.result.ok) {
    std::string why = f.result.error;  // "NAME: why"
    if (name.empty() && why.rfind(": ", 0) == 0) why.erase(0, 2);
    raise_input_error(why, name);
  }
  const py::object loads = py::module_::import("json").attr("loads");
  py::dict out = loads(cli::to_json_line(f.result));
  // Each cluster maximum is one observation of the fit on covariates but for
  // those missing a covariate.
  if (dated.covariates)
    out["gpd"]["mle"]["nonstationary"]["n_dropped"] = f.result.pot->n_clusters - f.result.nonstationary->x.size();
  return out;
}

// fit_many's arrays of the fits on covariates: one column per statistic,
// shaped like the cells plus the statistic's own axes, NaN where a cell has
// no value (failed fit, bound not found).
struct Column {
  std::string key;
  std::vector<py::ssize_t> tail;
  std::function<double(const NonstationaryResult&, std::size_t)> value;
  bool fit = true;  // NaN unless the fit succeeded (else: the trend tests)
  std::size_t width() const {
    std::size_t w = 1;
    for (py::ssize_t t : tail) w *= static_cast<std::size_t>(t);
    return w;
  }
};

double finite_or_nan(double v) { return std::isfinite(v) ? v : kUndefined; }

std::vector<std::string> coef_names(const CovariatePlan& plan) {
  std::vector<std::string> out;
  if (plan.model.dispersion) {
    out.emplace_back("mu0");
    for (const std::string& n : plan.names) out.push_back("a_" + n);
    out.emplace_back("sigma0");
    out.emplace_back("xi");
    return out;
  }
  if (plan.model.loc) {
    out.emplace_back("mu0");
    for (const std::string& n : plan.names) out.push_back("mu_" + n);
  } else {
    out.emplace_back("mu");
  }
  if (plan.model.scale) {
    out.emplace_back("log_sigma0");
    for (const std::string& n : plan.names) out.push_back("log_sigma_" + n);
  } else {
    out.emplace_back("sigma");
  }
  out.emplace_back("xi");
  return out;
}

std::vector<std::string> lr_names(const CovariatePlan& plan) {
  std::vector<std::string> out{"stationary"};
  if (plan.model.loc && plan.model.scale && !plan.model.dispersion) out.emplace_back("loc");
  out.emplace_back("gumbel");
  return out;
}

std::vector<Column> columns_of(const CovariatePlan& plan, std::size_t points, bool trend) {
  using R = const NonstationaryResult&;
  const auto k = static_cast<py::ssize_t>(coef_names(plan).size());
  const auto p = static_cast<py::ssize_t>(plan.names.size());
  const auto nt = static_cast<py::ssize_t>(lr_names(plan).size());
  const auto na = static_cast<py::ssize_t>(points), np = static_cast<py::ssize_t>(plan.request.periods.size());
  std::vector<Column> c;
  auto add = [&c](std::string key, std::vector<py::ssize_t> tail, auto f, bool fit = true) {
    c.push_back(Column{"ns_" + key, std::move(tail), f, fit});
  };
  add("coef", {k}, [](R r, std::size_t j) { return r.analysis.fit.coef[j]; });
  add("se", {k}, [](R r, std::size_t j) { return r.analysis.fit.se[j]; });
  add("cov", {k, k}, [](R r, std::size_t j) { return r.analysis.fit.cov[j]; });
  add("coef_profile_lower", {k}, [](R r, std::size_t j) { return r.analysis.coef_profiles[j].lower.value; });
  add("coef_profile_upper", {k}, [](R r, std::size_t j) { return r.analysis.coef_profiles[j].upper.value; });
  add("loglik", {}, [](R r, std::size_t) { return r.analysis.fit.loglik; });
  add("aic", {}, [](R r, std::size_t) { return r.analysis.fit.aic; });
  add("bic", {}, [](R r, std::size_t) { return r.analysis.fit.bic; });
  add("lr_statistic", {nt}, [](R r, std::size_t j) { return r.analysis.lr_tests[j].statistic; });
  add("lr_df", {nt}, [](R r, std::size_t j) { return static_cast<double>(r.analysis.lr_tests[j].df); });
  add("lr_p", {nt}, [](R r, std::size_t j) { return r.analysis.lr_tests[j].p; });
  add("reference", {p}, [](R r, std::size_t j) { return r.analysis.reference[j]; });
  add("mu_ref", {}, [](R r, std::size_t) { return r.analysis.mu_ref.value; });
  add("mu_ref_se", {}, [](R r, std::size_t) { return r.analysis.mu_ref.se; });
  add("sigma_ref", {}, [](R r, std::size_t) { return r.analysis.sigma_ref.value; });
  add("sigma_ref_se", {}, [](R r, std::size_t) { return r.analysis.sigma_ref.se; });
  const auto pu = static_cast<std::size_t>(p), npu = static_cast<std::size_t>(np);
  add("at", {na, p}, [pu](R r, std::size_t j) { return r.analysis.at[j / pu].c[j % pu]; });
  add("extrapolated", {na}, [](R r, std::size_t j) { return r.analysis.at[j].extrapolated ? 1.0 : 0.0; });
  auto level = [npu](auto member) {
    return [npu, member](R r, std::size_t j) { return member(r.analysis.at[j / npu].levels[j % npu]); };
  };
  add("rl", {na, np}, level([](const stats::NsLevel& l) { return l.value; }));
  add("rl_se", {na, np}, level([](const stats::NsLevel& l) { return l.se; }));
  add("rl_lower", {na, np}, level([](const stats::NsLevel& l) { return l.lower; }));
  add("rl_upper", {na, np}, level([](const stats::NsLevel& l) { return l.upper; }));
  add("rl_profile_lower", {na, np}, level([](const stats::NsLevel& l) { return l.profile.lower.value; }));
  add("rl_profile_upper", {na, np}, level([](const stats::NsLevel& l) { return l.profile.upper.value; }));
  if (points >= 2) {
    auto change = [](auto member) {
      return [member](R r, std::size_t j) { return member(r.analysis.change[j]); };
    };
    add("change", {np}, change([](const stats::NsLevel& l) { return l.value; }));
    add("change_percent", {np}, change([](const stats::NsLevel& l) { return l.percent; }));
    add("change_se", {np}, change([](const stats::NsLevel& l) { return l.se; }));
    add("change_lower", {np}, change([](const stats::NsLevel& l) { return l.lower; }));
    add("change_upper", {np}, change([](const stats::NsLevel& l) { return l.upper; }));
    add("change_profile_lower", {np}, change([](const stats::NsLevel& l) { return l.profile.lower.value; }));
    add("change_profile_upper", {np}, change([](const stats::NsLevel& l) { return l.profile.upper.value; }));
    // As the JSON's probability_ratio: the profile bounds when found, else the delta ones.
    auto pr = [](auto member) {
      return [member](R r, std::size_t) { return member(r.analysis.probability_ratio); };
    };
    using Pr = const stats::NsProbabilityRatio&;
    auto profiled = [](Pr q) {
      return std::isfinite(q.profile.lower.value) || std::isfinite(q.profile.upper.value);
    };
    add("pr_level", {}, pr([](Pr q) { return q.level; }));
    add("pr", {}, pr([](Pr q) { return q.pr; }));
    add("pr_lower", {}, pr([profiled](Pr q) { return std::exp(profiled(q) ? q.profile.lower.value : q.lower); }));
    add("pr_upper", {}, pr([profiled](Pr q) { return std::exp(profiled(q) ? q.profile.upper.value : q.upper); }));
    add("far", {}, pr([](Pr q) { return q.far; }));
    add("ln_pr", {}, pr([](Pr q) { return q.ln_pr; }));
    add("se_ln_pr", {}, pr([](Pr q) { return q.se_ln_pr; }));
    add("ln_pr_profile_lower", {}, pr([](Pr q) { return q.profile.lower.value; }));
    add("ln_pr_profile_upper", {}, pr([](Pr q) { return q.profile.upper.value; }));
  }
  add("residual_ks", {}, [](R r, std::size_t) { return r.analysis.residual_gof.ks; });
  add("residual_cvm", {}, [](R r, std::size_t) { return r.analysis.residual_gof.cvm; });
  add("residual_ad", {}, [](R r, std::size_t) { return r.analysis.residual_gof.ad; });
  if (trend) {
    auto t = [&c](std::string key, auto f) { c.push_back(Column{"trend_" + key, {}, f, false}); };
    t("mann_kendall_s", [](R r, std::size_t) { return r.mann_kendall.s; });
    t("mann_kendall_var_s", [](R r, std::size_t) { return r.mann_kendall.var_s; });
    t("mann_kendall_z", [](R r, std::size_t) { return r.mann_kendall.z; });
    t("mann_kendall_p", [](R r, std::size_t) { return r.mann_kendall.p; });
    t("mann_kendall_tau", [](R r, std::size_t) { return r.mann_kendall.tau; });
    t("sen_slope", [](R r, std::size_t) { return r.sen.slope; });
    t("sen_slope_lower", [](R r, std::size_t) { return r.sen.lower; });
    t("sen_slope_upper", [](R r, std::size_t) { return r.sen.upper; });
  }
  return c;
}

// fit_many's fits on covariates: `a` is C-contiguous with the series along
// its last axis; each covariate (and the time) has a's shape, with any
// strides (a shared series broadcast has stride 0 across the cells).
py::dict fit_many_covariates(const Doubles& a, const std::vector<std::string>& names,
                             const std::vector<py::array_t<double>>& covariates,
                             std::optional<py::array_t<double>> time, const std::string& vary,
                             const std::vector<std::vector<double>>& at, std::vector<double> periods,
                             std::optional<double> level, double confidence, bool profiles, int threads,
                             bool trend) {
  if (a.ndim() < 1) throw py::value_error("a must have at least one dimension");
  if (names.size() != covariates.size())
    throw py::value_error("covariates must map at least one name to an array");
  CovariatePlan plan = make_plan(names, vary, at, std::move(periods), level, confidence, profiles);
  if (!trend) plan.trend = false;
  const auto nd = static_cast<std::size_t>(a.ndim());
  std::vector<py::ssize_t> shape(a.shape(), a.shape() + nd - 1);
  const auto length = static_cast<std::size_t>(a.shape(static_cast<py::ssize_t>(nd) - 1));
  std::size_t count = 1;
  for (py::ssize_t s : shape) count *= static_cast<std::size_t>(s);
  // The arrays read: x, the covariates, the time; their element strides.
  std::vector<const char*> base{reinterpret_cast<const char*>(a.data())};
  std::vector<std::vector<py::ssize_t>> strides{std::vector<py::ssize_t>(a.strides(), a.strides() + nd)};
  auto take = [&](const py::array_t<double>& c, const std::string& what) {
    if (static_cast<std::size_t>(c.ndim()) != nd || !std::equal(c.shape(), c.shape() + nd, a.shape()))
      throw py::value_error(what + " does not have the shape of a");
    base.push_back(reinterpret_cast<const char*>(c.data()));
    strides.emplace_back(c.strides(), c.strides() + nd);
  };
  for (std::size_t j = 0; j < names.size(); ++j) take(covariates[j], "covariate " + names[j]);
  if (time) take(*time, "time");
  const std::size_t points = at.empty() ? 2 : at.size();

  std::vector<Column> columns = columns_of(plan, points, trend);
  std::vector<py::array_t<double>> arrays;
  std::vector<double*> out;
  for (const Column& c : columns) {
    std::vector<py::ssize_t> s = shape;
    s.insert(s.end(), c.tail.begin(), c.tail.end());
    arrays.emplace_back(s);
    out.push_back(arrays.back().mutable_data());
  }
  py::array_t<bool> ok(shape);
  bool* ok_out = ok.mutable_data();
  py::array_t<std::int64_t> n(shape), dropped(shape);
  std::int64_t* n_out = n.mutable_data();
  std::int64_t* dropped_out = dropped.mutable_data();
  const std::size_t p = names.size();
  if (threads < 0) throw py::value_error("threads must be 0 (all cores) or more");
  const unsigned workers = threads <= 0 ? detail::default_threads()
                                        : std::min(static_cast<unsigned>(threads), 4 * detail::default_threads());
  std::atomic<bool> stop{false};
  std::exception_ptr failure;
  std::mutex failure_lock;
  {
    py::gil_scoped_release unlocked;
    detail::parallel_for(count, workers, [&](std::size_t i) {
      if (stop.load(std::memory_order_relaxed)) return;
      try {
        // The byte offset of cell i in each array.
        std::vector<const char*> at_cell(base);
        std::size_t rest = i;
        for (std::size_t d = nd - 1; d-- > 0;) {
          const auto idx = static_cast<py::ssize_t>(rest % static_cast<std::size_t>(shape[d]));
          rest /= static_cast<std::size_t>(shape[d]);
          for (std::size_t m = 0; m < base.size(); ++m) at_cell[m] += idx * strides[m][d];
        }
        auto get = [&](std::size_t m, std::size_t t) {
          double v;
          std::memcpy(&v, at_cell[m] + static_cast<py::ssize_t>(t) * strides[m][nd - 1], sizeof v);
          return v;
        };
        Series s = keep_finite(length, p, time.has_value(), get);
        dropped_out[i] = static_cast<std::int64_t>(s.dropped);
        n_out[i] = static_cast<std::int64_t>(s.x.size());
        const auto r = fit_series(plan, std::move(s), confidence);
        const bool fitted = r->error.empty();
        ok_out[i] = fitted;
        for (std::size_t k = 0; k < columns.size(); ++k) {
          const std::size_t w = columns[k].width();
          double* o = out[k] + i * w;
          const bool have = fitted || !columns[k].fit;
          for (std::size_t j = 0; j < w; ++j) o[j] = have ? finite_or_nan(columns[k].value(*r, j)) : kUndefined;
        }
      } catch (...) {
        stop = true;
        const std::lock_guard guard(failure_lock);
        if (!failure) failure = std::current_exception();
      }
    });
  }
  if (failure) std::rethrow_exception(failure);
  py::dict result;
  for (std::size_t k = 0; k < columns.size(); ++k) result[py::str(columns[k].key)] = std::move(arrays[k]);
  result["ns_ok"] = std::move(ok);
  result["ns_n"] = std::move(n);
  result["ns_n_dropped"] = std::move(dropped);
  result["ns_coef_names"] = coef_names(plan);
  result["ns_lr_against"] = lr_names(plan);
  result["ns_periods"] = py::array_t<double>(static_cast<py::ssize_t>(plan.request.periods.size()),
                                             plan.request.periods.data());
  return result;
}

}  // namespace

void add_nonstationary(py::module_& m) {
  using namespace pybind11::literals;
  m.def("_fit_covariates", &fit_covariates, "x"_a, "names"_a, "covariates"_a, "time"_a, "vary"_a, "at"_a,
        "periods"_a, "level"_a, "confidence"_a, "profiles"_a,
        "The non-stationary GEV of x on the covariates and the trend tests (see korvalinde.fit).");
  m.def("_fit_many_covariates", &fit_many_covariates, "a"_a, "names"_a, "covariates"_a, "time"_a, "vary"_a,
        "at"_a, "periods"_a, "level"_a, "confidence"_a, "profiles"_a, "threads"_a, "trend"_a,
        "The non-stationary GEV of every series of a (last axis) on the covariates (see korvalinde.fit_many).");
  m.def("_fit_pot", &fit_pot, "x"_a, "name"_a, "threshold"_a, "threshold_quantile"_a, "run"_a, "per_year"_a,
        "mle"_a, "lmom"_a, "periods"_a, "level"_a, "confidence"_a, "profiles"_a, "names"_a, "covariates"_a,
        "at"_a, "Peaks over a threshold of x, on covariates when given (see korvalinde.fit).");
}

}  // namespace korvalinde::python
