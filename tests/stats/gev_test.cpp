// The GEV fits against 30-digit references (make_gev_reference.py) on eight
// real samples, maximum likelihood on samples drawn over the shape, size and
// magnitude ranges, and the distribution's meeting with the Gumbel at 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <map>
#include <span>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "korvalinde/detail/random.hpp"
#include "korvalinde/dist/normal.hpp"
#include "korvalinde/stats/estimate.hpp"
#include "korvalinde/stats/gev.hpp"
#include "korvalinde/stats/profile.hpp"

namespace korvalinde::stats {
namespace {

const std::string kData = KORVALINDE_STATS_DATA;

std::vector<double> read_sorted(const std::string& name) {
  std::ifstream in(kData + "/" + name + ".txt");
  std::vector<double> x;
  for (double v; in >> v;) x.push_back(v);
  std::sort(x.begin(), x.end());
  return x;
}

void expect_rel(double got, double want, double tol, const char* what) {
  EXPECT_LE(std::fabs(got - want), tol * std::fabs(want)) << what << ": got " << got << " want " << want;
}

TEST(GevReference, EightRealSamples) {
  std::ifstream in(kData + "/gev_reference.txt");
  std::map<std::string, std::map<std::string, double>> ref;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream f(line);
    std::string sample, key, value;
    f >> sample >> key >> value;
    ref[sample][key] = std::stod(value);
  }
  ASSERT_EQ(ref.size(), 8u);
  const double crit = dist::chi2_1_quantile(0.95);
  EXPECT_NEAR(crit, 3.841458820694126, 1e-15);
  const double y100 = dist::gumbel_period_reduced(100);
  for (const auto& [name, r] : ref) {
    SCOPED_TRACE(name);
    const std::vector<double> x = read_sorted(name);
    const GevEstimate lm = fit_gev_lmom(x);
    ASSERT_TRUE(lm.ok) << lm.error;
    expect_rel(lm.d.loc, r.at("lmom_loc"), 1e-10, "lmom loc");
    expect_rel(lm.d.scale, r.at("lmom_scale"), 1e-10, "lmom scale");
    expect_rel(lm.d.shape, r.at("lmom_shape"), 1e-10, "lmom shape");

    const GevEstimate e = fit_gev_mle(x);
    ASSERT_TRUE(e.ok) << e.error;
    expect_rel(e.d.loc, r.at("mle_loc"), 1e-8, "mle loc");
    expect_rel(e.d.scale, r.at("mle_scale"), 1e-8, "mle scale");
    EXPECT_NEAR(e.d.shape, r.at("mle_shape"), 1e-8);
    expect_rel(std::sqrt(e.cov[0][0]), r.at("mle_se_loc"), 1e-6, "se loc");
    expect_rel(std::sqrt(e.cov[1][1]), r.at("mle_se_scale"), 1e-6, "se scale");
    expect_rel(std::sqrt(e.cov[2][2]), r.at("mle_se_shape"), 1e-6, "se shape");
    EXPECT_NEAR(e.loglik, r.at("mle_loglik"), 1e-9);

    const Estimation g = fit_mle(x);
    EXPECT_NEAR(gumbel_test(e.loglik, g.loglik).statistic, r.at("deviance"), 1e-9);

    const ProfileInterval shape = gev_shape_profile(e, crit);
    expect_rel(shape.lower.value, r.at("shape_lower"), 1e-7, "shape lower");
    expect_rel(shape.upper.value, r.at("shape_upper"), 1e-7, "shape upper");
    const std::span<const double> level(&y100, 1);
    const ProfileInterval rl = gev_quantile_profiles(e, level, crit)[0];
    expect_rel(rl.lower.value, r.at("rl100_lower"), 1e-7, "rl100 lower");
    expect_rel(rl.upper.value, r.at("rl100_upper"), 1e-7, "rl100 upper");
    const ProfileInterval grl = gumbel_quantile_profiles(x, g.a, g.b, level, crit)[0];
    expect_rel(grl.lower.value, r.at("gumbel_rl100_lower"), 1e-7, "gumbel rl100 lower");
    expect_rel(grl.upper.value, r.at("gumbel_rl100_upper"), 1e-7, "gumbel rl100 upper");
  }
}

// Converged (the gradient vanishes on the standardised scale, the
// information is positive definite) or a clear error, never a silent number.
TEST(GevMle, ConvergesOverShapesSizesAndMagnitudes) {
  int fitted = 0;
  for (const double shape : {-0.6, -0.3, -1e-9, 0.0, 0.2, 0.5, 0.9}) {
    for (const std::size_t n : {10, 100, 1000, 100000}) {
      for (const auto& [loc, scale] : std::vector<std::pair<double, double>>{
               {1e9, 1.0}, {0.0, 1e-100}, {0.0, 1e100}, {-3.0, 2.0}}) {
        if (n == 100000 && loc != 1e9) continue;  // the long sample once suffices
        SCOPED_TRACE(::testing::Message() << "shape " << shape << " n " << n << " loc " << loc
                                          << " scale " << scale);
        auto rng = detail::Xoshiro256ss::stream(7, fitted++);
        std::vector<double> x(n);
        for (double& v : x) v = dist::quantile(dist::Gev{loc, scale, shape}, rng.uniform());
        std::sort(x.begin(), x.end());
        const GevEstimate e = fit_gev_mle(x);
        if (!e.ok) {
          EXPECT_FALSE(e.error.empty());
          EXPECT_TRUE(std::isnan(e.d.loc) && std::isnan(e.loglik));
          EXPECT_EQ(n, 10u) << e.error;  // only the shortest samples
          continue;
        }
        Derivs<3> d;
        ASSERT_TRUE(gev_loglik(e.sample, e.theta, d));
        for (int k = 0; k < 3; ++k)
          EXPECT_LE(std::fabs(d.g[k]) * std::sqrt(e.theta_cov[k][k]), 1e-6) << "gradient " << k;
        EXPECT_TRUE(e.theta_cov_valid);
        EXPECT_TRUE(std::isfinite(e.loglik));
        if (n >= 1000) {
          EXPECT_NEAR(e.d.shape, shape, 6 / std::sqrt(double(n)));
        }
      }
    }
  }
}

// The largest value of g on [lo, hi]: the best of m + 1 grid points, then a
// golden-section search between its neighbours.
template <class G>
double grid_max(const G& g, double lo, double hi, int m) {
  const double w = (hi - lo) / m;
  int k = 0;
  double v = -INFINITY;
  for (int j = 0; j <= m; ++j)
    if (const double gj = g(lo + j * w); gj > v) v = gj, k = j;
  lo += std::max(0, k - 1) * w;
  hi = lo + 2 * w;
  const double r = 0.5 * (std::sqrt(5.0) - 1);
  double a = hi - r * (hi - lo), b = lo + r * (hi - lo), ga = g(a), gb = g(b);
  while (hi - lo > 1e-10) {
    if (ga < gb) lo = a, a = b, ga = gb, b = lo + r * (hi - lo), gb = g(b);
    else hi = b, b = a, gb = ga, a = hi - r * (hi - lo), ga = g(a);
  }
  return std::max({v, ga, gb});
}

// The profile deviance 2 (l_max - l_p(z)) of the quantile with reduced
// variate y0 > 0 at level z, maximising over mu (with sigma = (z - mu) /
// y(xi)) and then over xi on wide grids: independent of the solver under
// test. (Over ln sigma instead, the likelihood of a long period's quantile
// of a heavy tail is a ridge too narrow for a grid.)
double profile_deviance(const GevEstimate& e, double y0, double level) {
  const double z = (level - e.sample.centre) / e.sample.unit;
  auto l = [&](double mu, double xi) {
    Derivs<3> d;
    const double width = z - mu;
    if (!(width > 0)) return -HUGE_VAL;
    const double ls = std::log(width / dist::gev_reduced(xi, y0));
    return gev_loglik(e.sample, {mu, ls, xi}, d) ? d.l : -HUGE_VAL;
  };
  const double mu = e.theta[0];
  const double best = grid_max([&](double x) {
    return grid_max([&](double m) { return l(m, x); }, mu - 4, std::min(mu + 4, z), 50);
  }, -0.95, e.theta[2] + 1.5, 50);
  return 2 * (e.loglik + static_cast<double>(e.sample.x.size()) * std::log(e.sample.unit) - best);
}

// Every end point of the profile intervals of 10 levels found together (each
// search starting from its neighbours' end points) is where the deviance
// reaches the critical value, first on the way out from the estimate; a
// missing end point has a reason and no number. Each level's interval is the
// one found for that level alone, the Gumbel's too.
TEST(GevProfile, EndPointsOfManyLevelsAreTheFirstCrossings) {
  const double crit = dist::chi2_1_quantile(0.95);
  std::vector<double> y0{dist::gumbel_reduced_closed(0.99)};
  for (const double t : {2, 5, 10, 20, 50, 100, 200, 500, 1000}) y0.push_back(dist::gumbel_period_reduced(t));
  int k = 0;
  for (const double shape : {-0.3, 0.0, 0.3, 0.6, 0.9})
    for (const std::size_t n : {30, 100}) {
      if (n == 30 && (shape == 0 || shape == 0.6)) continue;
      SCOPED_TRACE(::testing::Message() << "shape " << shape << " n " << n);
      auto rng = detail::Xoshiro256ss::stream(11, k++);
      std::vector<double> x(n);
      for (double& v : x) v = dist::quantile(dist::Gev{10, 2, shape}, rng.uniform());
      std::sort(x.begin(), x.end());
      const GevEstimate e = fit_gev_mle(x);
      ASSERT_TRUE(e.ok) << e.error;
      const std::vector<ProfileInterval> p = gev_quantile_profiles(e, y0, crit);
      const Estimation g = fit_mle(x);
      const std::vector<ProfileInterval> pg = gumbel_quantile_profiles(x, g.a, g.b, y0, crit);
      for (const std::size_t i : {0, 2, 5, 9}) {
        const std::span<const double> one(&y0[i], 1);
        const ProfileInterval alone = gev_quantile_profiles(e, one, crit)[0];
        const ProfileInterval gumbel_alone = gumbel_quantile_profiles(x, g.a, g.b, one, crit)[0];
        for (const auto& [together, single] :
             {std::pair{p[i].lower, alone.lower}, std::pair{p[i].upper, alone.upper},
              std::pair{pg[i].lower, gumbel_alone.lower}, std::pair{pg[i].upper, gumbel_alone.upper}}) {
          EXPECT_EQ(together.reason, single.reason);
          if (together.reason.empty()) expect_rel(together.value, single.value, 1e-10, "alone");
        }
        const double q = dist::quantile(e.d, std::exp(-std::exp(-y0[i])));
        for (const ProfileLimit& b : {p[i].lower, p[i].upper}) {
          SCOPED_TRACE(::testing::Message() << "y0 " << y0[i] << " bound " << b.value);
          if (!b.reason.empty()) {
            EXPECT_TRUE(std::isnan(b.value));
            continue;
          }
          EXPECT_NEAR(profile_deviance(e, y0[i], b.value), crit, 1e-6);
          EXPECT_LT(profile_deviance(e, y0[i], 0.5 * (q + b.value)), crit);
        }
      }
    }
}

// A level's profile bound searched by Newton from starts far beyond it,
// where l lies far below the target and the quadratic model is poor: the
// search draws back towards the estimate and lands on the bound found from
// the quadratic start, where the deviance is the critical value (the
// Gumbel's 100-year level of Port Pirie, theta = (level, ln sigma)).
TEST(GevProfile, LevelBoundFromStartsFarBelowTheTarget) {
  const auto x = read_sorted("portpirie_sealevel");
  const Estimation g = fit_mle(x);
  const double y = dist::gumbel_period_reduced(100), crit = dist::chi2_1_quantile(0.95);
  auto f = [&](const std::array<double, 2>& t, Derivs<2>& d) {
    const double sigma = std::exp(t[1]);
    d = {};
    for (double v : x) {
      const double z = (v - t[0]) / sigma + y, e = std::exp(-z), w = 1 - e;
      d.l += -t[1] - z - e;
      d.g[0] += w / sigma;
      d.g[1] += w * (z - y) - 1;
      d.h[0][0] -= e / (sigma * sigma);
      d.h[0][1] -= (e * (z - y) + w) / sigma;
      d.h[1][1] -= (z - y) * (e * (z - y) + w);
    }
    d.h[1][0] = d.h[0][1];
    return std::isfinite(d.l);
  };
  const std::array<double, 2> hat{g.a + g.b * y, std::log(g.b)};
  Derivs<2> d;
  ASSERT_TRUE(f(hat, d));
  const double lhat = d.l, se = std::sqrt(-d.h[1][1] / (d.h[0][0] * d.h[1][1] - d.h[0][1] * d.h[0][1]));
  for (const int dir : {-1, +1}) {
    const double near = bound_newton<2>(f, hat, lhat, se, crit, dir, INFINITY, 1e-12);
    ASSERT_TRUE(std::isfinite(near));
    // ln sigma maximised with the level held at the bound.
    std::array<double, 2> t{near, hat[1]};
    for (int i = 0; i < 50 && f(t, d); ++i) t[1] -= d.g[1] / d.h[1][1];
    ASSERT_TRUE(f(t, d));
    EXPECT_NEAR(2 * (lhat - d.l), crit, 1e-8) << dir;
    for (const double k : {10.0, 40.0})
      for (const double ds : {0.0, 1.0}) {
        const std::array<double, 2> far{hat[0] + dir * k * se, hat[1] + ds};
        ASSERT_TRUE(f(far, d));
        ASSERT_LT(d.l, lhat - 10 * crit);
        expect_rel(bound_newton<2>(f, hat, lhat, se, crit, dir, INFINITY, 1e-12, &far), near, 1e-10, "from far");
      }
  }
}

// The vectorised log-likelihood against a long double sum of the density
// over shapes from the series' range near 0 to both sides of it (values in
// both runs of a chunk), with its gradient against central differences of
// that sum; the same sample unsorted (the path for both kinds in every
// value) agrees, and a value outside the support is refused.
TEST(GevLoglik, MatchesLongDoubleSumsOnEveryPath) {
  auto ref = [](const std::vector<double>& x, long double mu, long double ls, long double xi) {
    long double l = 0;
    for (const double v : x) {
      const long double z = (v - mu) / std::exp(ls), w = 1 + xi * z;
      const long double lw = xi == 0 ? z : std::log(w) / xi;
      l += -ls - (1 + xi) * lw - std::exp(-lw);
    }
    return l;
  };
  auto rng = detail::Xoshiro256ss::stream(3, 0);
  for (const double xi : {-0.3, -0.04, 0.0, 1e-7, 0.02, 0.3}) {
    std::vector<double> x(300);
    for (double& v : x) v = dist::quantile(dist::Gev{0, 1, 0.1}, rng.uniform());
    x[0] = 0.1, x[1] = 0.1 + 1e-9, x[2] = 0.1 - 1e-12;  // u = xi z at and next to 0
    std::sort(x.begin(), x.end());
    if (xi < 0) std::erase_if(x, [&](double v) { return 1 + xi * (v - 0.1) <= 0.05; });
    const std::array<double, 3> t{0.1, -0.05, xi};
    Derivs<3> d, u;
    ASSERT_TRUE(gev_loglik(GevSample{x}, t, d)) << xi;
    const long double l = ref(x, t[0], t[1], t[2]);
    EXPECT_NEAR(d.l, static_cast<double>(l), 1e-14 * std::fabs(static_cast<double>(l))) << xi;
    for (int k = 0; k < 3; ++k) {
      std::array<long double, 3> a{t[0], t[1], t[2]}, b = a;
      a[k] += 1e-6L, b[k] -= 1e-6L;
      const double g = static_cast<double>((ref(x, a[0], a[1], a[2]) - ref(x, b[0], b[1], b[2])) / 2e-6L);
      EXPECT_NEAR(d.g[k], g, 1e-6 * (std::fabs(g) + x.size())) << xi << " gradient " << k;
    }
    std::vector<double> shuffled(x.rbegin(), x.rend());
    std::swap(shuffled[3], shuffled[150]);
    ASSERT_TRUE(gev_loglik(GevSample{shuffled}, t, u));
    EXPECT_NEAR(u.l, d.l, 1e-13 * std::fabs(d.l));
    for (int k = 0; k < 3; ++k)
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(u.h[k][j], d.h[k][j], 1e-12 * (std::fabs(d.h[k][j]) + 1));
  }
  std::vector<double> x{-1.0, 0.0, 1.0, 12.0};
  Derivs<3> d;
  EXPECT_FALSE(gev_loglik(GevSample{x}, {0, 0, -0.1}, d));
}

TEST(GevMle, ShapeBelowMinusOneIsAnError) {
  // Values piling up at an upper end point: the likelihood grows without bound.
  std::vector<double> x;
  for (int i = 1; i <= 50; ++i) x.push_back(dist::quantile(dist::Gev{0, 1, -1.5}, (i - 0.5) / 50));
  const GevEstimate e = fit_gev_mle(x);
  EXPECT_FALSE(e.ok);
  EXPECT_NE(e.error.find("no interior maximum"), std::string::npos) << e.error;
}

TEST(GevDistribution, MeetsTheGumbelAtShapeZero) {
  const dist::Gumbel g{3, 2};
  for (const double xi : {1e-12, -1e-12, 0.0}) {
    const dist::Gev d{3, 2, xi};
    for (double x = -20; x <= 60; x += 0.5) {
      SCOPED_TRACE(::testing::Message() << "xi " << xi << " x " << x);
      // The GEV's L = z - xi z^2 / 2 + ... moves t = e^-L by xi z^2 / 2
      // relative, and G = exp(-t) by t times that: the true difference.
      const double z = (x - 3) / 2, k = 1e-12 * (1 + z * z) * (1 + std::exp(-z));
      EXPECT_NEAR(dist::cdf(d, x), dist::cdf(g, x), k * dist::cdf(g, x));
      EXPECT_NEAR(dist::sf(d, x), dist::sf(g, x), k * dist::sf(g, x));
      EXPECT_NEAR(dist::pdf(d, x), dist::pdf(g, x), k * dist::pdf(g, x));
      EXPECT_NEAR(dist::log_cdf(d, x), dist::log_cdf(g, x), k * std::fabs(dist::log_cdf(g, x)));
      EXPECT_NEAR(dist::log_sf(d, x), dist::log_sf(g, x), k * std::fabs(dist::log_sf(g, x)));
    }
    for (const double p : {1e-300, 1e-10, 0.3, 0.99, 1 - 1e-12}) {
      // (e^(xi y) - 1) / xi = y + xi y^2 / 2 + ...
      const double lo = dist::quantile(g, p), hi = dist::quantile_complement(g, p);
      const double ylo = (lo - 3) / 2, yhi = (hi - 3) / 2;
      EXPECT_NEAR(dist::quantile(d, p), lo, 1e-12 * (1 + ylo * ylo) * (1 + std::fabs(lo)));
      EXPECT_NEAR(dist::quantile_complement(d, p), hi, 1e-12 * (1 + yhi * yhi) * (1 + std::fabs(hi)));
    }
  }
  // The fit is continuous through 0 too: a Gumbel-like sample's shape is
  // near 0 and the profile of its shape brackets it.
  std::vector<double> x;
  for (int i = 1; i <= 200; ++i) x.push_back(dist::quantile(g, (i - 0.5) / 200));
  const GevEstimate e = fit_gev_mle(x);
  ASSERT_TRUE(e.ok);
  EXPECT_NEAR(e.d.shape, 0, 0.05);
  const ProfileInterval s = gev_shape_profile(e, dist::chi2_1_quantile(0.95));
  EXPECT_LT(s.lower.value, e.d.shape);
  EXPECT_GT(s.upper.value, e.d.shape);
}

TEST(GevDistribution, TailsAndEndPoints) {
  const dist::Gev heavy{0, 1, 0.5}, bounded{0, 1, -0.5};
  // Far in the upper tail 1 - G = t - t^2/2 + ..., t = (1 + xi x)^(-1/xi).
  const double t = std::pow(1 + 0.5 * 1e10, -2.0);
  EXPECT_NEAR(dist::sf(heavy, 1e10), t, 1e-14 * t);
  EXPECT_NEAR(dist::log_sf(heavy, 1e10), std::log(t), 1e-14 * std::fabs(std::log(t)));
  EXPECT_NEAR(dist::quantile_complement(heavy, t), 1e10, 1e-4);
  // End points: -1/xi below the heavy tail, above the bounded one.
  EXPECT_EQ(dist::cdf(heavy, -2.5), 0);
  EXPECT_EQ(dist::pdf(heavy, -2.5), 0);
  EXPECT_EQ(dist::sf(bounded, 2.5), 0);
  EXPECT_EQ(dist::log_sf(bounded, 2.5), -INFINITY);
  EXPECT_EQ(dist::quantile(bounded, 1), 2);
  EXPECT_EQ(dist::quantile(heavy, 0), -2);
  EXPECT_EQ(dist::quantile(heavy, 1), INFINITY);
}

}  // namespace
}  // namespace korvalinde::stats
