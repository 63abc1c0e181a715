// region(): the regional frequency analysis of several sites, from their
// samples or from their L-moment summaries, its record returned as the
// command line's JSON object, key for key.
#include "region_module.hpp"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "json_object.hpp"
#include "korvalinde/cli/region_render.hpp"
#include "korvalinde/stats/region.hpp"

namespace py = pybind11;

namespace korvalinde::python {
namespace {

using Array = py::array_t<double, py::array::c_style | py::array::forcecast>;

// Sites from their samples (NaN is missing, as in a file) or, when `summary`
// is given, from its rows n, mean, t, t3, t4, t5.
std::vector<stats::RegionSiteInput> sites_of(const std::vector<std::string>& names,
                                             const std::vector<Array>& samples,
                                             const std::optional<Array>& summary) {
  std::set<std::string> seen;
  for (const std::string& n : names)
    if (!seen.insert(n).second) throw py::value_error("site " + n + " given twice");
  std::vector<stats::RegionSiteInput> sites;
  if (summary) {
    const Array& a = *summary;
    if (a.ndim() != 2 || a.shape(1) != 6 || static_cast<std::size_t>(a.shape(0)) != names.size())
      throw py::value_error("summary: one row of n, mean, t, t3, t4, t5 a site expected");
    for (std::size_t i = 0; i < names.size(); ++i) {
      const double* row = a.data(static_cast<py::ssize_t>(i), 0);
      for (int k = 0; k < 6; ++k)
        if (!std::isfinite(row[k]))
          throw py::value_error("site " + names[i] + ": its summary holds a value that is not finite");
      if (!(row[0] >= 1) || row[0] != std::floor(row[0]) || row[0] > 1e15)
        throw py::value_error("site " + names[i] + ": n must be a positive whole number");
      stats::RegionSiteInput s;
      s.name = names[i];
      s.lm = {static_cast<std::size_t>(row[0]), row[1], row[1] * row[2], row[2], row[3], row[4], row[5]};
      sites.push_back(std::move(s));
    }
    return sites;
  }
  if (samples.size() != names.size()) throw py::value_error("one name a sample expected");
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (samples[i].ndim() != 1) throw py::value_error("site " + names[i] + ": a 1-D sample expected");
    std::vector<double> v;
    const double* x = samples[i].data();
    for (py::ssize_t j = 0; j < samples[i].size(); ++j)
      if (!std::isnan(x[j])) v.push_back(x[j]);
    sites.push_back(stats::region_site(names[i], std::move(v)));
  }
  return sites;
}

py::dict region(const std::vector<std::string>& names, const std::vector<Array>& samples,
                const std::optional<Array>& summary, std::size_t nsim, std::uint64_t seed,
                const std::vector<double>& periods, std::size_t accuracy, double correlation,
                std::size_t min_years, unsigned threads, bool all_curves) {
  stats::RegionOptions o;
  for (const double t : periods)
    if (!(t > 1) || !std::isfinite(t)) throw py::value_error("periods: return periods must be finite and greater than 1");
  if (periods.empty()) throw py::value_error("periods: at least one return period expected");
  if (!(correlation >= 0 && correlation < 1)) throw py::value_error("correlation must be in [0, 1)");
  if (min_years < 5) throw py::value_error("min_years must be at least 5");
  if (nsim > 1000000) throw py::value_error("nsim must be at most 1000000");
  if (accuracy > 100000) throw py::value_error("accuracy must be at most 100000");
  o.periods = periods;
  o.nsim = nsim;
  o.seed = seed;
  o.accuracy = accuracy;
  o.correlation = correlation;
  o.min_years = min_years;
  o.every_curve = all_curves;
  o.threads = threads == 0 ? std::max(1u, std::thread::hardware_concurrency()) : threads;
  const std::vector<stats::RegionSiteInput> sites = sites_of(names, samples, summary);
  RegionResult r;
  std::string why;
  stats::RegionStatus status;
  {
    py::gil_scoped_release unlocked;
    status = stats::analyze_region(sites, o, r, why);
  }
  if (status != stats::RegionStatus::ok) throw py::value_error(why);
  return json_object(cli::region_json(r)).cast<py::dict>();
}

}  // namespace

void add_region(py::module_& m) {
  using namespace pybind11::literals;
  m.def("region", &region, "names"_a, "samples"_a, "summary"_a, "nsim"_a, "seed"_a, "periods"_a,
        "accuracy"_a, "correlation"_a, "min_years"_a, "threads"_a, "all_curves"_a,
        "The regional frequency analysis of several sites (see korvalinde.region).");
}

}  // namespace korvalinde::python
