// idf(): the intensity-duration-frequency analysis of one record of rain
// depths, its record returned as the command line's JSON object, key for key.
#include "idf_module.hpp"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <thread>
#include <string>
#include <vector>

#include "json_object.hpp"
#include "korvalinde/cli/idf_render.hpp"
#include "korvalinde/core/idf.hpp"
#include "korvalinde/stats/idf.hpp"

namespace py = pybind11;

namespace korvalinde::python {
namespace {

std::int64_t duration_of(const std::string& text, const char* what) {
  std::int64_t s = 0;
  if (!stats::parse_duration(text, s))
    throw py::value_error(std::string(what) + ": '" + text + "' is not a duration (5min, 1h, 2d)");
  return s;
}

py::dict idf(py::array_t<std::int64_t, py::array::c_style | py::array::forcecast> times,
             py::array_t<double, py::array::c_style | py::array::forcecast> depths,
             const std::vector<std::string>& durations, const std::vector<double>& periods,
             const std::string& block, double min_coverage, const std::string& step,
             double fixed_interval_factor, const std::string& reference_duration,
             const std::vector<std::string>& dist, const std::vector<std::string>& methods,
             double confidence, unsigned threads, bool profiles) {
  if (times.ndim() != 1 || depths.ndim() != 1 || times.size() != depths.size())
    throw py::value_error("times and depths must be 1-D and of one length");
  IdfOptions o;
  for (const std::string& d : durations) o.durations.push_back(duration_of(d, "durations"));
  if (o.durations.empty()) o.durations = default_durations();
  std::sort(o.durations.begin(), o.durations.end());
  if (!step.empty()) o.step = duration_of(step, "step");
  o.reference_hours = static_cast<double>(duration_of(reference_duration, "reference_duration")) / 3600;
  if (!stats::parse_block(block, o.block) || o.block.kind == stats::BlockKind::Month)
    throw py::value_error("block: 'year' or 'water-year[:MONTH]' expected");
  if (!(min_coverage >= 0 && min_coverage <= 1)) throw py::value_error("min_coverage must be in [0, 1]");
  o.block.min_coverage = min_coverage;
  if (!(fixed_interval_factor > 0 && std::isfinite(fixed_interval_factor)))
    throw py::value_error("fixed_interval_factor must be a positive number");
  o.fixed_interval_factor = fixed_interval_factor;
  FitOptions& f = o.fit;
  f.ls = f.mle = f.lmom = f.gumbel = f.gev = false;
  for (const std::string& m : methods) {
    if (m == "mle") f.mle = true;
    else if (m == "lmom") f.lmom = true;
    else throw py::value_error("methods: '" + m + "' is not mle or lmom");
  }
  for (const std::string& d : dist) {
    if (d == "gumbel") f.gumbel = true;
    else if (d == "gev") f.gev = true;
    else throw py::value_error("dist: '" + d + "' is not gumbel or gev");
  }
  for (const double t : periods)
    if (!(t > 1) || !std::isfinite(t)) throw py::value_error("return periods must be finite and greater than 1");
  f.periods = periods;
  f.confidence = confidence;
  f.profiles = profiles;
  f.gev_gof_p = false;
  f.threads = threads == 0 ? std::max(1u, std::thread::hardware_concurrency()) : threads;
  if (std::string why = check_options(f); !why.empty()) throw py::value_error(why);
  Series series;
  const std::int64_t* t = times.data();
  const double* v = depths.data();
  const auto n = static_cast<std::size_t>(times.size());
  for (std::size_t i = 1; i < n; ++i)
    if (!(t[i] > t[i - 1])) throw py::value_error("times must be strictly ascending");
  series.time.resize(n);
  series.value.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    series.time[i] = t[i];
    series.value[i] = v[i];
    series.n_missing += std::isnan(v[i]);
  }
  IdfResult r;
  {
    py::gil_scoped_release unlocked;
    r = idf_series(series, false, o, "");
  }
  if (!r.ok) {
    const std::string prefix = ": ";
    const std::size_t at = r.error.find(prefix);
    throw py::value_error(at == 0 ? r.error.substr(prefix.size()) : r.error);
  }
  nlohmann::ordered_json j = cli::idf_json(r);
  j.erase("file");
  return json_object(j).cast<py::dict>();
}

}  // namespace

void add_idf(py::module_& m) {
  using namespace pybind11::literals;
  m.def("idf", &idf, "times"_a, "depths"_a, "durations"_a, "periods"_a, "block"_a, "min_coverage"_a,
        "step"_a, "fixed_interval_factor"_a, "reference_duration"_a, "dist"_a, "methods"_a,
        "confidence"_a, "threads"_a, "profiles"_a,
        "The intensity-duration-frequency analysis of one record (see korvalinde.idf).");
}

}  // namespace korvalinde::python
