#include "korvalinde/core/family_fit.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>
#include <type_traits>
#include <vector>

#include "korvalinde/detail/random.hpp"
#include "korvalinde/detail/sum.hpp"
#include "korvalinde/dist/exponential.hpp"
#include "korvalinde/dist/gev.hpp"
#include "korvalinde/dist/glo.hpp"
#include "korvalinde/dist/gno.hpp"
#include "korvalinde/dist/gpa.hpp"
#include "korvalinde/dist/gumbel.hpp"
#include "korvalinde/dist/kappa.hpp"
#include "korvalinde/dist/lmoment_curves.hpp"
#include "korvalinde/dist/lognormal.hpp"
#include "korvalinde/dist/lp3.hpp"
#include "korvalinde/dist/normal.hpp"
#include "korvalinde/dist/pe3.hpp"
#include "korvalinde/dist/wakeby.hpp"
#include "korvalinde/dist/weibull.hpp"
#include "korvalinde/stats/bootstrap.hpp"
#include "korvalinde/stats/family_mle.hpp"
#include "korvalinde/stats/lmoment_diagram.hpp"
#include "korvalinde/stats/lmoments.hpp"

namespace korvalinde {
namespace {

// How a family's parameters are named: its free parameters in the order of
// the value type's fields, and every name they go by (a field and a sign).
struct Name {
  const char* name;
  int field;
  double sign = 1;
};
struct Layout {
  std::vector<std::string> free;
  std::vector<Name> names;
  bool shaped;  // has a shape whose tau4 follows from tau3 (the L-moment distance)
};

const Layout kLocScaleShape{{"loc", "scale", "shape"}, {{"loc", 0}, {"scale", 1}, {"shape", 2}}, true};
const Layout kMoments{{"mean", "sd", "skew"},
                      {{"loc", 0}, {"scale", 1}, {"shape", 2}, {"mean", 0}, {"sd", 1}, {"skew", 2}},
                      true};
const Layout kKappa{{"loc", "scale", "k", "h"},
                    {{"loc", 0}, {"scale", 1}, {"shape", 2, -1}, {"k", 2}, {"h", 3}},
                    false};
const Layout kWakeby{{"xi", "alpha", "beta", "gamma", "delta"},
                     {{"loc", 0}, {"xi", 0}, {"alpha", 1}, {"beta", 2}, {"gamma", 3}, {"delta", 4}},
                     false};
const Layout kLocScale{{"loc", "scale"}, {{"loc", 0}, {"scale", 1}}, false};
const Layout kMeanSd{{"mean", "sd"}, {{"loc", 0}, {"scale", 1}, {"mean", 0}, {"sd", 1}}, false};
const Layout kLogs{{"meanlog", "sdlog"}, {{"meanlog", 0}, {"sdlog", 1}}, false};

const Layout& layout(const dist::Glo&) { return kLocScaleShape; }
const Layout& layout(const dist::Gno&) { return kLocScaleShape; }
const Layout& layout(const dist::Gpa&) { return kLocScaleShape; }
const Layout& layout(const dist::Weibull&) { return kLocScaleShape; }
const Layout& layout(const dist::Pe3&) { return kMoments; }
const Layout& layout(const dist::Lp3&) { return kMoments; }
const Layout& layout(const dist::Kappa&) { return kKappa; }
const Layout& layout(const dist::Wakeby&) { return kWakeby; }
const Layout& layout(const dist::Exponential&) { return kLocScale; }
const Layout& layout(const dist::Normal&) { return kMeanSd; }
const Layout& layout(const dist::Lognormal&) { return kLogs; }

// Every value type here is its parameters, doubles in the order of `free`.
template <class D>
constexpr std::size_t kFields = sizeof(D) / sizeof(double);

template <class D>
std::array<double, kFields<D>> fields(const D& d) {
  static_assert(std::is_trivially_copyable_v<D> && sizeof(D) == kFields<D> * sizeof(double));
  return std::bit_cast<std::array<double, kFields<D>>>(d);
}
template <class D>
D from_fields(const std::array<double, kFields<D>>& v) {
  return std::bit_cast<D>(v);
}

// The sample's L-moments as a fit of family D takes them (the LP3 those of
// the log10 values).
template <class D>
const stats::SampleLmoments* sample_for(const stats::SampleLmoments& raw, const stats::SampleLmoments* logs) {
  if constexpr (std::is_same_v<D, dist::Lp3>) return logs;
  return &raw;
}

template <class D>
double log_likelihood(const D& d, std::span<const double> sorted) {
  detail::Sum s;
  for (const double x : sorted) s.add(log_pdf(d, x));
  return s.value();
}

// {ln F, ln(1 - F)}: in one go where the family computes both at once.
template <class D>
dist::special::LogPQ log_cdf_sf(const D& d, double x) {
  if constexpr (requires { dist::log_cdf_sf(d, x); }) return dist::log_cdf_sf(d, x);
  else return {log_cdf(d, x), log_sf(d, x)};
}

// Kolmogorov-Smirnov D, Cramer-von Mises W^2 and Anderson-Darling A^2 from
// ln F and ln(1 - F) of each value, floored at the log of the smallest double.
template <class D>
void edf_gof(const D& d, std::span<const double> sorted, Gof& gof) {
  const auto n = static_cast<double>(sorted.size());
  double dmax = 0;
  detail::Sum w2, ad;
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    const double id = static_cast<double>(i + 1);
    const dist::special::LogPQ l = log_cdf_sf(d, sorted[i]);
    const double lf = std::max(l.p, dist::kLogTiny), ls = std::max(l.q, dist::kLogTiny);
    const double f = std::exp(lf);
    dmax = std::max({dmax, id / n - f, f - (id - 1) / n});
    const double e = f - (2 * id - 1) / (2 * n);
    w2.add(e * e);
    ad.add((2 * id - 1) * lf + (2 * (n - id) + 1) * ls);
  }
  if (!std::isfinite(dmax) || !std::isfinite(ad.value())) return;
  gof.ks = dmax;
  gof.cvm = 1 / (12 * n) + w2.value();
  gof.ad = -n - ad.value() / n;
}

// A value with its delta-method error from the covariance of the free
// parameters and its gradient in them.
template <std::size_t k>
Estimate gradient_estimate(double value, const std::array<double, k>& grad,
                           const std::vector<std::vector<double>>& cov, double z) {
  Estimate e;
  e.value = value;
  double var = 0;
  for (std::size_t i = 0; i < k; ++i) {
    for (std::size_t j = 0; j < k; ++j) var += grad[i] * cov[i][j] * grad[j];
  }
  if (!(var >= 0) || !std::isfinite(var)) return e;
  e.se = std::sqrt(var);
  e.lower = e.value - z * e.se;
  e.upper = e.value + z * e.se;
  return e;
}

// The quantile at lower probability p (upper with `upper`) with its error:
// from the family's analytic gradient where it has one, else by central
// differences of the quantile; only the value without a covariance.
template <class D>
Estimate level_estimate(const D& d, const std::vector<std::vector<double>>& cov, double z, double p,
                        bool upper) {
  const auto q = [&](const D& e) { return upper ? quantile_complement(e, p) : quantile(e, p); };
  constexpr std::size_t k = kFields<D>;
  Estimate only;
  if (cov.size() != k) {
    only.value = q(d);
    return only;
  }
  if constexpr (requires { dist::quantile_gradient(d, p, upper); }) {
    const auto g = dist::quantile_gradient(d, p, upper);
    if (g.ok) return gradient_estimate(g.x, g.grad, cov, z);
  }
  const double value = q(d);
  if (!std::isfinite(value)) {
    only.value = value;
    return only;
  }
  const std::array<double, k> theta = fields(d);
  std::array<double, k> grad{};
  for (std::size_t i = 0; i < k; ++i) {
    const double h = 1e-6 * std::max(1.0, std::fabs(theta[i]));
    std::array<double, k> up = theta, down = theta;
    up[i] += h;
    down[i] -= h;
    grad[i] = (q(from_fields<D>(up)) - q(from_fields<D>(down))) / (2 * h);
  }
  return gradient_estimate(value, grad, cov, z);
}

// Fills a method's record from the fitted distribution: named parameters,
// DPA_CUT quantile, return levels and goodness of fit.
template <class D>
void describe(const D& d, const std::vector<std::vector<double>>& cov, std::span<const double> sorted,
              const FamilyFitOptions& o, FamilyMethodResult& m) {
  const Layout& l = layout(d);
  const auto v = fields(d);
  for (const Name& nm : l.names) {
    FamilyParameter p{nm.name, nm.sign * v[static_cast<std::size_t>(nm.field)]};
    const auto f = static_cast<std::size_t>(nm.field);
    if (cov.size() == v.size() && cov[f][f] >= 0) p.se = std::sqrt(cov[f][f]);
    m.params.push_back(std::move(p));
  }
  m.free = l.free;
  m.cov = cov;
  m.prob = o.prob;
  m.quantile = level_estimate(d, cov, o.z, o.prob, false);
  m.return_levels.reserve(o.periods.size());
  for (const double t : o.periods) {
    m.return_levels.push_back({t, level_estimate(d, cov, o.z, 1 / t, true)});
  }
  if (o.level) {
    m.level = *o.level;
    m.level_period = 1 / sf(d, *o.level);
  }
  const dist::Support sup = support(d);
  m.outside_support = static_cast<int>(std::count_if(
      sorted.begin(), sorted.end(), [&](double x) { return x < sup.lower || x > sup.upper; }));
  // A fit that puts observations outside its support has no meaningful
  // goodness of fit: F is 0 or 1 there and A^2 only measures the floor.
  if (m.outside_support == 0 && o.gof) edf_gof(d, sorted, m.gof);
}

// The family's tau4 at the shape fitted to t3: from the tabled curves where
// they reach, otherwise without the quadrature of tau5 where it has one.
template <class D>
double tau4(const D& d, double t3) {
  if constexpr (std::is_same_v<D, dist::Gno>) {
    const dist::CurvePoint c = dist::gno_curve(t3);
    return c.ok ? c.tau4 : dist::gno_tau4(d.shape);
  } else if constexpr (std::is_same_v<D, dist::Pe3> || std::is_same_v<D, dist::Lp3>) {
    const dist::CurvePoint c = dist::pe3_curve(t3);
    return c.ok ? c.tau4 : dist::pe3_tau4(d.skew);
  } else {
    return lmoment_ratios(d).t4;
  }
}

// The L-moment fit of family D to an ascending sample; false outside its region.
template <class D>
bool refit_lmom(std::vector<double>& x, D& d) {
  if constexpr (std::is_same_v<D, dist::Lp3>) {
    for (double& v : x) {
      if (!(v > 0)) return false;
      v = std::log10(v);
    }
  }
  return stats::fit_lmom(stats::ratios(stats::sample_lmoments(x)), d);
}

// (1 + #{replicate >= observed}) / (1 + replicates) over the sorted law.
double p_value(const std::vector<double>& law, double observed) {
  if (law.empty() || !std::isfinite(observed)) return kUndefined;
  const auto above = law.end() - std::lower_bound(law.begin(), law.end(), observed);
  return static_cast<double>(1 + above) / static_cast<double>(1 + law.size());
}

constexpr std::size_t kLargestSimulated = 1000;

// The p-values of the L-moment fit's D, W^2 and A^2 (see FamilyFitOptions).
template <class D>
void lmom_p_values(const D& fitted, std::size_t n, const std::string& name, const FamilyFitOptions& o,
                   Gof& gof) {
  const std::size_t m = std::min(n, kLargestSimulated);
  std::uint64_t salt = 0x6a09e667f3bcc909ULL;
  for (const char c : name) salt = (salt ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
  std::vector<double> ks, cvm, ad, x(m), work(m);
  for (int r = 0; r < o.replicates; ++r) {
    detail::Xoshiro256ss rng = detail::Xoshiro256ss::stream(o.seed ^ salt, static_cast<std::uint64_t>(r));
    for (double& v : x) v = quantile(fitted, rng.uniform());
    std::sort(x.begin(), x.end());
    work = x;
    D d{};
    if (!std::isfinite(x.front()) || !std::isfinite(x.back()) || !refit_lmom(work, d)) continue;
    Gof g;
    edf_gof(d, x, g);
    if (!std::isfinite(g.ad)) continue;
    ks.push_back(g.ks);
    cvm.push_back(g.cvm);
    ad.push_back(g.ad);
  }
  for (std::vector<double>* law : {&ks, &cvm, &ad}) std::sort(law->begin(), law->end());
  gof.ks_p = p_value(ks, gof.ks * std::sqrt(static_cast<double>(n) / static_cast<double>(m)));
  gof.cvm_p = p_value(cvm, gof.cvm);
  gof.ad_p = p_value(ad, gof.ad);
  gof.p_method = "parametric bootstrap at the fitted " + family_title(name) + ", B = " +
                 std::to_string(o.replicates);
  if (n > kLargestSimulated)
    gof.p_method += ", asymptotic: samples of " + std::to_string(kLargestSimulated) + ", sqrt(n) D";
}

// The parametric bootstrap of a fit d of family D: replicates drawn from d
// and refitted by maximum likelihood of `mle` when given, else by L-moments.
template <class D>
void add_bootstrap(const D& d, std::optional<stats::Family> mle, std::size_t n, const FamilyFitOptions& o,
                   FamilyMethodResult& m) {
  constexpr std::size_t k = kFields<D>;
  using stats::BootParams;
  const auto dist_of = [](const BootParams& p) {
    std::array<double, k> v{};
    std::copy_n(p.begin(), k, v.begin());
    return from_fields<D>(v);
  };
  stats::BootModel model;
  model.draw = [&](const BootParams& p, std::span<double> x) {
    const D e = dist_of(p);
    for (double& v : x) v = quantile(e, v);
  };
  model.refit = [&](std::span<const double> sorted, BootParams& p) {
    if (mle) {
      const stats::FamilyFit e = stats::fit_mle(*mle, sorted);
      std::copy_n(e.params.begin(), k, p.begin());
      return e.ok;
    }
    std::vector<double> x(sorted.begin(), sorted.end());
    D e{};
    if (!refit_lmom(x, e)) return false;
    const auto v = fields(e);
    std::copy(v.begin(), v.end(), p.begin());
    return true;
  };
  model.valid = [](const BootParams& p) {
    if (!std::all_of(p.begin(), p.begin() + k, [](double v) { return std::isfinite(v); })) return false;
    return std::is_same_v<D, dist::Wakeby> || p[1] > 0;  // the Wakeby's alpha may be 0
  };
  model.statistics = [&](std::span<const double> sorted, const BootParams& p, Gof& g) {
    const D e = dist_of(p);
    const dist::Support sup = support(e);
    // A refit that leaves its own sample outside the support fits it worse
    // than any statistic can say.
    if (sorted.front() < sup.lower || sorted.back() > sup.upper) {
      g.ks = g.cvm = g.ad = INFINITY;
      return;
    }
    edf_gof(e, sorted, g);
  };
  const stats::BootstrapSpec plan = stats::bootstrap_plan(n, o);
  BootParams fitted{};
  const auto v = fields(d);
  std::copy(v.begin(), v.end(), fitted.begin());
  const stats::ModelBoot b = stats::bootstrap_model(
      fitted, static_cast<int>(k), m.gof, model,
      [&](const BootParams& p, const stats::LevelAt& at) {
        return at.p < 0.5 ? quantile(dist_of(p), at.p) : quantile_complement(dist_of(p), at.q);
      },
      plan);
  FamilyBoot fb;
  static_cast<BootSummary&>(fb) = b;
  fb.params = b.params;
  fb.se = b.se;
  m.boot = std::move(fb);
}

struct Samples {
  std::span<const double> sorted;
  stats::SampleLmoments raw;
  std::optional<stats::SampleLmoments> logs;  // of log10 x, when every value is positive
};

// The covariance of a fit's free parameters, empty when it has none.
std::vector<std::vector<double>> covariance(const stats::FamilyFit& e) {
  const std::size_t k = stats::parameter_count(e.family);
  std::vector<std::vector<double>> cov(k, std::vector<double>(k));
  for (std::size_t i = 0; i < k; ++i) {
    if (!std::isfinite(e.cov[i][i])) return {};
    for (std::size_t j = 0; j < k; ++j) cov[i][j] = e.cov[i][j];
  }
  return cov;
}

// Maximum likelihood, with profile-likelihood intervals of the levels for
// the three-parameter families.
template <class D>
void fit_family_mle(stats::Family f, std::span<const double> sorted, const FamilyFitOptions& o,
                    FamilyMethodResult& m) {
  m.present = true;
  const stats::FamilyFit e = stats::fit_mle(f, sorted);
  if (!e.ok) {
    m.error = e.error;
    return;
  }
  std::array<double, kFields<D>> v{};
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = e.params[i];
  const D d = from_fields<D>(v);
  describe(d, o.se ? covariance(e) : std::vector<std::vector<double>>{}, sorted, o, m);
  m.loglik = e.loglik;
  m.iterations = e.iterations;
  if (o.bootstrap > 0) add_bootstrap(d, f, sorted.size(), o, m);
  if (!o.profiles || stats::parameter_count(f) != 3) return;
  if (o.prob > 0 && o.prob < 1) m.quantile.profile = stats::profile_quantile(e, sorted, o.prob, o.confidence);
  for (ReturnLevel& rl : m.return_levels)
    rl.level.profile = stats::profile_quantile(e, sorted, 1 - 1 / rl.period, o.confidence);
}

std::string text(double v) {
  if (std::isnan(v)) return "undefined";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4g", v);
  return buf;
}

template <class D>
void fit_family(const Samples& s, const std::string& name, const FamilyFitOptions& o, FamilyResult& out) {
  D d{};
  const std::optional<stats::Family> family = stats::family_from_name(name);
  const stats::SampleLmoments* lm = sample_for<D>(s.raw, s.logs ? &*s.logs : nullptr);
  bool ok = false;
  if (o.lmom) {
    FamilyMethodResult& m = out.lmom;
    m.present = true;
    if (lm == nullptr) {
      m.error = "the " + family_title(name) + " needs positive values: it is fitted to their logarithms";
    } else if (!(ok = stats::fit_lmom(stats::ratios(*lm), d))) {
      m.error = "the sample's L-moment ratios (t3 " + text(lm->t3) + ", t4 " + text(lm->t4) +
                (std::is_same_v<D, dist::Wakeby> ? ", t5 " + text(lm->t5) : std::string()) +
                ") lie outside the " + family_title(name) + "'s feasible region";
    } else {
      // The influence-function errors of the L-moment fit, where the family has them.
      std::vector<std::vector<double>> cov;
      if (family && o.se) {
        const stats::FamilyFit e = stats::fit_lmom_with_errors(*family, s.sorted);
        if (e.ok) cov = covariance(e);
      }
      describe(d, cov, s.sorted, o, m);
      if (o.gof) m.loglik = log_likelihood(d, s.sorted);
      if (o.gof_p && o.replicates > 0 && std::isfinite(m.gof.ad))
        lmom_p_values(d, s.sorted.size(), name, o, m.gof);
      if (o.bootstrap > 0) add_bootstrap(d, std::nullopt, s.sorted.size(), o, m);
    }
  } else if (lm != nullptr) {
    ok = stats::fit_lmom(stats::ratios(*lm), d);
  }
  if (family && o.mle) fit_family_mle<D>(*family, s.sorted, o, out.mle);
  // The L-moment distance: the fit matches t3 for a shaped family, so its
  // tau4 is the family's tau4(t3).
  if (ok) {
    const Layout& l = layout(d);
    if (l.free.size() == 2) {
      const dist::LmomentRatios r = lmoment_ratios(d);
      out.lmom_distance = std::hypot(lm->t3 - r.t3, lm->t4 - r.t4);
    } else if (l.shaped) {
      out.lmom_distance = std::fabs(lm->t4 - tau4(d, lm->t3));
    }
  }
}

}  // namespace

const std::vector<std::string>& family_parameter_names(std::string_view name) {
  // Built once: fit_many asks for them for every series.
  auto names = [](const Layout& l) {
    std::vector<std::string> v;
    for (const Name& n : l.names) v.emplace_back(n.name);
    return v;
  };
  static const std::vector<std::string> kNone, kShaped = names(kLocScaleShape), kPe3 = names(kMoments),
                                         kK = names(kKappa), kW = names(kWakeby), kExp = names(kLocScale),
                                         kNormal = names(kMeanSd), kLognormal = names(kLogs);
  return name == "pe3" || name == "lp3" ? kPe3
         : name == "kappa"              ? kK
         : name == "wakeby"             ? kW
         : name == "exp"                ? kExp
         : name == "normal"             ? kNormal
         : name == "lognormal"          ? kLognormal
         : is_family(name)              ? kShaped
                                        : kNone;
}

std::string family_title(std::string_view name) {
  if (name == "glo") return "GLO";
  if (name == "gno") return "GNO";
  if (name == "pe3") return "Pearson III";
  if (name == "lp3") return "log-Pearson III";
  if (name == "gpa") return "GPA";
  if (name == "weibull") return "Weibull";
  if (name == "kappa") return "Kappa";
  if (name == "wakeby") return "Wakeby";
  if (name == "exp") return "exponential";
  if (name == "normal") return "normal";
  if (name == "lognormal") return "lognormal";
  if (name == "gumbel") return "Gumbel";
  if (name == "gev") return "GEV";
  return std::string(name);
}

FamiliesResult fit_families(std::span<const double> sorted, const std::vector<std::string>& families,
                            const FamilyFitOptions& o) {
  FamiliesResult f;
  f.fits.reserve(families.size());
  Samples s{sorted, stats::sample_lmoments(sorted), std::nullopt};
  f.lmoments = {true, s.raw.l1, s.raw.l2, s.raw.t, s.raw.t3, s.raw.t4, s.raw.t5};
  // Those of the log10 values only for the LP3, the one family fitted to them.
  const bool lp3 = std::find(families.begin(), families.end(), "lp3") != families.end();
  if (lp3 && !sorted.empty() && sorted.front() > 0) {
    std::vector<double> logs(sorted.size());
    std::transform(sorted.begin(), sorted.end(), logs.begin(), [](double x) { return std::log10(x); });
    s.logs = stats::sample_lmoments(logs);
  }
  for (const std::string& name : families) {
    if (!is_family(name)) continue;
    FamilyResult r;
    r.dist = name;
    if (name == "glo") fit_family<dist::Glo>(s, name, o, r);
    else if (name == "gno") fit_family<dist::Gno>(s, name, o, r);
    else if (name == "pe3") fit_family<dist::Pe3>(s, name, o, r);
    else if (name == "lp3") fit_family<dist::Lp3>(s, name, o, r);
    else if (name == "gpa") fit_family<dist::Gpa>(s, name, o, r);
    else if (name == "weibull") fit_family<dist::Weibull>(s, name, o, r);
    else if (name == "kappa") fit_family<dist::Kappa>(s, name, o, r);
    else if (name == "wakeby") fit_family<dist::Wakeby>(s, name, o, r);
    else if (name == "exp") fit_family<dist::Exponential>(s, name, o, r);
    else if (name == "normal") fit_family<dist::Normal>(s, name, o, r);
    else fit_family<dist::Lognormal>(s, name, o, r);
    f.fits.push_back(std::move(r));
  }
  return f;
}

void compare_families(const FitResult& r, const std::vector<std::string>& order, FamiliesResult& f) {
  const LmomentsRecord& lm = f.lmoments;
  auto row = [&](const std::string& dist, const char* method, double loglik, int k, const Gof& g,
                 double distance) {
    ComparisonRow c{dist, method};
    if (std::string_view(method) == "mle" && std::isfinite(loglik)) c.aic = 2 * k - 2 * loglik;
    c.lmom_distance = distance;
    c.ad = g.ad;
    c.ad_p = g.ad_p;
    f.comparison.rows.push_back(std::move(c));
  };
  auto ok = [](const auto& m) { return m.present && m.error.empty(); };
  std::vector<std::pair<std::string, double>> distances;
  for (const std::string& name : order) {
    if (name == "gumbel") {
      const dist::LmomentRatios g = lmoment_ratios(dist::Gumbel{0, 1});
      const double d = std::hypot(lm.t3 - g.t3, lm.t4 - g.t4);
      distances.emplace_back(name, d);
      if (ok(r.mle)) row(name, "mle", r.mle.loglik, 2, r.mle.gof, d);
      if (ok(r.lmom)) row(name, "lmom", kUndefined, 2, r.lmom.gof, d);
    } else if (name == "gev") {
      const double d = std::fabs(lm.t4 - stats::tau4_gev(lm.t3));
      if (r.gev.lmom.outside_support == 0) distances.emplace_back(name, d);
      if (ok(r.gev.mle)) row(name, "mle", r.gev.mle.loglik, 3, r.gev.mle.gof, d);
      if (ok(r.gev.lmom)) row(name, "lmom", kUndefined, 3, r.gev.lmom.gof, d);
    } else {
      const auto it = std::find_if(f.fits.begin(), f.fits.end(), [&](const FamilyResult& x) { return x.dist == name; });
      if (it == f.fits.end()) continue;
      // The LP3's distance is of the log10 sample, not comparable with the
      // others'. A family whose L-moment fit leaves observations outside its
      // support does not match the sample, however near its (t3, t4).
      if (name != "lp3" && it->lmom.outside_support == 0) distances.emplace_back(name, it->lmom_distance);
      if (ok(it->mle)) row(name, "mle", it->mle.loglik, static_cast<int>(it->mle.free.size()), it->mle.gof,
                           it->lmom_distance);
      if (ok(it->lmom)) row(name, "lmom", kUndefined, 0, it->lmom.gof, it->lmom_distance);
    }
  }
  double best = kUndefined;
  for (const ComparisonRow& c : f.comparison.rows) {
    if (std::isfinite(c.aic) && !(c.aic >= best)) {
      best = c.aic;
      f.comparison.best_aic = c.dist;
    }
  }
  best = kUndefined;
  for (const auto& [name, d] : distances) {
    if (std::isfinite(d) && !(d >= best)) {
      best = d;
      f.comparison.best_lmom = name;
    }
  }
}

}  // namespace korvalinde
