// _fit_covariates(x, names, covariates, time, vary, at, periods, level,
// confidence, profiles): the "nonstationary" and "trend" records of
// `korvalinde fit --covariate` for one series, as json.loads of the command
// line's JSON gives them. Observations with a missing value (NaN) in x or a
// covariate are dropped and counted.
#include "nonstationary_module.hpp"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "korvalinde/cli/nonstationary_render.hpp"
#include "korvalinde/core/covariates.hpp"

namespace py = pybind11;

namespace korvalinde::python {
namespace {

using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;

std::vector<double> values_of(const Doubles& a, std::size_t n, const std::string& what) {
  if (a.ndim() != 1 || static_cast<std::size_t>(a.shape(0)) != n)
    throw py::value_error(what + " must be one-dimensional and as long as x (" + std::to_string(n) + ")");
  return {a.data(), a.data() + n};
}

py::dict fit_covariates(const Doubles& x, const std::vector<std::string>& names,
                        const std::vector<Doubles>& covariates, std::optional<Doubles> time,
                        const std::string& vary, const std::vector<std::vector<double>>& at,
                        std::vector<double> periods, std::optional<double> level, double confidence,
                        bool profiles) {
  if (x.ndim() != 1) throw py::value_error("x must be one-dimensional");
  const std::size_t n = static_cast<std::size_t>(x.shape(0));
  if (names.empty() || names.size() != covariates.size())
    throw py::value_error("covariates must map at least one name to an array");
  if (names.size() > stats::kMaxCovariates)
    throw py::value_error("at most " + std::to_string(stats::kMaxCovariates) + " covariates");
  CovariatePlan plan;
  plan.names = names;
  if (vary == "loc") plan.model = {stats::NsFamily::gev, true, false};
  else if (vary == "loc,scale") plan.model = {stats::NsFamily::gev, true, true};
  else if (vary == "scale") plan.model = {stats::NsFamily::gev, false, true};
  else throw py::value_error("vary must be ('loc',), ('scale',) or ('loc', 'scale'), not '" + vary + "'");
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
  const std::vector<double> xs = values_of(x, n, "x");
  std::vector<std::vector<double>> cs;
  for (std::size_t j = 0; j < names.size(); ++j) cs.push_back(values_of(covariates[j], n, "covariate " + names[j]));
  std::vector<double> ts;
  if (time) ts = values_of(*time, n, "time");
  // Observations with a missing value are dropped.
  std::vector<double> kx, kt;
  std::vector<std::vector<double>> kc(names.size());
  std::vector<std::string> labels;
  for (std::size_t i = 0; i < n; ++i) {
    bool ok = std::isfinite(xs[i]) && (ts.empty() || std::isfinite(ts[i]));
    for (const auto& c : cs) ok = ok && std::isfinite(c[i]);
    if (!ok) continue;
    kx.push_back(xs[i]);
    kt.push_back(ts.empty() ? static_cast<double>(i) : ts[i]);
    for (std::size_t j = 0; j < names.size(); ++j) kc[j].push_back(cs[j][i]);
    labels.push_back(std::to_string(i));
  }
  const std::size_t dropped = n - kx.size();
  FitResult r;
  r.ok = true;
  {
    py::gil_scoped_release unlocked;
    r.nonstationary = fit_on_covariates(plan, std::move(kx), std::move(kc), std::move(kt), std::move(labels),
                                        confidence);
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

}  // namespace

void add_nonstationary(py::module_& m) {
  using namespace pybind11::literals;
  m.def("_fit_covariates", &fit_covariates, "x"_a, "names"_a, "covariates"_a, "time"_a, "vary"_a, "at"_a,
        "periods"_a, "level"_a, "confidence"_a, "profiles"_a,
        "The non-stationary GEV of x on the covariates and the trend tests (see korvalinde.fit).");
}

}  // namespace korvalinde::python
