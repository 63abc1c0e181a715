#include "korvalinde/stats/region.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <utility>

#include "korvalinde/detail/parallel.hpp"
#include "korvalinde/detail/random.hpp"
#include "korvalinde/dist/gev.hpp"
#include "korvalinde/dist/glo.hpp"
#include "korvalinde/dist/gno.hpp"
#include "korvalinde/dist/gpa.hpp"
#include "korvalinde/dist/kappa.hpp"
#include "korvalinde/dist/pe3.hpp"
#include "korvalinde/dist/wakeby.hpp"

namespace korvalinde::stats {

namespace {

using dist::LmomentRatios;
using Params = std::vector<std::pair<std::string, double>>;

// Keeps the accuracy's streams apart from the heterogeneity's for one seed.
constexpr std::uint64_t kAccuracySalt = 0x3C6EF372FE94F82Bu;
constexpr std::size_t kBlock = 16;  // simulated regions sharing one work buffer
constexpr double kZAccept = 1.645;

enum class Family { glo, gev, gno, pe3, gpa, wakeby };
constexpr std::array<Family, 5> kJudged{Family::glo, Family::gev, Family::gno, Family::pe3, Family::gpa};

const char* family_name(Family f) {
  switch (f) {
    case Family::glo: return "glo";
    case Family::gev: return "gev";
    case Family::gno: return "gno";
    case Family::pe3: return "pe3";
    case Family::gpa: return "gpa";
    case Family::wakeby: return "wakeby";
  }
  return "";
}

// Calls fn with a value of the family's type.
template <class Fn>
decltype(auto) with_family(Family f, Fn&& fn) {
  switch (f) {
    case Family::glo: return fn(dist::Glo{});
    case Family::gev: return fn(dist::Gev{});
    case Family::gno: return fn(dist::Gno{});
    case Family::pe3: return fn(dist::Pe3{});
    case Family::gpa: return fn(dist::Gpa{});
    case Family::wakeby: break;
  }
  return fn(dist::Wakeby{});
}

template <class D>
Params params_of(const D& d) {
  return {{"loc", d.loc}, {"scale", d.scale}, {"shape", d.shape}};
}
Params params_of(const dist::Pe3& d) { return {{"mean", d.mean}, {"sd", d.sd}, {"skew", d.skew}}; }
Params params_of(const dist::Wakeby& d) {
  return {{"xi", d.xi}, {"alpha", d.alpha}, {"beta", d.beta}, {"gamma", d.gamma}, {"delta", d.delta}};
}

struct Regional {
  double t, t3, t4, t5;
};

// The record-length weighted averages of the sites' ratios.
Regional regional_average(std::span<const SampleLmoments> s) {
  double w = 0, t = 0, t3 = 0, t4 = 0, t5 = 0;
  for (const SampleLmoments& m : s) {
    const double n = static_cast<double>(m.n);
    w += n;
    t += n * m.t;
    t3 += n * m.t3;
    t4 += n * m.t4;
    t5 += n * m.t5;
  }
  return {t / w, t3 / w, t4 / w, t5 / w};
}

// V1: the weighted standard deviation of t; V2: the weighted mean distance
// of (t, t3) from the regional average; V3: that of (t3, t4).
std::array<double, 3> dispersions(std::span<const SampleLmoments> s, const Regional& r) {
  double w = 0, v1 = 0, v2 = 0, v3 = 0;
  for (const SampleLmoments& m : s) {
    const double n = static_cast<double>(m.n);
    const double dt = m.t - r.t, d3 = m.t3 - r.t3, d4 = m.t4 - r.t4;
    w += n;
    v1 += n * dt * dt;
    v2 += n * std::hypot(dt, d3);
    v3 += n * std::hypot(d3, d4);
  }
  return {std::sqrt(v1 / w), v2 / w, v3 / w};
}

LmomentRatios ratios_of(const Regional& r) { return {1.0, r.t, r.t3, r.t4, r.t5}; }

// Discordancy of each site's (t, t3, t4) from the unweighted mean, by the
// inverse of the matrix of sums of squares and products; false when that
// matrix is singular (sites on a plane in the ratio space).
bool discordancy(std::vector<RegionSite>& sites) {
  const std::size_t n = sites.size();
  std::vector<std::array<double, 3>> u(n);
  std::array<double, 3> mean{0, 0, 0};
  for (std::size_t i = 0; i < n; ++i) {
    u[i] = {sites[i].t, sites[i].t3, sites[i].t4};
    for (int j = 0; j < 3; ++j) mean[j] += u[i][j];
  }
  for (double& m : mean) m /= static_cast<double>(n);
  double a[3][3] = {};
  for (auto& v : u) {
    for (int j = 0; j < 3; ++j) v[j] -= mean[j];
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) a[j][k] += v[j] * v[k];
  }
  // The inverse by cofactors: symmetric, so each row of cofactors is a column.
  double c[3][3];
  for (int j = 0; j < 3; ++j) {
    for (int k = 0; k < 3; ++k) {
      const int j1 = (j + 1) % 3, j2 = (j + 2) % 3, k1 = (k + 1) % 3, k2 = (k + 2) % 3;
      c[j][k] = a[j1][k1] * a[j2][k2] - a[j1][k2] * a[j2][k1];
    }
  }
  const double det = a[0][0] * c[0][0] + a[0][1] * c[0][1] + a[0][2] * c[0][2];
  const double size = a[0][0] * a[1][1] * a[2][2];
  if (!(det > 1e-12 * size) || !std::isfinite(det)) return false;
  for (std::size_t i = 0; i < n; ++i) {
    double q = 0;
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) q += u[i][j] * c[j][k] * u[i][k];
    sites[i].D = static_cast<double>(n) / 3.0 * q / det;
  }
  return true;
}

// Standard normal variates in pairs (Box and Muller).
struct Normals {
  detail::Xoshiro256ss& rng;
  double spare = 0;
  bool have = false;
  double next() {
    if (have) {
      have = false;
      return spare;
    }
    const double r = std::sqrt(-2 * std::log(rng.uniform()));
    const double a = 6.283185307179586 * rng.uniform();
    spare = r * std::sin(a);
    have = true;
    return r * std::cos(a);
  }
};

struct SimRegion {
  std::array<double, 3> v;
  double t4;
};

// nsim regions from d, site i with n[i] values, each region from its own stream.
template <class D>
std::vector<SimRegion> simulate_heterogeneity(const D& d, std::span<const std::size_t> n,
                                              const RegionOptions& o) {
  std::vector<SimRegion> out(o.nsim);
  const std::size_t blocks = (o.nsim + kBlock - 1) / kBlock;
  const std::size_t longest = *std::max_element(n.begin(), n.end());
  detail::parallel_for(blocks, o.threads, [&](std::size_t b) {
    std::vector<double> x(longest);
    std::vector<SampleLmoments> lm(n.size());
    for (std::size_t m = b * kBlock; m < std::min(o.nsim, (b + 1) * kBlock); ++m) {
      detail::Xoshiro256ss rng = detail::Xoshiro256ss::stream(o.seed, m);
      for (std::size_t i = 0; i < n.size(); ++i) {
        for (std::size_t j = 0; j < n[i]; ++j) x[j] = quantile(d, rng.uniform());
        std::sort(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(n[i]));
        lm[i] = sample_lmoments(std::span<const double>(x.data(), n[i]));
      }
      const Regional r = regional_average(lm);
      out[m] = {dispersions(lm, r), r.t4};
    }
  });
  return out;
}

void mean_sd(const std::vector<double>& v, double& mean, double& sd) {
  double s = 0;
  for (double x : v) s += x;
  mean = s / static_cast<double>(v.size());
  double q = 0;
  for (double x : v) q += (x - mean) * (x - mean);
  sd = std::sqrt(q / static_cast<double>(v.size() - 1));
}

template <class D>
void heterogeneity_and_goodness(const D& d, std::span<const std::size_t> n, const RegionOptions& o,
                                RegionResult& out) {
  const std::vector<SimRegion> sims = simulate_heterogeneity(d, n, o);
  out.nsim = o.nsim;
  std::vector<double> v(sims.size());
  for (int j = 0; j < 3; ++j) {
    for (std::size_t m = 0; m < sims.size(); ++m) v[m] = sims[m].v[j];
    mean_sd(v, out.sim_mean[j], out.sim_sd[j]);
    out.H[j] = (out.V[j] - out.sim_mean[j]) / out.sim_sd[j];
  }
  for (std::size_t m = 0; m < sims.size(); ++m) v[m] = sims[m].t4;
  double mean = 0;
  mean_sd(v, mean, out.sigma4);
  out.B4 = mean - out.t4;
}

// Quantile ratios of the simulated to the true value, in [period][quantity]
// order per region: quantity 0 the growth curve, 1 + i site i.
template <class D>
std::vector<double> simulate_accuracy(const D& truth, std::span<const RegionSite> sites,
                                      const std::vector<double>& p, const RegionOptions& o) {
  const std::size_t ns = sites.size(), per = (ns + 1) * p.size();
  std::vector<double> out(o.accuracy * per);
  std::vector<double> q(p.size());
  for (std::size_t k = 0; k < p.size(); ++k) q[k] = quantile(truth, p[k]);
  std::size_t longest = 0;
  for (const RegionSite& s : sites) longest = std::max(longest, s.n);
  const double rho = o.correlation, a = std::sqrt(rho), b = std::sqrt(1 - rho);
  const std::size_t blocks = (o.accuracy + kBlock - 1) / kBlock;
  detail::parallel_for(blocks, o.threads, [&](std::size_t blk) {
    std::vector<double> x(longest), common(longest);
    std::vector<SampleLmoments> lm(ns);
    for (std::size_t m = blk * kBlock; m < std::min(o.accuracy, (blk + 1) * kBlock); ++m) {
      detail::Xoshiro256ss rng = detail::Xoshiro256ss::stream(o.seed ^ kAccuracySalt, m);
      Normals normal{rng};
      if (rho > 0)
        for (double& g : common) g = normal.next();
      for (std::size_t i = 0; i < ns; ++i) {
        for (std::size_t j = 0; j < sites[i].n; ++j) {
          const double u =
              rho > 0 ? 0.5 * std::erfc(-(a * common[j] + b * normal.next()) * 0.7071067811865476)
                      : rng.uniform();
          x[j] = sites[i].mean * quantile(truth, u);
        }
        std::sort(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(sites[i].n));
        lm[i] = sample_lmoments(std::span<const double>(x.data(), sites[i].n));
      }
      double* row = out.data() + m * per;
      D fit{};
      if (!fit_lmom(ratios_of(regional_average(lm)), fit)) {
        std::fill(row, row + per, std::nan(""));
        continue;
      }
      for (std::size_t k = 0; k < p.size(); ++k) {
        const double ratio = quantile(fit, p[k]) / q[k];
        row[k * (ns + 1)] = ratio;
        for (std::size_t i = 0; i < ns; ++i)
          row[k * (ns + 1) + 1 + i] = ratio * lm[i].l1 / sites[i].mean;
      }
    }
  });
  return out;
}

// The p-quantile of ascending values by linear interpolation.
double order_quantile(const std::vector<double>& v, double p) {
  const double h = p * static_cast<double>(v.size() - 1);
  const auto lo = static_cast<std::size_t>(std::floor(h));
  const std::size_t hi = std::min(lo + 1, v.size() - 1);
  return v[lo] + (h - static_cast<double>(lo)) * (v[hi] - v[lo]);
}

// Fills the RMSE and the bounds of the chosen curve's and the sites' quantiles.
template <class D>
void accuracy(const D& truth, const std::vector<double>& p, const RegionOptions& o, RegionResult& out,
              RegionGrowth& chosen) {
  const std::vector<double> sims = simulate_accuracy(truth, out.sites, p, o);
  const std::size_t ns = out.sites.size(), per = (ns + 1) * p.size();
  out.accuracy_nsim = o.accuracy;
  for (std::size_t m = 0; m < o.accuracy; ++m) out.accuracy_failed += std::isnan(sims[m * per]) ? 1 : 0;
  if (o.accuracy - out.accuracy_failed < 2) {
    out.warnings.push_back("accuracy: fewer than 2 of the simulated regions could be refitted");
    return;
  }
  std::vector<double> r;
  r.reserve(o.accuracy);
  for (std::size_t k = 0; k < p.size(); ++k) {
    for (std::size_t c = 0; c <= ns; ++c) {
      r.clear();
      double sq = 0;
      for (std::size_t m = 0; m < o.accuracy; ++m) {
        const double v = sims[m * per + k * (ns + 1) + c];
        if (std::isnan(v)) continue;
        r.push_back(v);
        sq += (v - 1) * (v - 1);
      }
      std::sort(r.begin(), r.end());
      RegionQuantile& q = c == 0 ? chosen.quantiles[k] : out.at_site[c - 1].quantiles[k];
      q.rmse = std::sqrt(sq / static_cast<double>(r.size()));
      q.lower = q.value / order_quantile(r, 0.95);
      q.upper = q.value / order_quantile(r, 0.05);
    }
  }
}

template <class D>
bool growth_curve(const Regional& r, const std::vector<double>& periods, Family f, RegionGrowth& g) {
  D d{};
  if (!fit_lmom(ratios_of(r), d)) return false;
  g.family = family_name(f);
  g.params = params_of(d);
  for (double t : periods) {
    RegionQuantile q;
    q.period = t;
    q.value = quantile(d, 1 - 1 / t);
    g.quantiles.push_back(q);
  }
  return true;
}

std::string describe(const SampleLmoments& m) {
  if (!(m.l1 > 0) || !std::isfinite(m.l1)) return "its mean is not positive";
  if (!(m.t > 0) || !std::isfinite(m.t)) return "its L-CV is not positive";
  if (!std::isfinite(m.t3) || !std::isfinite(m.t4) || !std::isfinite(m.t5))
    return "its L-moment ratios are not finite";
  return "";
}

}  // namespace

RegionSiteInput region_site(std::string name, std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return {std::move(name), sample_lmoments(values)};
}

double discordancy_critical(std::size_t n) {
  static constexpr double kTable[] = {1.333, 1.648, 1.917, 2.140, 2.329,
                                      2.491, 2.632, 2.757, 2.869, 2.971};
  if (n < 4) return std::nan("");
  if (n == 4) return 1.0;  // (n - 1)/3, the largest value a site can reach
  if (n >= 15) return 3.0;
  return kTable[n - 5];
}

RegionStatus analyze_region(std::span<const RegionSiteInput> input, const RegionOptions& o,
                            RegionResult& out, std::string& why) {
  out = RegionResult{};
  std::vector<SampleLmoments> lm;
  for (const RegionSiteInput& s : input) {
    if (s.lm.n < o.min_years) {
      out.left_out.push_back(s.name + " (" + std::to_string(s.lm.n) + " values)");
      continue;
    }
    if (std::string fault = describe(s.lm); !fault.empty()) {
      why = "site " + s.name + ": " + fault;
      return RegionStatus::refused;
    }
    lm.push_back(s.lm);
    RegionSite site;
    site.name = s.name;
    site.n = s.lm.n;
    site.mean = s.lm.l1;
    site.t = s.lm.t;
    site.t3 = s.lm.t3;
    site.t4 = s.lm.t4;
    site.t5 = s.lm.t5;
    out.sites.push_back(std::move(site));
  }
  if (out.sites.empty()) {
    why = "no site in the region";
    return RegionStatus::empty;
  }
  const std::size_t ns = out.sites.size();
  out.D_critical = discordancy_critical(ns);
  if (ns < 4) {
    out.warnings.push_back("discordancy: undefined for fewer than 4 sites");
  } else if (!discordancy(out.sites)) {
    out.warnings.push_back("discordancy: undefined, the sites' ratios lie on a plane");
  } else {
    for (RegionSite& s : out.sites) s.discordant = s.D > out.D_critical;
  }
  const Regional reg = regional_average(lm);
  out.t = reg.t;
  out.t3 = reg.t3;
  out.t4 = reg.t4;
  out.t5 = reg.t5;
  out.V = dispersions(lm, reg);

  std::vector<std::size_t> n(ns);
  for (std::size_t i = 0; i < ns; ++i) n[i] = out.sites[i].n;
  dist::Kappa kappa{};
  dist::Glo glo{};
  const LmomentRatios r = ratios_of(reg);
  const bool simulate = o.nsim >= 2;
  if (fit_lmom(r, kappa)) {
    out.kappa_fitted = true;
    out.kappa_loc = kappa.loc;
    out.kappa_scale = kappa.scale;
    out.kappa_k = kappa.k;
    out.kappa_h = kappa.h;
    if (simulate) heterogeneity_and_goodness(kappa, n, o, out);
  } else if (reg.t4 >= dist::tau4_glo(reg.t3) && fit_lmom(r, glo)) {
    out.kappa_fallback = "glo";
    out.warnings.push_back("the regional ratios lie above the GLO line: the regions are simulated from the GLO");
    if (simulate) heterogeneity_and_goodness(glo, n, o, out);
  } else {
    out.warnings.push_back("no Kappa fits the regional ratios: heterogeneity and goodness of fit undefined");
  }
  if (!simulate) out.warnings.push_back("heterogeneity and goodness of fit need --nsim 2 or more");

  // Goodness of fit: the smallest |Z| among the accepted families, else the
  // smallest |Z| of all with a warning.
  std::vector<Family> curves;
  std::size_t best = kJudged.size();
  for (std::size_t j = 0; j < kJudged.size(); ++j) {
    RegionGoodness g;
    g.family = family_name(kJudged[j]);
    with_family(kJudged[j], [&](auto d) {
      if (fit_lmom(r, d)) g.tau4 = lmoment_ratios(d).t4;
    });
    g.Z = (g.tau4 - out.t4 + out.B4) / out.sigma4;
    g.accepted = std::abs(g.Z) <= kZAccept;
    if (g.accepted || o.every_curve) curves.push_back(kJudged[j]);
    if (std::isfinite(g.Z) &&
        (best == kJudged.size() || (g.accepted && !out.goodness[best].accepted) ||
         (g.accepted == out.goodness[best].accepted && std::abs(g.Z) < std::abs(out.goodness[best].Z))))
      best = j;
    out.goodness.push_back(g);
  }
  const Family chosen = best < kJudged.size() ? kJudged[best] : Family::wakeby;
  if (best < kJudged.size()) {
    out.chosen = family_name(chosen);
    if (!out.goodness[best].accepted) {
      out.warnings.push_back("no family is accepted (|Z| <= 1.645): " + out.chosen + " has the smallest |Z|");
      if (!o.every_curve) curves.push_back(chosen);
    }
  }
  curves.push_back(Family::wakeby);

  std::vector<double> p;
  for (double t : o.periods) p.push_back(1 - 1 / t);
  for (Family f : curves) {
    RegionGrowth g;
    const bool ok = with_family(f, [&](auto d) { return growth_curve<decltype(d)>(reg, o.periods, f, g); });
    if (ok) out.growth.push_back(std::move(g));
    else out.warnings.push_back(std::string(family_name(f)) + ": no growth curve fits the regional ratios");
  }
  if (out.chosen.empty()) return RegionStatus::ok;
  auto it = std::find_if(out.growth.begin(), out.growth.end(),
                         [&](const RegionGrowth& g) { return g.family == out.chosen; });
  if (it == out.growth.end()) return RegionStatus::ok;
  for (const RegionSite& s : out.sites) {
    RegionAtSite a;
    a.site = s.name;
    for (RegionQuantile q : it->quantiles) {
      q.value *= s.mean;
      a.quantiles.push_back(q);
    }
    out.at_site.push_back(std::move(a));
  }
  if (o.accuracy > 0) {
    out.correlation = o.correlation;
    with_family(chosen, [&](auto d) {
      if (fit_lmom(r, d)) accuracy(d, p, o, out, *it);
    });
  }
  return RegionStatus::ok;
}

}  // namespace korvalinde::stats
