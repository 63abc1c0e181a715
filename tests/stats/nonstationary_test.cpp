// The GEV and GPD with covariates: the published Venice trend fit (the
// 30-digit references are nonstationary_reference_test.cpp's), invariance to
// the covariate's origin and unit, the stationary fit as the zero-slope case,
// the analytic derivatives, bad input, and the trend tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "korvalinde/detail/random.hpp"
#include "korvalinde/stats/gev.hpp"
#include "korvalinde/stats/gpd_fit.hpp"
#include "korvalinde/stats/nonstationary.hpp"
#include "korvalinde/stats/trend.hpp"

namespace korvalinde::stats {
namespace {

const std::string kData = KORVALINDE_STATS_DATA;

std::vector<double> read(const std::string& name) {
  std::ifstream in(kData + "/" + name + ".txt");
  std::vector<double> x;
  for (double v; in >> v;) x.push_back(v);
  return x;
}

std::vector<double> years(std::size_t n, double first) {
  std::vector<double> t(n);
  for (std::size_t i = 0; i < n; ++i) t[i] = first + static_cast<double>(i);
  return t;
}

double rel(double a, double b) { return std::fabs(a - b) / std::max(std::fabs(b), 1e-300); }

TEST(Nonstationary, VeniceLocationTrendMatchesThePublishedFit) {
  const auto x = read("venice_sealevel");
  const auto t = years(x.size(), 1);  // year - 1930
  const NsAnalysis a = analyze_nonstationary({x, {t}, {"time"}}, {}, {});
  ASSERT_TRUE(a.fit.ok) << a.fit.error;
  ASSERT_EQ(a.fit.names, (std::vector<std::string>{"mu0", "mu_time", "sigma", "xi"}));
  EXPECT_NEAR(a.fit.coef[0], 96.99, 0.01);
  EXPECT_NEAR(a.fit.coef[1], 0.564, 0.0005);
  EXPECT_NEAR(a.fit.coef[2], 14.58, 0.005);
  EXPECT_NEAR(a.fit.coef[3], -0.027, 0.0005);
  EXPECT_NEAR(a.fit.loglik, -216.06, 0.005);
  ASSERT_EQ(a.lr_tests.size(), 2u);
  EXPECT_EQ(a.lr_tests[0].against, "stationary");
  EXPECT_NEAR(a.lr_tests[0].statistic, 2 * (222.71 - 216.06), 0.02);
  EXPECT_NEAR(a.lr_tests[0].p, 3e-4, 0.5e-4);
  // The default points are the first and last years, inside the range; the
  // change of every level is the trend over 50 years.
  ASSERT_EQ(a.at.size(), 2u);
  EXPECT_FALSE(a.at[0].extrapolated || a.at[1].extrapolated);
  for (const NsLevel& c : a.change) EXPECT_NEAR(c.value, 50 * a.fit.coef[1], 1e-9);
  // Profile bounds enclose the estimate; the change's are the slope's times 50.
  for (const NsPoint& p : a.at)
    for (const NsLevel& l : p.levels) {
      ASSERT_TRUE(l.profile.lower.reason.empty() && l.profile.upper.reason.empty());
      EXPECT_LT(l.profile.lower.value, l.value);
      EXPECT_GT(l.profile.upper.value, l.value);
    }
  EXPECT_LT(rel(a.change[2].profile.lower.value, 50 * a.coef_profiles[1].lower.value), 1e-9);
  EXPECT_LT(rel(a.change[2].profile.upper.value, 50 * a.coef_profiles[1].upper.value), 1e-9);
  EXPECT_GT(a.probability_ratio.pr, 1);
}

// The fixed-dispersion fit of the Uccle rain maxima on the year against the
// 60-digit references of make_dispersion_reference.py; the same fit for
// another origin and unit of the year (the ratio a / mu0 per unit, xi and
// the levels unchanged).
TEST(Nonstationary, DispersionModelMatchesTheReferences) {
  const auto x = read("uccle_dayrain");
  const auto t = years(x.size(), 1938);
  const NsModel model{NsFamily::gev, true, false, true};
  const NsAnalysis a = analyze_nonstationary({x, {t}, {"time"}}, model, {{100}, {}, {}});
  ASSERT_TRUE(a.fit.ok) << a.fit.error;
  ASSERT_EQ(a.fit.names, (std::vector<std::string>{"mu0", "a_time", "sigma0", "xi"}));
  const double coef[] = {12.17160728328217057997602568884, 5.270819446057718919077838068468e-3,
                         3.871057013558924518255459853268, 0.2321287015087137022697842088304};
  const double se[] = {134.1070988796839557656735866533, 1.052224207995407494519364418833e-2,
                       42.66322821576656374180867268210, 0.2132638172528227510193354078585};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_LT(rel(a.fit.coef[i], coef[i]), 1e-8) << a.fit.names[i];
    EXPECT_LT(rel(a.fit.se[i], se[i]), 1e-6) << a.fit.names[i];
  }
  EXPECT_LT(rel(a.fit.loglik, -136.9041826350083115923472380589), 1e-12);
  ASSERT_EQ(a.lr_tests.size(), 2u);
  EXPECT_EQ(a.lr_tests[0].against, "stationary");
  EXPECT_EQ(a.lr_tests[0].df, 1);
  EXPECT_NEAR(a.lr_tests[0].statistic, 0.0058989654421915738939238822, 1e-9);
  ASSERT_EQ(a.at.size(), 2u);
  const double rl[] = {101.8598249503537256165612613200, 103.3706463462451763419735426075};
  const double rl_se[] = {40.14877808810059348117305757800, 41.22412084636462347959461270564};
  for (std::size_t j = 0; j < 2; ++j) {
    EXPECT_LT(rel(a.at[j].levels[0].value, rl[j]), 1e-8);
    EXPECT_LT(rel(a.at[j].levels[0].se, rl_se[j]), 1e-6);
  }
  EXPECT_LT(rel(a.change[0].value, rl[1] - rl[0]), 1e-7);
  // sigma / mu is the same at every year.
  EXPECT_LT(rel(a.sigma_ref.value / a.mu_ref.value, coef[2] / coef[0]), 1e-9);
  // Both profile bounds of ln PR exist, however the year is written; the
  // lower one is reached only through nearer contours.
  auto ln_pr_bounds = [](const NsAnalysis& r) {
    const NsProbabilityRatio& pr = r.probability_ratio;
    ASSERT_TRUE(pr.error.empty()) << pr.error;
    ASSERT_TRUE(pr.profile.lower.reason.empty() && pr.profile.upper.reason.empty())
        << pr.profile.lower.reason << "; " << pr.profile.upper.reason;
    EXPECT_TRUE(std::isfinite(pr.profile.lower.value) && std::isfinite(pr.profile.upper.value));
    EXPECT_LT(pr.profile.lower.value, pr.ln_pr);
    EXPECT_GT(pr.profile.upper.value, pr.ln_pr);
  };
  ln_pr_bounds(a);
  EXPECT_NEAR(a.probability_ratio.profile.lower.value, -8.89918, 1e-4);
  for (const auto& [shift, scale] : std::vector<std::pair<double, double>>{{-1938, 1}, {-1900, 0.01}}) {
    std::vector<double> u(t);
    for (double& v : u) v = (v + shift) * scale;
    const NsAnalysis b = analyze_nonstationary({x, {u}, {"time"}}, model, {{100}, {}, {}});
    ASSERT_TRUE(b.fit.ok) << b.fit.error;
    EXPECT_LT(rel(b.fit.loglik, a.fit.loglik), 1e-12);
    EXPECT_LT(rel(b.fit.coef[1] / b.fit.coef[0] * scale, coef[1] / coef[0]), 1e-7);
    EXPECT_LT(rel(b.fit.coef[3], coef[3]), 1e-7);
    EXPECT_LT(rel(b.at[1].levels[0].value, rl[1]), 1e-8);
    EXPECT_LT(rel(b.at[1].levels[0].se, rl_se[1]), 1e-6);
    ln_pr_bounds(b);
    EXPECT_LT(rel(b.probability_ratio.profile.lower.value, a.probability_ratio.profile.lower.value), 1e-6);
  }
}

// Everything but the intercept at covariate 0 is the same whatever the
// covariate's origin and unit: years, years from 1930, centuries, 1e6 offsets.
TEST(Nonstationary, InvariantToTheCovariatesOriginAndUnit) {
  const auto x = read("portpirie_sealevel");
  for (const NsModel model : {NsModel{NsFamily::gev, true, false}, NsModel{NsFamily::gev, true, true}}) {
    const auto base = years(x.size(), 1923);
    const NsAnalysis a = analyze_nonstationary({x, {base}, {"time"}}, model, {});
    ASSERT_TRUE(a.fit.ok) << a.fit.error;
    for (const auto& [shift, scale] : std::vector<std::pair<double, double>>{{-1923, 1}, {0, 0.01}, {1e6, 1}, {-1950, -3}}) {
      std::vector<double> t(base);
      for (double& v : t) v = (v + shift) * scale;
      const NsAnalysis b = analyze_nonstationary({x, {t}, {"time"}}, model, {});
      ASSERT_TRUE(b.fit.ok) << b.fit.error;
      EXPECT_LT(rel(b.fit.loglik, a.fit.loglik), 1e-12);
      for (std::size_t i = 0; i < a.fit.coef.size(); ++i) {
        const std::string& name = a.fit.names[i];
        if (name == "mu0" || name == "log_sigma0") continue;
        const double f = name.rfind("_time") != std::string::npos ? scale : 1;
        EXPECT_LT(rel(b.fit.coef[i] * f, a.fit.coef[i]), 1e-8) << name;
        EXPECT_LT(rel(b.fit.se[i] * std::fabs(f), a.fit.se[i]), 1e-6) << name;
      }
      for (std::size_t j = 0; j < a.at.size(); ++j)
        for (std::size_t k = 0; k < a.at[j].levels.size(); ++k) {
          const NsLevel &p = a.at[j].levels[k], &q = b.at[j].levels[k];
          EXPECT_LT(rel(q.value, p.value), 1e-9);
          EXPECT_LT(rel(q.profile.lower.value, p.profile.lower.value), 1e-7);
          EXPECT_LT(rel(q.profile.upper.value, p.profile.upper.value), 1e-7);
        }
      EXPECT_LT(rel(b.mu_ref.value, a.mu_ref.value), 1e-9);
    }
  }
}

// Without a trend the fit is the stationary one; a covariate that explains
// nothing leaves a slope of 0.
TEST(Nonstationary, StationaryIsTheZeroSlopeCase) {
  auto x = read("oxford_maxtemp");
  NsData none{x, {}, {}};
  const NsFit s = fit_nonstationary(none, {});
  std::vector<double> sorted(x);
  std::sort(sorted.begin(), sorted.end());
  const GevEstimate g = fit_gev_mle(sorted);
  ASSERT_TRUE(s.ok && g.ok);
  EXPECT_LT(rel(s.loglik, g.loglik), 1e-12);
  EXPECT_LT(rel(s.coef[0], g.d.loc), 1e-9);
  EXPECT_LT(rel(s.coef[1], g.d.scale), 1e-9);
  EXPECT_LT(rel(s.coef[2], g.d.shape), 1e-8);
  EXPECT_LT(rel(s.se[2], std::sqrt(g.cov[2][2])), 1e-6);
  // A symmetric covariate with a symmetric sample: values mirrored around the
  // middle of time give a slope of exactly 0 by symmetry.
  std::vector<double> y(x.begin(), x.begin() + 40);
  for (std::size_t i = 0; i < 40; ++i) y.push_back(x[39 - i]);
  std::vector<double> tt(80);
  for (std::size_t i = 0; i < 80; ++i) tt[i] = static_cast<double>(i) - 39.5;
  const NsFit m = fit_nonstationary({y, {tt}, {"time"}}, {});
  ASSERT_TRUE(m.ok) << m.error;
  EXPECT_LT(std::fabs(m.coef[1]), 1e-9 * m.coef[2]);
  std::vector<double> sy(y);
  std::sort(sy.begin(), sy.end());
  EXPECT_LT(rel(m.loglik, fit_gev_mle(sy).loglik), 1e-12);
  // The GPD with no trend is the stationary GPD.
  const auto exc = read("gpd_heavy");
  const NsFit gp = fit_nonstationary({exc, {}, {}}, {NsFamily::gpd, false, true});
  const GpdEstimate ge = fit_gpd_mle(exc);
  ASSERT_TRUE(gp.ok && ge.ok) << gp.error;
  EXPECT_LT(rel(gp.loglik, ge.loglik), 1e-10);
  EXPECT_LT(rel(gp.coef[0], ge.scale), 1e-7);
  EXPECT_LT(rel(gp.coef[1], ge.shape), 1e-7);
}

// The analytic gradient and Hessian against central differences, for each
// family and a point away from the maximum.
TEST(Nonstationary, DerivativesMatchDifferences) {
  for (const NsModel model : {NsModel{NsFamily::gev, true, true}, NsModel{NsFamily::gpd, false, true},
                              NsModel{NsFamily::gev, true, false, true}}) {
    const auto y = read(model.family == NsFamily::gpd ? "gpd_heavy" : "portpirie_sealevel");
    const auto t = years(y.size(), 1923);
    std::vector<double> t2(t.size());
    for (std::size_t i = 0; i < t.size(); ++i) t2[i] = std::sin(0.7 * static_cast<double>(i));
    const NsFit f = fit_nonstationary({y, {t, t2}, {"time", "wave"}}, model);
    ASSERT_TRUE(f.ok) << f.error;
    const std::size_t k = f.theta.size();
    std::vector<double> th(f.theta);
    for (std::size_t i = 0; i < k; ++i) th[i] += 0.01 * (static_cast<double>(i % 3) - 1);
    th[0] = model.family == NsFamily::gpd ? 0.03 : -0.2;  // both forms near 0 and away
    double l;
    std::vector<double> g(k), h(k * k), gp(k), gm(k);
    ASSERT_TRUE(ns_loglik(f, th.data(), l, g.data(), h.data()));
    for (std::size_t i = 0; i < k; ++i) {
      const double e = 1e-5;
      auto a = th, b = th;
      a[i] += e;
      b[i] -= e;
      double la, lb;
      ASSERT_TRUE(ns_loglik(f, a.data(), la, gp.data(), nullptr));
      ASSERT_TRUE(ns_loglik(f, b.data(), lb, gm.data(), nullptr));
      EXPECT_NEAR(g[i], (la - lb) / (2 * e), 1e-6 * (1 + std::fabs(g[i]))) << i;
      for (std::size_t j = 0; j < k; ++j)
        EXPECT_NEAR(h[i * k + j], (gp[j] - gm[j]) / (2 * e), 1e-5 * (1 + std::fabs(h[i * k + j]))) << i << "," << j;
    }
  }
}

// A location trend with one scale takes the straight sums: they must be the
// general ones at scale slopes 0, in each form of the terms (logarithm,
// series near shape 0, both).
TEST(Nonstationary, LocationTrendSumsAreTheGeneralOnes) {
  const auto y = read("portpirie_sealevel");
  const auto t = years(y.size(), 1923);
  std::vector<double> t2(t.size());
  for (std::size_t i = 0; i < t.size(); ++i) t2[i] = std::sin(0.7 * static_cast<double>(i));
  const NsFit f = fit_nonstationary({y, {t, t2}, {"time", "wave"}}, NsModel{NsFamily::gev, true, false});
  ASSERT_TRUE(f.ok) << f.error;
  NsFit wide = f;
  wide.model.scale = true;
  const std::size_t k = f.theta.size(), kw = k + 2;
  for (double xi : {-0.2, 0.0, 0.01, 0.3}) {
    std::vector<double> th(f.theta);
    th[0] = xi;
    th[2] += 0.05;
    std::vector<double> tw(th);
    tw.resize(kw, 0.0);
    double l, lw;
    std::vector<double> g(k), h(k * k), gw(kw), hw(kw * kw);
    ASSERT_TRUE(ns_loglik(f, th.data(), l, g.data(), h.data()));
    ASSERT_TRUE(ns_loglik(wide, tw.data(), lw, gw.data(), hw.data()));
    EXPECT_NEAR(l, lw, 1e-12 * std::fabs(lw)) << xi;
    for (std::size_t i = 0; i < k; ++i) {
      EXPECT_NEAR(g[i], gw[i], 1e-11 * (1 + std::fabs(gw[i]))) << xi << " " << i;
      for (std::size_t j = 0; j < k; ++j)
        EXPECT_NEAR(h[i * k + j], hw[i * kw + j], 1e-11 * (1 + std::fabs(hw[i * kw + j]))) << xi << " " << i << j;
    }
    ASSERT_TRUE(ns_loglik(f, th.data(), lw, gw.data(), nullptr));
    EXPECT_EQ(l, lw);
  }
}

TEST(Nonstationary, BadInputIsAClearError) {
  const auto x = read("uccle_dayrain");
  const auto t = years(x.size(), 1938);
  const std::vector<double> flat(x.size(), 3.0);
  std::vector<double> twice(t);
  for (double& v : twice) v = 2 * v - 7;
  const std::vector<double> few(x.begin(), x.begin() + 5), few_t(t.begin(), t.begin() + 5);
  const std::vector<std::pair<NsFit, std::string>> cases{
      {fit_nonstationary({x, {flat}, {"enso"}}, {}), "covariate enso is constant over the series"},
      {fit_nonstationary({x, {t, twice}, {"a", "b"}}, {}), "the covariates are collinear"},
      {fit_nonstationary({few, {few_t}, {"time"}}, {}), "too few values: 5 for 4 parameters (at least parameters + 2 are needed)"},
  };
  for (const auto& [f, message] : cases) {
    EXPECT_FALSE(f.ok);
    EXPECT_EQ(f.error, message);
    EXPECT_TRUE(f.coef.empty());
  }
}

// Converged (the gradient at 0 in standardised units) or a clear error over
// shapes, sizes, trends and magnitudes.
TEST(Nonstationary, RobustnessSweep) {
  detail::Xoshiro256ss rng(20261210);
  int converged = 0, total = 0;
  for (const double xi : {-0.5, -0.2, 0.0, 0.3, 0.8})
    for (const std::size_t n : {20u, 200u, 5000u})
      for (const double scale : {1e-100, 1.0, 1e100})
        for (const double trend : {0.0, 0.02}) {
          std::vector<double> x(n), t(n);
          for (std::size_t i = 0; i < n; ++i) {
            t[i] = 1e6 + static_cast<double>(i);
            const double e = -std::log(-std::log(rng.uniform()));
            const double w = xi == 0 ? e : std::expm1(xi * e) / xi;
            x[i] = scale * (100 + trend * static_cast<double>(i) * 20 / static_cast<double>(n) * 10 + 10 * w);
          }
          const NsFit f = fit_nonstationary({x, {t}, {"time"}}, {});
          ++total;
          if (!f.ok) {
            EXPECT_FALSE(f.error.empty());
            continue;
          }
          ++converged;
          double l;
          std::vector<double> g(f.theta.size());
          ASSERT_TRUE(ns_loglik(f, f.theta.data(), l, g.data(), nullptr));
          for (double v : g) EXPECT_LT(std::fabs(v), 1e-6 * std::sqrt(static_cast<double>(n)));
          EXPECT_NEAR(f.coef.back(), xi, 8 / std::sqrt(static_cast<double>(n)) + 0.1);
        }
  EXPECT_GE(converged, total * 9 / 10);
}

// A long series is summed in blocks (on several threads): its
// log-likelihood, gradient and Hessian are the sums of its pieces' and the
// same bit for bit on every call.
TEST(Nonstationary, LongSeriesSumsAreThoseOfItsPieces) {
  detail::Xoshiro256ss rng(7);
  const std::size_t n = 70001, cut = 12289;
  std::vector<double> x(n), t(n), w(n);
  for (std::size_t i = 0; i < n; ++i) {
    t[i] = static_cast<double>(i) / static_cast<double>(n);
    w[i] = std::sin(0.01 * static_cast<double>(i));
    x[i] = 30 + 2 * t[i] - 5 * std::log(-std::log(rng.uniform()));
  }
  for (const NsModel model : {NsModel{NsFamily::gev, true, true}, NsModel{NsFamily::gpd, false, true}}) {
    std::vector<double> y = x;
    if (model.family == NsFamily::gpd)
      for (double& v : y) v = std::exp(v / 20);
    // Fitted to the first 2000 values (quickly), then given the whole series.
    const std::span<const double> t0(t.data(), 2000), w0(w.data(), 2000);
    NsFit f = fit_nonstationary({std::span<const double>(y.data(), 2000), {t0, w0}, {"t", "w"}}, model);
    ASSERT_TRUE(f.ok) << f.error;
    f.n = n;
    f.y.resize(n);
    f.cs.resize(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
      f.y[i] = (y[i] - f.centre) / f.unit;
      f.cs[i] = (t[i] - f.mean[0]) / f.spread[0];
      f.cs[n + i] = (w[i] - f.mean[1]) / f.spread[1];
    }
    const std::size_t k = f.theta.size();
    std::vector<double> th(f.theta);
    for (std::size_t i = 1; i < k; ++i) th[i] += 0.01;
    th[0] = 0;  // the extrapolated fit's support is everything
    double l, l2, la, lb;
    std::vector<double> g(k), h(k * k), g2(k), h2(k * k), ga(k), ha(k * k), gb(k), hb(k * k);
    ASSERT_TRUE(ns_loglik(f, th.data(), l, g.data(), h.data()));
    ASSERT_TRUE(ns_loglik(f, th.data(), l2, g2.data(), h2.data()));
    EXPECT_EQ(l, l2);
    EXPECT_EQ(g, g2);
    EXPECT_EQ(h, h2);
    auto piece = [&](std::size_t from, std::size_t to) {
      NsFit p = f;
      p.n = to - from;
      p.y.assign(f.y.begin() + static_cast<std::ptrdiff_t>(from), f.y.begin() + static_cast<std::ptrdiff_t>(to));
      p.cs.clear();
      for (std::size_t a = 0; a < f.p; ++a)
        p.cs.insert(p.cs.end(), f.cs.begin() + static_cast<std::ptrdiff_t>(a * n + from),
                    f.cs.begin() + static_cast<std::ptrdiff_t>(a * n + to));
      return p;
    };
    ASSERT_TRUE(ns_loglik(piece(0, cut), th.data(), la, ga.data(), ha.data()));
    ASSERT_TRUE(ns_loglik(piece(cut, n), th.data(), lb, gb.data(), hb.data()));
    EXPECT_NEAR(l, la + lb, 1e-12 * std::fabs(l));
    for (std::size_t i = 0; i < k; ++i) EXPECT_NEAR(g[i], ga[i] + gb[i], 1e-9 * (1 + std::fabs(g[i]))) << i;
    for (std::size_t i = 0; i < k * k; ++i) EXPECT_NEAR(h[i], ha[i] + hb[i], 1e-9 * (1 + std::fabs(h[i]))) << i;
  }
}

// The largest f over R^m from x by Nelder and Mead, restarted from its
// best point until it stops gaining; f is -inf outside its domain. x ends
// at the best point.
template <class F>
double nelder_mead(F&& f, std::vector<double>& x, std::vector<double> step) {
  const std::size_t m = x.size();
  double best = f(x);
  for (int restart = 0; restart < 6; ++restart) {
    std::vector<std::vector<double>> p(m + 1, x);
    std::vector<double> v(m + 1);
    for (std::size_t i = 0; i < m; ++i) p[i + 1][i] += step[i];
    for (std::size_t i = 0; i <= m; ++i) v[i] = f(p[i]);
    for (int it = 0; it < 4000; ++it) {
      std::vector<std::size_t> o(m + 1);
      for (std::size_t i = 0; i <= m; ++i) o[i] = i;
      std::sort(o.begin(), o.end(), [&](std::size_t a, std::size_t b) { return v[a] > v[b]; });
      if (v[o[0]] - v[o[m]] < 1e-13) break;
      std::vector<double> c(m, 0.0);
      for (std::size_t i = 0; i < m; ++i)
        for (std::size_t j = 0; j < m; ++j) c[j] += p[o[i]][j] / static_cast<double>(m);
      auto along = [&](double t) {
        std::vector<double> y(m);
        for (std::size_t j = 0; j < m; ++j) y[j] = c[j] + t * (p[o[m]][j] - c[j]);
        return y;
      };
      const std::size_t w = o[m];
      auto r = along(-1);
      const double vr = f(r);
      if (vr > v[o[0]]) {
        auto e = along(-2);
        const double ve = f(e);
        if (ve > vr) p[w] = e, v[w] = ve;
        else p[w] = r, v[w] = vr;
      } else if (vr > v[o[m - 1]]) {
        p[w] = r, v[w] = vr;
      } else {
        auto k = along(0.5);
        const double vk = f(k);
        if (vk > v[w]) {
          p[w] = k, v[w] = vk;
        } else {
          for (std::size_t i = 1; i <= m; ++i) {
            for (std::size_t j = 0; j < m; ++j) p[o[i]][j] = 0.5 * (p[o[i]][j] + p[o[0]][j]);
            v[o[i]] = f(p[o[i]]);
          }
        }
      }
    }
    const std::size_t top = static_cast<std::size_t>(std::max_element(v.begin(), v.end()) - v.begin());
    const bool gained = v[top] > best + 1e-13;
    if (v[top] >= best) best = v[top], x = p[top];
    if (!gained && restart > 0) break;
    for (double& d : step) d *= 0.1;
  }
  return best;
}

// At each profile bound of the GPD's and the dispersion model's effective
// levels, changes and ln PR, the largest log-likelihood with the quantity
// held there (one coordinate solved from it, the other parameters maximised
// without derivatives) lies crit / 2 below the maximum.
TEST(Nonstationary, ProfileDevianceAtTheBoundsIsTheChiSquareQuantile) {
  const double crit = 3.841458820694124;  // chi-square(1) at 0.95
  struct Case {
    std::string series;
    NsModel model;
  };
  for (const Case& c : {Case{"gpd_heavy", {NsFamily::gpd, false, true}}, Case{"gpd_bounded", {NsFamily::gpd, false, true}},
                        Case{"uccle_dayrain", {NsFamily::gev, true, false, true}}}) {
    SCOPED_TRACE(c.series);
    const auto x = read(c.series);
    const auto t = years(x.size(), 1938);
    const bool gpd = c.model.family == NsFamily::gpd;
    NsRequest req;
    req.periods = {100};
    req.threshold = gpd ? 2 : 0;  // the excesses over a threshold of 2
    req.rate = 3;
    const NsAnalysis a = analyze_nonstationary({x, {t}, {"time"}}, c.model, req);
    ASSERT_TRUE(a.fit.ok) << a.fit.error;
    const NsFit& f = a.fit;
    double lhat;
    std::vector<double> g(f.theta.size());
    ASSERT_TRUE(ns_loglik(f, f.theta.data(), lhat, g.data(), nullptr));
    const double y0 = gpd ? std::log(req.rate * 100) : -std::log(-std::log1p(-0.01));
    const double c0 = (t.front() - f.mean[0]) / f.spread[0], c1 = (t.back() - f.mean[0]) / f.spread[0];
    // ln P(X > x) at standardised point c under th (standardised x).
    auto log_survival = [&](const std::vector<double>& th, double x, double c) {
      const double xi = th[0], e = gpd ? 0 : th[2] * c;
      const double mu = gpd ? 0 : th[1] * std::exp(e), ls = gpd ? th[1] + th[2] * c : th[3] + e;
      const double z = (x - mu) * std::exp(-ls), w = std::fabs(xi) < 1e-12 ? z : std::log1p(xi * z) / xi;
      if (!(1 + xi * z > 0)) return xi > 0 ? 0.0 : -HUGE_VAL;
      return gpd ? -w : std::log(-std::expm1(-std::exp(-w)));
    };
    const double xs = (a.probability_ratio.level - (gpd ? req.threshold : f.centre)) / f.unit;
    // theta from the free coordinates with the level at c (or its change
    // from c0 to c, or ln PR of xs from c0 to c1) at q, standardised. A level
    // solves for the scale (GPD: s0 from xi, s1; dispersion: ln s0 from xi,
    // m0, b), a change and ln PR for the slope b (GPD: from xi, s0;
    // dispersion: from xi, m0, ln s0) by bisection: exp(b c) - exp(b c0) and
    // ln PR increase with b as c0 < 0 < c.
    enum What { level, change, ln_pr };
    auto theta = [&](const std::vector<double>& v, double q, double c, What what, std::vector<double>& th) {
      const double xi = v[0], y = std::fabs(xi) < 1e-12 ? y0 : std::expm1(xi * y0) / xi;
      if (what == ln_pr) {
        double lo = -60, hi = 60;
        for (int i = 0; i < 200; ++i) {
          const double mid = 0.5 * (lo + hi);
          th = gpd ? std::vector<double>{xi, v[1], mid} : std::vector<double>{xi, v[1], mid, v[2]};
          (log_survival(th, xs, c1) - log_survival(th, xs, c0) < q ? lo : hi) = mid;
        }
        th = gpd ? std::vector<double>{xi, v[1], lo} : std::vector<double>{xi, v[1], lo, v[2]};
        return true;
      }
      if (what == level) {
        const double e = std::exp(v[gpd ? 1 : 2] * c), s = (gpd ? q / e : q / e - v[1]) / y;
        if (!(s > 0)) return false;
        th = gpd ? std::vector<double>{xi, std::log(s), v[1]} : std::vector<double>{xi, v[1], v[2], std::log(s)};
        return true;
      }
      const double amp = gpd ? y * std::exp(v[1]) : v[1] + std::exp(v[2]) * y, r = q / amp;
      double lo = -60, hi = 60;
      for (int i = 0; i < 200; ++i) {
        const double mid = 0.5 * (lo + hi);
        (std::exp(mid * c) - std::exp(mid * c0) < r ? lo : hi) = mid;
      }
      th = gpd ? std::vector<double>{xi, v[1], lo} : std::vector<double>{xi, v[1], lo, v[2]};
      return std::isfinite(r);
    };
    // Continued from the estimate to the bound in steps, each maximisation
    // starting from the last one's point.
    auto deviance = [&](double bound, double estimate, double offset, double c, What what) {
      std::vector<double> v;
      if (gpd) v = {f.theta[0], f.theta[what != level ? 1 : 2]};
      else v = what != level ? std::vector<double>{f.theta[0], f.theta[1], f.theta[3]}
                             : std::vector<double>{f.theta[0], f.theta[1], f.theta[2]};
      double best = -HUGE_VAL;
      for (int j = 1; j <= 5; ++j) {
        const double at = estimate + (bound - estimate) * j / 5;
        const double q = what == ln_pr ? at : (at - offset) / f.unit;
        auto l = [&](const std::vector<double>& u) {
          std::vector<double> th, gr(f.theta.size());
          double value;
          if (!theta(u, q, c, what, th) || !ns_loglik(f, th.data(), value, gr.data(), nullptr)) return -HUGE_VAL;
          return value;
        };
        best = nelder_mead(l, v, std::vector<double>(v.size(), 0.05));
      }
      return 2 * (lhat - best);
    };
    for (int p = 0; p < 2; ++p) {
      const ProfileInterval& b = a.at[p].levels[0].profile;
      ASSERT_TRUE(b.lower.reason.empty() && b.upper.reason.empty()) << b.lower.reason << b.upper.reason;
      const double value = a.at[p].levels[0].value;
      for (double v : {b.lower.value, b.upper.value})
        EXPECT_NEAR(deviance(v, value, req.threshold, p == 0 ? c0 : c1, level), crit, 1e-6) << "level " << p << " " << v;
    }
    const ProfileInterval& b = a.change[0].profile;
    ASSERT_TRUE(b.lower.reason.empty() && b.upper.reason.empty()) << b.lower.reason << b.upper.reason;
    for (double v : {b.lower.value, b.upper.value})
      EXPECT_NEAR(deviance(v, a.change[0].value, 0, c1, change), crit, 1e-6) << "change " << v;
    // ln PR is profiled too (unless the level is beyond an end).
    const NsProbabilityRatio& pr = a.probability_ratio;
    if (pr.error.empty()) {
      ASSERT_TRUE(pr.profile.lower.value < pr.ln_pr && pr.ln_pr < pr.profile.upper.value)
          << pr.profile.lower.reason << "; " << pr.profile.upper.reason;
      for (double v : {pr.profile.lower.value, pr.profile.upper.value})
        EXPECT_NEAR(deviance(v, pr.ln_pr, 0, c1, ln_pr), crit, 1e-6) << "ln PR " << v;
    } else {
      EXPECT_TRUE(gpd) << pr.error;
    }
  }
}

// Mann-Kendall and Sen's slope on a hand-checked series with ties.
TEST(Trend, MannKendallAndSensSlope) {
  const std::vector<double> t{1, 2, 3, 4, 5, 6}, x{1, 3, 2, 3, 5, 4};
  const MannKendall m = mann_kendall(t, x);
  // 15 pairs: 12 up, 2 down, 1 tied (the two 3s).
  EXPECT_EQ(m.s, 10);
  // 6 * 5 * 17 / 18 minus the tie group of two: 2 * 1 * 9 / 18.
  EXPECT_NEAR(m.var_s, (510.0 - 18.0) / 18, 1e-12);
  EXPECT_NEAR(m.z, 9 / std::sqrt(492.0 / 18), 1e-12);
  EXPECT_NEAR(m.p, std::erfc(m.z / std::sqrt(2.0)), 1e-15);
  const SenSlope s = sen_slope(t, x);
  EXPECT_DOUBLE_EQ(s.slope, 0.6666666666666666);
  EXPECT_LE(s.lower, s.slope);
  EXPECT_GE(s.upper, s.slope);
  // Time order, not file order, decides; reversed time flips the sign.
  const std::vector<double> back{6, 5, 4, 3, 2, 1};
  EXPECT_EQ(mann_kendall(back, x).s, -10);
  EXPECT_DOUBLE_EQ(sen_slope(back, x).slope, -s.slope);
}

}  // namespace
}  // namespace korvalinde::stats
