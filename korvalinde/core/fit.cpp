#include "korvalinde/core/fit.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "korvalinde/core/family_fit.hpp"
#include "korvalinde/core/histogram.hpp"
#include "korvalinde/core/lsfit.hpp"
#include "korvalinde/core/model.hpp"
#include "korvalinde/stats/analyze.hpp"
#include "korvalinde/stats/bootstrap.hpp"
#include "korvalinde/stats/estimate.hpp"
#include "korvalinde/stats/gof_limit.hpp"
#include "korvalinde/stats/gof_null.hpp"
#include "korvalinde/detail/reduce.hpp"
#include "korvalinde/detail/sort.hpp"
#include "korvalinde/dist/gev.hpp"
#include "korvalinde/dist/normal.hpp"
#include "korvalinde/stats/gev.hpp"
#include "korvalinde/stats/gev_lmom.hpp"

namespace korvalinde {
namespace {

constexpr double kLargest = std::numeric_limits<double>::max();

// The index of the first value that is not finite, or the count: blocks
// scanned without branches on the threads, the first bad block again.
std::size_t first_not_finite(std::span<const double> values, unsigned threads) {
  struct First {
    std::size_t at = SIZE_MAX;
    void merge(const First& o) { at = std::min(at, o.at); }
  };
  const First f = detail::block_reduce<First>(
      values.size(), threads, [&](std::size_t i, std::size_t end, First& r) {
        if (r.at != SIZE_MAX) return;
        bool bad = false;
        for (std::size_t j = i; j < end; ++j) bad |= !(std::fabs(values[j]) <= kLargest);
        if (!bad) return;
        while (std::isfinite(values[i])) ++i;
        r.at = i;
      });
  return std::min(f.at, values.size());
}

FitResult failure(FitResult r, std::string message) {
  r.ok = false;
  r.error = std::move(message);
  return r;
}

// Runs the bootstrap of one method with the given refit.
void add_bootstrap(MethodResult& m, const stats::Refit& refit, std::size_t n,
                   const FitOptions& o) {
  m.boot = stats::bootstrap(m.a, m.b, m.gof, refit, stats::bootstrap_plan(n, o));
}

// The same for a GEV method that has a result.
void add_gev_bootstrap(GevMethodResult& m, const stats::GevRefit& refit, std::size_t n,
                       const FitOptions& o) {
  if (!m.error.empty()) return;
  m.boot = stats::bootstrap_gev({m.loc, m.scale, m.shape}, m.gof, refit, stats::bootstrap_plan(n, o));
}

// A method's fit that can lead: it has a result and its support holds
// every observation (an L-moment fit can bound the sample inside its range).
template <class M>
bool can_lead(const M& m) {
  if (!m.present || !m.error.empty()) return false;
  if constexpr (requires { m.outside_support; }) return m.outside_support == 0;
  return true;
}

// Calls f(mle, lmom) with the two method records of the GEV or of a further
// family that was fitted; false when `dist` has none.
template <class F>
bool visit_methods(const FitResult& r, std::string_view dist, F&& f) {
  if (dist == "gev") {
    f(r.gev.mle, r.gev.lmom);
    return true;
  }
  if (!is_family(dist) || !r.families) return false;
  for (const FamilyResult& x : r.families->fits) {
    if (x.dist == dist) {
      f(x.mle, x.lmom);
      return true;
    }
  }
  return false;
}

// The first method of the family whose fit can lead, or empty.
std::string lead_method(const FitResult& r, std::string_view dist) {
  std::string m;
  visit_methods(r, dist, [&m](const auto& mle, const auto& lmom) {
    m = can_lead(mle) ? "mle" : can_lead(lmom) ? "lmom" : "";
  });
  if (dist == "gev" || is_family(dist)) return m;
  return can_lead(r.mle) ? "mle" : can_lead(r.lmom) ? "lmom" : can_lead(r.ls) ? "ls" : "";
}

// Why family `dist` cannot lead: no result, or fits that leave observations
// outside their support.
std::string no_lead_reason(const FitResult& r, const std::string& dist) {
  bool outside = false;
  visit_methods(r, dist, [&outside](const auto& mle, const auto& lmom) {
    auto bounded = [](const auto& m) { return m.present && m.error.empty() && m.outside_support > 0; };
    outside = bounded(mle) || bounded(lmom);
  });
  return "the " + family_title(dist) + (outside ? "'s fit leaves observations outside its support" : " has no result");
}

// The return period of `level` under each GEV fit that has a result.
void add_gev_level(GevResult& g, double level) {
  for (GevMethodResult* m : {&g.mle, &g.lmom}) {
    if (!m->present || !m->error.empty()) continue;
    m->level = level;
    m->level_period = 1 / dist::sf({m->loc, m->scale, m->shape}, level);
  }
}

}  // namespace

Headline choose_headline(const FitResult& r, const FitOptions& o) {
  std::vector<std::string> order = o.order;
  if (order.empty()) {
    if (o.gumbel) order.push_back("gumbel");
    if (o.gev) order.push_back("gev");
  }
  Headline h;
  const GumbelTestResult& t = r.gumbel_test;
  const auto gumbel = std::find(order.begin(), order.end(), "gumbel");
  const auto gev = std::find(order.begin(), order.end(), "gev");
  if (t.present && t.error.empty() && t.p < 0.05 && gev != order.end() && gumbel < gev &&
      !lead_method(r, "gev").empty()) {
    std::rotate(gumbel, gev, gev + 1);
    h.reason = "the Gumbel check rejects the Gumbel";
  }
  // A family asked for without a result gives way to the next, and at last
  // to the Gumbel, which is fitted whenever the sample is.
  order.push_back("gumbel");
  for (const std::string& d : order) {
    h.method = lead_method(r, d);
    if (h.method.empty()) continue;
    h.dist = d;
    if (d != order.front()) h.reason = no_lead_reason(r, order.front());
    return h;
  }
  return {};
}

std::string check_options(const FitOptions& o) {
  if (o.bins < 1 || o.bins > kMaxBinsFit) return "bins must be 1 to " + std::to_string(kMaxBinsFit);
  if (!(o.prob > 0 && o.prob <= 1)) return "probability must be in (0, 1]";
  for (const double t : o.periods) {
    if (!(t > 1) || !std::isfinite(t)) return "return periods must be finite and greater than 1";
  }
  if (o.level && !std::isfinite(*o.level)) return "the level must be finite";
  if (o.bootstrap < 0) return "bootstrap replicates must not be negative";
  if (!(o.confidence > 0 && o.confidence < 1)) return "the confidence must be in (0, 1)";
  if (!o.ls && !o.mle && !o.lmom) return "no method chosen";
  if (!o.gumbel && !o.gev && std::none_of(o.order.begin(), o.order.end(), [](const std::string& d) { return is_family(d); }))
    return "no distribution chosen";
  return {};
}

FitResult fit_sample(std::span<const double> values, const FitOptions& options,
                     std::string_view name, FitDetail* detail) {
  std::vector<double> copy(values.begin(), values.end());
  return fit_sample_sorting(copy, options, name, detail);
}

FitResult fit_sample_sorting(std::span<double> values, const FitOptions& options,
                             std::string_view name, FitDetail* detail) {
  FitResult r;
  r.file = std::string(name);
  r.n = values.size();
  r.bins = options.bins;
  r.confidence = options.confidence;
  if (std::string why = check_options(options); !why.empty()) return failure(r, why);
  if (const std::size_t i = first_not_finite(values, options.threads); i < values.size())
    return failure(r, "value " + std::to_string(i + 1) + " is not finite");
  if (values.size() < 2) {
    return failure(r, "too few values: " + std::to_string(values.size()) +
                          " (at least 2 are needed)");
  }
  // The histogram's counts and extremes do not depend on the order, so the
  // least-squares fit is the same on the sorted sample.
  detail::radix_sort(values, options.threads);
  const std::span<const double> sorted = values;
  r.min = sorted.front();
  r.max = sorted.back();

  // The histogram serves the least-squares fit, the chi-square and the
  // picture; without them only its width and cell count are reported.
  const bool cells = options.ls || options.gof || detail != nullptr;
  LsWorkspace ws;
  const LsFit ls = cells ? fit_ls(sorted, options.bins, ws, options.ls, true)
                         : ls_binning(sorted, options.bins, true);
  if (ls.status == LsFit::Status::NoRange) {
    return failure(r, r.min == r.max ? "all values are equal: no distribution to fit"
                                     : "the values have no usable range for " +
                                           std::to_string(options.bins) + " bins");
  }
  r.width = ls.dx;
  r.m = ls.m;

  const stats::Analysis in{sorted, {ls.minimum, ls.dx, {ws.raw.data(), cells ? std::size_t(ls.m) : 0}},
                           options.prob, options.periods, options.level, options.threads,
                           dist::normal_two_sided(options.confidence), options.gof};
  const double crit = dist::chi2_1_quantile(options.confidence);
  const int bins = options.bins;
  const stats::Refit ls_refit = [bins](std::span<const double> s, double& a, double& b) {
    LsWorkspace w;
    const LsFit f = fit_ls(s, bins, w, true, true);  // refits get sorted samples
    a = f.a;
    b = f.b;
    return f.status == LsFit::Status::Ok;
  };
  std::vector<stats::GofMethod> gof_methods;  // the p-values of D, W^2 and A^2
  if (options.ls && ls.status == LsFit::Status::SolverFailed) {
    r.ls.present = true;
    r.ls.info = ls.info;
    r.ls.error = "least-squares fit failed: solver code " + std::to_string(ls.info);
  } else if (options.ls) {
    MethodResult& m = r.ls;
    m.present = true;
    m.info = ls.info;
    m.nfev = ls.nfev;
    m.sum_sq = ls.sum_sq;
    m.l2 = ls.l2;
    m.serror = ls.serror;
    m.rerror = ls.rerror;
    stats::analyze_method(in, ls.a, ls.b, stats::ls_covariance(ls.x, ls.y, ls.a, ls.b), m);
    if (options.bootstrap > 0) add_bootstrap(m, ls_refit, sorted.size(), options);
    gof_methods.push_back({ls_refit, &m.gof, static_cast<int>(Method::ls)});
  }
  if (options.mle) {
    const stats::Estimation e = stats::fit_mle(sorted, options.threads);
    MethodResult& m = r.mle;
    m.present = true;
    if (!e.ok) {
      m.error = e.error;
    } else {
      m.loglik = e.loglik;
      m.iterations = e.iterations;
      stats::analyze_method(in, e.a, e.b, e.cov, m);
      if (options.profiles && options.gumbel) stats::add_gumbel_profiles(in, e.loglik, crit, m);
      if (options.bootstrap > 0) add_bootstrap(m, stats::refit_mle, sorted.size(), options);
      gof_methods.push_back({stats::refit_mle, &m.gof, static_cast<int>(Method::mle)});
      // The Gumbel check: the GEV by maximum likelihood and the likelihood ratio.
      const stats::GevEstimate g = stats::fit_gev_mle(sorted, options.threads);
      GumbelTestResult& t = r.gumbel_test;
      t.present = true;
      if (g.ok) {
        const stats::GumbelTest lr = stats::gumbel_test(g.loglik, e.loglik);
        t.statistic = lr.statistic;
        t.df = lr.df;
        t.p = lr.p;
      } else {
        t.error = g.error;
      }
      if (options.gev) {
        stats::analyze_gev(in, g, options.profiles ? crit : 0, r.gev.mle);
        if (options.bootstrap > 0) add_gev_bootstrap(r.gev.mle, stats::refit_gev_mle, sorted.size(), options);
        t.shape = r.gev.mle.shape_interval;
      } else if (g.ok) {
        t.shape.value = g.d.shape;
        if (std::isfinite(g.cov[2][2])) {
          t.shape.se = std::sqrt(g.cov[2][2]);
          t.shape.lower = t.shape.value - in.z * t.shape.se;
          t.shape.upper = t.shape.value + in.z * t.shape.se;
        }
        if (options.profiles) t.shape.profile = stats::gev_shape_profile(g, crit);
      }
    }
  }
  if (options.gev && options.lmom) {
    stats::analyze_gev(in, options.se ? stats::fit_gev_lmom_with_errors(sorted) : stats::fit_gev_lmom(sorted),
                       0, r.gev.lmom);
    if (options.bootstrap > 0) add_gev_bootstrap(r.gev.lmom, stats::refit_gev_lmom, sorted.size(), options);
  }
  if (options.lmom) {
    const stats::Estimation e = stats::fit_lmom(sorted);
    MethodResult& m = r.lmom;
    m.present = true;
    if (!e.ok) {
      m.error = e.error;
    } else {
      stats::analyze_method(in, e.a, e.b, options.se ? e.cov : stats::Covariance{}, m);
      if (options.bootstrap > 0) add_bootstrap(m, stats::refit_lmom, sorted.size(), options);
      gof_methods.push_back({stats::refit_lmom, &m.gof, static_cast<int>(Method::lmom)});
    }
  }
  const stats::GofNullPlan gof_plan{sorted.size(), options.seed, options.threads,
                                    stats::kGofReplicates, options.gof_null_cache};
  if (options.gof_p && options.gof_p_limit) {
    for (const stats::GofMethod& m : gof_methods) stats::limit_gof_p_values(sorted.size(), *m.gof);
  } else if (options.gof_p && options.gof) {
    stats::gof_p_values(gof_methods, gof_plan);
  }
  if (options.gev_gof_p && options.gof_p_limit) {
    for (GevMethodResult* g : {&r.gev.mle, &r.gev.lmom}) {
      if (g->present && g->error.empty()) stats::limit_gof_p_values(sorted.size(), g->gof);
    }
  } else if (options.gev_gof_p && options.gof) {
    std::vector<stats::GevGofMethod> gev_methods;
    for (const auto& [g, refit] : {std::pair{&r.gev.mle, &stats::refit_gev_mle},
                                   std::pair{&r.gev.lmom, &stats::refit_gev_lmom}}) {
      if (g->present && g->error.empty())
        gev_methods.push_back({refit, {g->loc, g->scale, g->shape}, &g->gof});
    }
    stats::gev_gof_p_values(gev_methods, gof_plan);
  }
  // A method fails alone; the file fails when every method asked for did.
  const MethodResult* const methods[] = {&r.ls, &r.mle, &r.lmom};
  if (std::all_of(std::begin(methods), std::end(methods),
                  [](const MethodResult* m) { return !m->present || !m->error.empty(); })) {
    for (const MethodResult* m : methods) {
      if (m->present) return failure(r, m->error);
    }
  }
  if (options.level) add_gev_level(r.gev, *options.level);
  std::vector<std::string> further;
  for (const std::string& d : options.order) {
    if (is_family(d) && std::find(further.begin(), further.end(), d) == further.end()) further.push_back(d);
  }
  if (!further.empty()) {
    FamilyFitOptions fo;
    fo.mle = options.mle;
    fo.lmom = options.lmom;
    fo.prob = options.prob;
    fo.periods = options.periods;
    fo.level = options.level;
    fo.z = in.z;
    fo.threads = options.threads;
    // Simulated at each fit, as the GEV's; none from the limit laws.
    fo.gof_p = options.gof_p && options.gev_gof_p && !options.gof_p_limit;
    fo.se = options.se;
    fo.gof = options.gof;
    fo.seed = options.seed;
    fo.profiles = options.profiles;
    fo.confidence = options.confidence;
    fo.bootstrap = options.bootstrap;
    fo.interrupted = options.interrupted;
    auto families = std::make_shared<FamiliesResult>(fit_families(sorted, further, fo));
    // Without goodness of fit the comparison's AIC and L-moment distances
    // stand, its EDF columns are NaN.
    if (options.compare) compare_families(r, options.order, *families);
    r.families = std::move(families);
  }
  r.headline = choose_headline(r, options);
  if (detail != nullptr) {
    detail->centres.assign(ls.x.begin(), ls.x.end());
    detail->densities.assign(ls.y.begin(), ls.y.end());
    detail->minimum = ls.minimum;
    detail->dx = ls.dx;
    detail->sorted.assign(sorted.begin(), sorted.end());
  }
  r.ok = true;
  return r;
}

}  // namespace korvalinde
