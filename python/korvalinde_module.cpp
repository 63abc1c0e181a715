// The Python module `korvalinde` over the fitting core: fit() fits one sample
// and returns its record as a dict, key for key the command line's JSON;
// fit_many() fits every 1-D slice of an array on the library's threads and
// returns NumPy arrays.
// Both release the GIL while they compute.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "korvalinde/core/family_fit.hpp"
#include "korvalinde/core/fit.hpp"
#include "korvalinde/detail/parallel.hpp"
#include "korvalinde/stats/gof_null.hpp"
#include "korvalinde/stats/lmoments.hpp"
#include "idf_module.hpp"
#include "region_module.hpp"
#include "nonstationary_module.hpp"
#include "record_dict.hpp"
#include "statistics.hpp"

namespace py = pybind11;

namespace {

using korvalinde::FitOptions;
using korvalinde::FitResult;
using korvalinde::python::Axis;

// As on the command line: the histogram least-squares fit on request.
const std::vector<std::string> kDefaultMethods{"mle", "lmom"};
const std::vector<double> kDefaultPeriods{2, 5, 10, 20, 50, 100, 200, 500, 1000};

// The options shared by fit() and fit_many(), checked before any fit (with the
// command line's messages) so that fit_many() reports a bad option once
// instead of failing every slice.
FitOptions make_options(std::int64_t bins, double prob, const std::vector<std::string>& methods,
                        std::vector<double> periods, std::optional<double> level,
                        double confidence, int bootstrap = 0,
                        const std::vector<std::string>& dists = {}) {
  FitOptions o;
  for (const std::string& d : dists) {
    if (d != "gumbel" && d != "gev" && !korvalinde::is_family(d))
      throw py::value_error("dist: '" + d + "' is not a distribution");
  }
  o.order = dists;
  // Beyond int, bins are out of range all the same: 0 gets the same message.
  o.bins = bins < 1 || bins > std::numeric_limits<int>::max() ? 0 : static_cast<int>(bins);
  o.prob = prob;
  o.ls = o.mle = o.lmom = false;
  for (const std::string& m : methods) {
    if (m == "ls") {
      o.ls = true;
    } else if (m == "mle") {
      o.mle = true;
    } else if (m == "lmom") {
      o.lmom = true;
    } else {
      throw py::value_error("unknown method '" + m + "' (choose from ls, mle, lmom)");
    }
  }
  o.periods = std::move(periods);
  o.level = level;
  o.bootstrap = bootstrap;
  o.confidence = confidence;
  if (std::string why = korvalinde::check_options(o); !why.empty()) throw py::value_error(why);
  return o;
}

unsigned thread_count(int threads) {
  if (threads < 0) throw py::value_error("threads must be 0 (all cores) or more");
  // More than four threads a core gain nothing and only spend memory that the
  // fits need; the results never depend on the count.
  const unsigned most = 4 * korvalinde::detail::default_threads();
  return threads == 0 ? korvalinde::detail::default_threads()
                      : std::min(static_cast<unsigned>(std::min(threads, 1 << 20)), most);
}

// Polled while a call computes with the GIL released: the calling thread
// looks for signals (Ctrl-C) a few times a second; once one is pending every
// thread stops, and rethrow() raises it.
class SignalWatch {
 public:
  bool operator()() {
    if (stop_.load(std::memory_order_relaxed)) return true;
    if (std::this_thread::get_id() != caller_) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now < next_) return false;
    next_ = now + std::chrono::milliseconds(100);
    const py::gil_scoped_acquire locked;
    if (PyErr_CheckSignals() != 0) {
      error_ = std::make_exception_ptr(py::error_already_set());
      stop_ = true;
    }
    return stop_;
  }
  void rethrow() const {
    if (error_) std::rethrow_exception(error_);
  }

 private:
  std::thread::id caller_ = std::this_thread::get_id();
  std::chrono::steady_clock::time_point next_ = std::chrono::steady_clock::now();
  std::atomic<bool> stop_{false};
  std::exception_ptr error_;
};

// A double array of any input: NumPy float64 C-contiguous arrays are taken as
// they are, anything else is converted (one copy). Complex numbers are
// refused rather than cut to their real parts; a masked array's masked
// values become NaN, that is missing.
using DoubleArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

py::array as_real_array(py::handle x, const std::string& what) {
  const py::module_ np = py::module_::import("numpy");
  py::object a = py::reinterpret_borrow<py::object>(x);
  const bool masked = np.attr("ma").attr("isMaskedArray")(a).cast<bool>();
  if (!py::isinstance<py::array>(a)) {
    try {
      a = np.attr("asarray")(a);
    } catch (const py::error_already_set&) {
      throw py::type_error(what + " must be an array of numbers");
    }
  }
  const char kind = py::array(a).dtype().kind();
  if (kind == 'c') throw py::type_error(what + " must be real, not complex");
  if (kind != 'f' && kind != 'i' && kind != 'u' && kind != 'b' && kind != 'O') {
    throw py::type_error(what + " must be an array of numbers, not of dtype " +
                         py::str(py::array(a).dtype()).cast<std::string>());
  }
  if (masked) {
    a = np.attr("ma").attr("filled")(a.attr("astype")(np.attr("float64")),
                                      std::numeric_limits<double>::quiet_NaN());
  }
  py::array out = py::array_t<double, py::array::forcecast>::ensure(a);
  if (!out) {
    PyErr_Clear();
    throw py::type_error(what + " must be an array of numbers");
  }
  return out;
}

DoubleArray as_doubles(py::handle x, const std::string& what) {
  DoubleArray a = DoubleArray::ensure(x);
  if (!a) {
    PyErr_Clear();
    throw py::type_error(what + " must be an array of numbers");
  }
  return a;
}

// The sample L-moments of x (NaN left out with skipna) up to order nmom.
py::dict lmoments(const py::object& x, int nmom, bool skipna) {
  if (nmom < 1 || nmom > 5) throw py::value_error("nmom must be 1 to 5");
  const DoubleArray a = as_doubles(as_real_array(x, "x"), "x");
  if (a.ndim() != 1) throw py::value_error("x must be one-dimensional");
  std::vector<double> v;
  for (py::ssize_t i = 0; i < a.shape(0); ++i) {
    const double value = a.data()[i];
    if (skipna && std::isnan(value)) continue;
    if (!std::isfinite(value)) throw py::value_error("value " + std::to_string(i + 1) + " is not finite");
    v.push_back(value);
  }
  std::sort(v.begin(), v.end());
  const korvalinde::stats::SampleLmoments s = korvalinde::stats::sample_lmoments(v);
  return korvalinde::python::lmoments_dict({true, s.l1, s.l2, s.t, s.t3, s.t4, s.t5}, nmom);
}

// The values of one sample to fit: with skipna its NaNs are left out; fewer
// than min_count values fail the sample.
FitResult fit_values(std::span<const double> values, const FitOptions& o, bool skipna,
                     std::size_t min_count, std::string_view name) {
  std::vector<double> kept;
  kept.reserve(values.size());
  for (const double v : values) {
    if (!skipna || !std::isnan(v)) kept.push_back(v);
  }
  if (kept.size() < min_count) {
    FitResult r;
    r.file = std::string(name);
    r.n = kept.size();
    r.error = "too few values: " + std::to_string(kept.size()) + " (min_count is " +
              std::to_string(min_count) + ")";
    return r;
  }
  return korvalinde::fit_sample_sorting(kept, o, name);
}

std::size_t check_min_count(std::int64_t min_count) {
  if (min_count < 0) throw py::value_error("min_count must not be negative");
  return static_cast<std::size_t>(min_count);
}

// Laws of the p-values kept between calls of fit, one cache per bin count
// (the least-squares refit depends on it; nothing else of the options does).
// Bounded: a cache that grows past kKeptLaws laws starts again, and past
// kKeptCaches bin counts the others go uncached. Caches live as long as the
// process, since other threads' fits may be using them.
korvalinde::stats::GofNullCache* kept_null_laws(std::int64_t bins) {
  constexpr std::size_t kKeptLaws = 4096, kKeptCaches = 16;  // a law is some 5 KB
  static std::mutex lock;
  static std::map<std::int64_t, std::unique_ptr<korvalinde::stats::GofNullCache>> caches;
  const std::lock_guard guard(lock);
  auto it = caches.find(bins);
  if (it == caches.end()) {
    if (caches.size() >= kKeptCaches) return nullptr;
    it = caches.emplace(bins, std::make_unique<korvalinde::stats::GofNullCache>()).first;
  }
  if (it->second->size() > kKeptLaws) it->second->clear();
  return it->second.get();
}

py::dict fit(const py::object& x, std::int64_t bins, double prob,
             const std::vector<std::string>& methods, std::vector<double> periods, int bootstrap,
             std::uint64_t seed, std::optional<double> level, int threads,
             const std::string& name, bool skipna, std::int64_t min_count, bool gev,
             bool profiles, double confidence, bool gumbel, const std::vector<std::string>& dists) {
  FitOptions o =
      make_options(bins, prob, methods, std::move(periods), level, confidence, bootstrap, dists);
  o.gumbel = gumbel;
  o.gev = gev;
  o.profiles = profiles;
  o.seed = seed;
  o.threads = thread_count(threads);
  o.gof_null_cache = kept_null_laws(bins);
  const std::size_t least = check_min_count(min_count);
  const py::module_ np = py::module_::import("numpy");
  if (!skipna && np.attr("ma").attr("isMaskedArray")(x).cast<bool>() &&
      np.attr("ma").attr("count_masked")(x).cast<std::size_t>() > 0) {
    throw py::value_error("x has masked values: pass skipna=True to leave them out");
  }
  const DoubleArray a = as_doubles(as_real_array(x, "x"), "x");
  if (a.ndim() != 1) {
    throw py::value_error("x must be one-dimensional, not " + std::to_string(a.ndim()) +
                          "-dimensional");
  }
  const std::span<const double> values(a.data(), static_cast<std::size_t>(a.shape(0)));
  SignalWatch watch;
  o.interrupted = [&watch] { return watch(); };
  FitResult r;
  {
    py::gil_scoped_release unlocked;
    r = fit_values(values, o, skipna, least, name);
  }
  watch.rethrow();
  if (!r.ok) korvalinde::python::raise_input_error(r.error, name);
  return korvalinde::python::record_dict(r);
}

// Lays out fit_many's output arrays: one per statistic, shaped like the
// input without its axis, plus the statistic's own axis.
struct Layout {
  std::vector<py::ssize_t> shape;
  std::size_t periods;
  std::vector<std::string> keys;
  std::vector<py::array_t<double>> arrays;
  std::vector<std::size_t> widths;

  template <class F>
  void column(std::string_view prefix, std::string_view name, std::string_view suffix,
              Axis axis, F&&) {
    keys.push_back(std::string(prefix).append(name).append(suffix));
    std::vector<py::ssize_t> s = shape;
    if (axis == Axis::periods) s.push_back(static_cast<py::ssize_t>(periods));
    if (axis == Axis::matrix) s.insert(s.end(), {3, 3});
    widths.push_back(axis == Axis::none ? 1 : axis == Axis::periods ? periods : 9);
    arrays.emplace_back(s);
  }
};

// Writes the statistics of slice i into the arrays laid out.
struct Writer {
  const std::vector<double*>& out;
  const std::vector<std::size_t>& widths;
  std::size_t i;
  std::size_t k = 0;

  template <class F>
  void column(std::string_view, std::string_view, std::string_view, Axis,
              F&& value) {
    const std::size_t w = widths[k];
    double* o = out[k++] + i * w;
    for (std::size_t j = 0; j < w; ++j) o[j] = value(j);
  }
};

py::dict fit_many(const py::object& a, int axis, std::int64_t bins, double prob,
                  const std::vector<std::string>& methods, std::vector<double> periods,
                  int threads, bool skipna, std::int64_t min_count, std::optional<double> level,
                  bool gev, std::uint64_t seed, bool profiles, double confidence,
                  bool gumbel, const std::vector<std::string>& dists, bool gof, bool se) {
  FitOptions o = make_options(bins, prob, methods, std::move(periods), level, confidence, 0, dists);
  o.gumbel = gumbel;
  o.gof = gof;
  o.se = se;
  // No column holds the families' comparison.
  o.compare = false;
  o.gev = gev;
  o.profiles = profiles;
  o.seed = seed;
  // The goodness-of-fit p-values' null laws depend only on the slice's size
  // (the options being the same): simulated once per size for the whole call.
  korvalinde::stats::GofNullCache null_laws;
  o.gof_null_cache = &null_laws;
  // The GEV's p-values are simulated per slice (their law depends on the
  // fitted shape): far too costly for many series, so fit_many leaves them out.
  o.gev_gof_p = false;
  const unsigned workers = thread_count(threads);
  const std::size_t least = check_min_count(min_count);

  // Slices along `axis` become rows of a C-contiguous (N, L) block: no copy
  // when they already are (axis -1 of a float64 C-contiguous array).
  const py::array input = as_real_array(a, "a");
  if (input.ndim() == 0) throw py::value_error("a must have at least one dimension");
  const DoubleArray block =
      as_doubles(py::module_::import("numpy").attr("moveaxis")(input, axis, -1), "a");
  std::vector<py::ssize_t> shape(block.shape(), block.shape() + block.ndim() - 1);
  const std::size_t length = static_cast<std::size_t>(block.shape(block.ndim() - 1));
  std::size_t count = 1;
  for (py::ssize_t s : shape) count *= static_cast<std::size_t>(s);

  // In the order asked for, each method once.
  std::vector<korvalinde::Method> order;
  for (const std::string& m : methods) {
    const korvalinde::Method method = *korvalinde::parse_method(m);
    if (std::find(order.begin(), order.end(), method) == order.end()) order.push_back(method);
  }
  Layout layout{shape, o.periods.size(), {}, {}, {}};
  korvalinde::python::each_statistic(FitResult{}, o, order, layout);
  std::vector<double*> columns;
  for (auto& array : layout.arrays) columns.push_back(array.mutable_data());
  py::array_t<bool> ok(shape);
  bool* ok_out = ok.mutable_data();
  py::array_t<std::int64_t> n(shape);
  std::int64_t* n_out = n.mutable_data();

  const double* data = block.data();
  // A failure (or Ctrl-C) stops the remaining fits; the first failure is
  // raised once all threads are done.
  std::exception_ptr failure;
  std::mutex failure_mutex;
  std::atomic<bool> failed{false};
  SignalWatch watch;
  o.interrupted = [&watch] { return watch(); };
  {
    py::gil_scoped_release unlocked;
    // Runs of consecutive slices to each thread: threads that wrote
    // neighbouring elements of the output arrays would share their cache
    // lines (a few percent slower on two cores).
    const std::size_t run = std::clamp<std::size_t>(count / (8 * workers), 1, 32);
    korvalinde::detail::parallel_for((count + run - 1) / run, workers, [&](std::size_t k) {
      for (std::size_t i = k * run; i < std::min(count, (k + 1) * run); ++i) {
        if (failed.load(std::memory_order_relaxed) || watch()) return;
        try {
          const FitResult r = fit_values({data + i * length, length}, o, skipna, least, {});
          ok_out[i] = r.ok;
          n_out[i] = static_cast<std::int64_t>(r.n);
          Writer writer{columns, layout.widths, i};
          korvalinde::python::each_statistic(r, o, order, writer);
        } catch (...) {
          failed = true;
          const std::lock_guard lock(failure_mutex);
          if (!failure) failure = std::current_exception();
        }
      }
    });
  }
  watch.rethrow();
  if (failure) std::rethrow_exception(failure);

  py::dict result;
  for (std::size_t k = 0; k < layout.keys.size(); ++k)
    result[py::str(layout.keys[k])] = std::move(layout.arrays[k]);
  result["periods"] =
      py::array_t<double>(static_cast<py::ssize_t>(o.periods.size()), o.periods.data());
  result["ok"] = std::move(ok);
  result["n"] = std::move(n);
  return result;
}

}  // namespace

PYBIND11_MODULE(_korvalinde, m) {
  m.doc() = R"doc(Fitting the Gumbel (extreme-value type I) distribution, and the GEV, to samples.

fit(x, ...) fits one sample and returns its full record as a dict;
fit_many(a, axis=-1, ...) fits every 1-D slice of an array on several threads
and returns NumPy arrays of every statistic of that record.)doc";
  m.attr("__version__") = KORVALINDE_VERSION;
  korvalinde::python::add_idf(m);
  korvalinde::python::add_region(m);
  korvalinde::python::add_nonstationary(m);

  using namespace pybind11::literals;
  m.def("fit", &fit, "x"_a, "bins"_a = 50, "prob"_a = 0.99, "methods"_a = kDefaultMethods,
        "periods"_a = kDefaultPeriods, "bootstrap"_a = 0, "seed"_a = 0, "level"_a = py::none(),
        "threads"_a = 0, "name"_a = "", "skipna"_a = false, "min_count"_a = 2, "gev"_a = false,
        "profiles"_a = true, "confidence"_a = 0.95, "gumbel"_a = true,
        "dists"_a = std::vector<std::string>{},
        R"doc(Fit the Gumbel distribution to one sample.

Parameters
----------
x : 1-D array-like of float
    The sample. A float64 C-contiguous NumPy array is read in place; anything
    else is converted first.
bins : int
    Histogram bins of the least-squares fit (1 to 1,000,000).
prob : float
    Probability p of the quantile DPA_CUT = q(p), in (0, 1].
methods : sequence of str
    Any of "ls" (histogram least squares), "mle" (maximum likelihood) and
    "lmom" (L-moments).
periods : sequence of float
    Return periods T of the return levels q(1 - 1/T).
bootstrap : int
    Parametric bootstrap replicates per method (0: none).
seed : int
    Seed of the bootstrap and of the simulated laws of the goodness-of-fit
    p-values; equal seeds give equal results.
level : float or None
    Also give the return period of this level.
threads : int
    Threads of the call (0: all cores); the results do not depend on it.
name : str
    Name recorded under "file".
skipna : bool
    Leave out missing values (NaN, and the masked values of a masked array)
    instead of refusing the sample.
min_count : int
    Fewest values to fit (after leaving out the missing ones).
gev : bool
    Also fit the GEV (by mle and lmom): the record's "gev" object.
profiles : bool
    Give maximum likelihood's profile-likelihood bounds (the costly part).
confidence : float
    Confidence of every interval, in (0, 1).
gumbel : bool
    Give the Gumbel in full. False (with gev) leaves out its profile-likelihood
    bounds: it is still fitted, for the Gumbel check.
dists : sequence of str
    The families in full in the order asked for, as --dist lists them (the
    first with a result leads); with any of glo, gno, pe3, lp3, gpa,
    weibull, kappa, wakeby, exp, normal, lognormal the record has each one's
    object, "lmoments", "comparison", "best_aic" and "best_lmom".

Returns
-------
dict
    The record of the command line's JSON output, key for key: "file", "ok",
    "n", "min", "max", "bins", "width", "m", one dict per method ("ls",
    "mle", "lmom"), "gev", "gumbel_test" and "headline". Undefined numbers
    are None.

Raises
------
ValueError
    When the sample cannot be fitted (too few values, a value that is not
    finite, ...) or an option is out of range, with the command line's message.
TypeError
    When x is not an array of real numbers (complex numbers are refused).

The GIL is released while the fit runs.)doc");

  m.def("lmoments", &lmoments, "x"_a, "nmom"_a = 5, "skipna"_a = false,
        R"doc(The sample L-moments of x from the unbiased probability-weighted moments:
a dict of l1, and up to order nmom (1 to 5) l2 and t = l2 / l1, t3, t4, t5.
A ratio needs as many values as its order (None otherwise).)doc");

  m.def("fit_many", &fit_many, "a"_a, "axis"_a = -1, "bins"_a = 50, "prob"_a = 0.99,
        "methods"_a = kDefaultMethods, "periods"_a = kDefaultPeriods, "threads"_a = 0,
        "skipna"_a = false, "min_count"_a = 2, "level"_a = py::none(), "gev"_a = false, "seed"_a = 0,
        "profiles"_a = true, "confidence"_a = 0.95, "gumbel"_a = true,
        "dists"_a = std::vector<std::string>{}, "gof"_a = true, "se"_a = true,
        R"doc(Fit the Gumbel distribution to every 1-D slice of an array along an axis.

Each slice is fitted exactly as fit() would fit it: the numbers are the same
bit for bit.

Parameters
----------
a : array-like of float, at least 1-D
    The samples; each slice along `axis` is one sample.
axis : int
    The axis that runs through each sample.
bins, prob, methods, periods
    As for fit().
threads : int
    Threads to fit on (0: all cores); the results do not depend on it.
skipna, min_count
    As for fit(): with skipna each slice's missing values are left out.
level : float or None
    Also give m_level_period, the return period of this level.
gev, seed, profiles, confidence, gumbel
    As for fit(). The goodness-of-fit p-values' simulated laws depend only
    on the size of a slice: they are simulated once for each size.
gof, se : bool
    False leaves out every family's goodness of fit (EDF statistics,
    chi-square, p-values), or its standard errors, covariances and delta
    intervals: NaN (chi2_df 0), their cost spared; the parameters and levels
    stay those of the default record.

Returns
-------
dict of numpy.ndarray
    Shaped like `a` without `axis`: "n" (values fitted), "ok" (bool: the
    slice was fitted), "min", "max", "width", "m", and every statistic of
    fit()'s record under its nested keys joined by "_": for each method m,
    m_a, m_b, m_se_a, ..., m_quantile, m_quantile_lower, ..., m_ks, m_ks_p,
    ..., and with a trailing axis over the periods m_rl, m_rl_se,
    m_rl_lower, ...; with mle the Gumbel check gumbel_test_statistic,
    gumbel_test_p, gumbel_test_shape, ...; with gev gev_m_loc, ...,
    gev_m_cov (trailing 3 x 3), gev_m_rl, .... Also "periods". A slice that
    cannot be fitted gives ok False and NaN numbers; it raises nothing.

The GIL is released while the fits run; Ctrl-C stops them (KeyboardInterrupt).)doc");
}
