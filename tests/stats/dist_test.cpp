// The distribution families and their L-moment fits against values computed
// at 30 digits by make_dist_reference.py, and the properties that tie them
// together: quantiles invert the distribution functions, fits invert the
// L-moments, shape 0 is reached continuously, infeasible ratios are refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "korvalinde/dist/exponential.hpp"
#include "korvalinde/dist/gev.hpp"
#include "korvalinde/dist/glo.hpp"
#include "korvalinde/dist/lmoment_curves.hpp"
#include "korvalinde/dist/gno.hpp"
#include "korvalinde/dist/gpa.hpp"
#include "korvalinde/dist/lognormal.hpp"
#include "korvalinde/dist/lp3.hpp"
#include "korvalinde/dist/normal.hpp"
#include "korvalinde/dist/pe3.hpp"
#include "korvalinde/dist/weibull.hpp"
#include "korvalinde/stats/lmoments.hpp"

namespace korvalinde::stats {
namespace {

using namespace korvalinde::dist;

std::vector<double> numbers(const std::string& csv) {
  std::vector<double> v;
  std::stringstream in(csv);
  for (std::string f; std::getline(in, f, ',');) v.push_back(std::strtod(f.c_str(), nullptr));
  return v;
}

// Calls f with the family `name` built from p.
template <class F>
void with_family(const std::string& name, const std::vector<double>& p, F f) {
  if (name == "gev") f(Gev{p[0], p[1], p[2]});
  else if (name == "gumbel") f(Gumbel{p[0], p[1]});
  else if (name == "glo") f(Glo{p[0], p[1], p[2]});
  else if (name == "gno") f(Gno{p[0], p[1], p[2]});
  else if (name == "gpa") f(Gpa{p[0], p[1], p[2]});
  else if (name == "pe3") f(Pe3{p[0], p[1], p[2]});
  else if (name == "lp3") f(Lp3{p[0], p[1], p[2]});
  else if (name == "weibull") f(Weibull{p[0], p[1], p[2]});
  else if (name == "exp") f(Exponential{p[0], p[1]});
  else if (name == "normal") f(Normal{p[0], p[1]});
  else if (name == "lognormal") f(Lognormal{p[0], p[1]});
  else ADD_FAILURE() << "unknown family " << name;
}

template <class D>
std::vector<double> params(const D& d) {
  if constexpr (requires { d.skew; }) return {d.mean, d.sd, d.skew};
  else if constexpr (requires { d.shape; }) return {d.loc, d.scale, d.shape};
  else return {};
}

struct Line {
  std::string kind, family, a, b, c, d, e;
};

std::vector<Line> reference() {
  std::ifstream in(std::string(KORVALINDE_STATS_DATA) + "/dist_reference.txt");
  std::vector<Line> out;
  for (std::string s; std::getline(in, s);) {
    if (s.empty() || s[0] == '#') continue;
    std::istringstream f(s);
    Line l;
    f >> l.kind >> l.family >> l.a >> l.b >> l.c >> l.d >> l.e;
    out.push_back(l);
  }
  return out;
}

double rel(double got, double want) { return std::fabs(got - want) / std::max(std::fabs(want), 1e-300); }

// cdf, sf and their logs to 1e-14 and quantiles to 1e-13 relative, each times
// the value's condition number in x where that exceeds 1.
TEST(DistReference, FunctionsAndQuantiles) {
  int checked = 0;
  for (const auto& l : reference()) {
    if (l.kind != "value") continue;
    const double x = std::strtod(l.c.c_str(), nullptr), want = std::strtod(l.d.c_str(), nullptr);
    const double kappa = std::strtod(l.e.c_str(), nullptr);
    with_family(l.family, numbers(l.a), [&](const auto& d) {
      // Values reached through an exponential of magnitude L carry L eps.
      double got = 0, tol = 1e-14 * (kappa + std::fabs(std::log(std::fabs(want))));
      if (l.b == "cdf") got = cdf(d, x);
      else if (l.b == "sf") got = sf(d, x);
      else if (l.b == "log_cdf") got = log_cdf(d, x);
      else if (l.b == "log_sf") got = log_sf(d, x);
      else if (l.b == "log_pdf") got = log_pdf(d, x);
      else if (l.b == "quantile") got = quantile(d, x), tol = 1e-13 * kappa;
      else if (l.b == "quantile_complement") got = quantile_complement(d, x), tol = 1e-13 * kappa;
      if (got == want) return;  // equal infinities included
      EXPECT_LE(rel(got, want), tol) << l.family << " " << l.a << " " << l.b << "(" << l.c << ") = " << got
                                     << ", want " << l.d;
      ++checked;
    });
  }
  EXPECT_GT(checked, 350);
}

// The Pearson III quantile's analytic gradient in (mean, sd, skew) against
// 40-digit mpmath quantiles (bisection and Newton on the regularised
// incomplete gamma) differentiated in the skew, both signs and both tails.
TEST(DistReference, Pe3QuantileGradient) {
  struct Case {
    double mean, sd, skew, p;
    bool upper;
    double x, w, dskew;
  };
  const Case cases[] = {
      {20, 4, 1.1, 0.01, true, 32.346407848736074481, 3.0866019621840186201, 2.5378040332915725134},
      {20, 4, -0.7, 0.99, false, 27.224834819168419714, 1.8062087047921049284, 2.9530940974701553542},
      {5, 2, 3.0, 0.001, true, 19.304702979696281313, 7.1523514898481406566, 2.3437788310428615743},
      {0, 1, 0.2, 0.5, true, -0.033313508068451127478, -0.033313508068451127478, -0.16636856528108326481},
      {0, 1, -0.1, 0.0001, true, 3.5070332822151842849, 3.5070332822151842849, 2.1000809435790011745},
      {10, 3, -1.5, 0.002, true, 13.908366263788393974, 1.3027887545961313245, 2.2271908905397445276},
  };
  for (const Case& c : cases) {
    const Pe3 d{c.mean, c.sd, c.skew};
    const QuantileGradient g = quantile_gradient(d, c.p, c.upper);
    ASSERT_TRUE(g.ok) << c.skew;
    EXPECT_EQ(g.x, c.upper ? quantile_complement(d, c.p) : quantile(d, c.p)) << c.skew;
    EXPECT_LE(rel(g.x, c.x), 1e-13) << c.skew;
    EXPECT_EQ(g.grad[0], 1);
    EXPECT_LE(std::fabs(g.grad[1] - c.w), 1e-12 * (1 + std::fabs(c.w))) << c.skew;
    EXPECT_LE(rel(g.grad[2], c.dskew), 1e-9) << c.skew;
  }
  // Where it has no analytic form the caller differentiates the quantile.
  EXPECT_FALSE(quantile_gradient(Pe3{0, 1, 0.05}, 0.1, false).ok);
  EXPECT_FALSE(quantile_gradient(Pe3{0, 1, 1}, 1, true).ok);
}

TEST(DistReference, LmomentRatiosAndFits) {
  for (const auto& l : reference()) {
    if (l.kind == "lmom") {
      const auto want = numbers(l.b);
      with_family(l.family, numbers(l.a), [&](const auto& d) {
        const LmomentRatios r = lmoment_ratios(d);
        const double got[] = {r.l1, r.l2, r.t3, r.t4, r.t5};
        for (int i = 0; i < 5; ++i)
          EXPECT_NEAR(got[i], want[i], 1e-13 * std::fabs(want[i]) + (i == 0 ? 1e-13 * want[1] : i == 2 ? 5e-15 : 5e-14))
              << l.family << " " << l.a << " ratio " << i;
      });
    } else if (l.kind == "fit" || l.kind == "samplefit") {
      LmomentRatios r{};
      if (l.kind == "fit") {
        const auto v = numbers(l.a);
        r = {v[0], v[1], v[2], NAN, NAN};
      } else {
        std::ifstream in(std::string(KORVALINDE_STATS_DATA) + "/" + l.a);
        std::vector<double> x;
        for (double v; in >> v;) x.push_back(v);
        std::sort(x.begin(), x.end());
        r = ratios(sample_lmoments(x));
      }
      const auto want = numbers(l.kind == "fit" ? l.b : l.b);
      with_family(l.family, {0, 1, 0.1}, [&](auto d) {
        ASSERT_TRUE(fit_lmom(r, d)) << l.family << " " << l.a;
        const auto got = params(d);
        for (std::size_t i = 0; i < got.size(); ++i)
          EXPECT_LE(rel(got[i], want[i]), 1e-12) << l.family << " " << l.a << " parameter " << i;
      });
    } else if (l.kind == "sample") {
      std::ifstream in(std::string(KORVALINDE_STATS_DATA) + "/" + l.family);
      std::vector<double> x;
      for (double v; in >> v;) x.push_back(v);
      std::sort(x.begin(), x.end());
      const SampleLmoments s = sample_lmoments(x);
      const auto want = numbers(l.a);
      EXPECT_EQ(s.n, static_cast<std::size_t>(want[0]));
      const double got[] = {s.l1, s.l2, s.t, s.t3, s.t4, s.t5};
      for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(got[i], want[i + 1], 1e-13 * std::fabs(want[i + 1]) + (i >= 3 ? 1e-14 : 0)) << l.family << " " << i;
    }
  }
}

// Round trips over each family's range of shapes: quantile(cdf(x)) = x from
// both sides, and fit_lmom(lmoment_ratios(d)) = d.
TEST(DistProperties, RoundTrips) {
  const double ps[] = {1e-200, 1e-12, 1e-3, 0.2, 0.5, 0.9, 0.999};
  auto check = [&](const auto& d) {
    const auto par = params(d);
    const double mag = std::fabs(par[0]) + par[1];
    for (double p : ps) {
      const double x = quantile(d, p);
      EXPECT_NEAR(quantile(d, cdf(d, x)), x, 1e-12 * (std::fabs(x) + mag)) << par[2] << " p " << p;
      const double y = quantile_complement(d, p);
      EXPECT_NEAR(quantile_complement(d, sf(d, y)), y, 1e-12 * (std::fabs(y) + mag)) << par[2] << " q " << p;
    }
    auto fitted = d;
    ASSERT_TRUE(fit_lmom(lmoment_ratios(d), fitted));
    const auto want = params(d), got = params(fitted);
    for (std::size_t i = 0; i < got.size(); ++i)
      EXPECT_NEAR(got[i], want[i], 1e-12 * (std::fabs(want[i]) + 1)) << params(d)[2] << " parameter " << i;
  };
  for (double s : {-0.9, -0.3, -1e-9, 0.0, 1e-9, 0.25, 0.6}) {
    check(Gev{10, 2, s});
    check(Glo{10, 2, s});
    check(Gpa{10, 2, s});
  }
  for (double s : {-2.5, -0.5, -1e-7, 0.0, 1e-7, 0.7, 2.0}) check(Gno{10, 2, s});
  for (double g : {-4.0, -1.0, -0.05, -1e-7, 0.0, 1e-7, 0.05, 1.0, 4.0}) check(Pe3{100, 20, g});
  for (double c : {0.5, 1.0, 3.0, 12.0}) check(Weibull{1, 2, c});
}

// Near shape 0 each family agrees with its limit to rounding (the Pearson III
// to the 1e-8 of its switch to the normal), and the limits are the named
// two-parameter laws.
TEST(DistProperties, ContinuousAtShapeZero) {
  for (double x : {-30.0, -3.0, 0.0, 1.0, 5.0, 40.0}) {
    EXPECT_LE(rel(log_sf(Glo{0, 1, 1e-15}, x), log_sf(Glo{0, 1, 0}, x)), 1e-11);
    EXPECT_LE(rel(log_sf(Gno{0, 1, 1e-16}, x), log_sf(Normal{0, 1}, x)), 1e-11);
    EXPECT_LE(rel(log_cdf(Gno{0, 1, -1e-16}, x), log_cdf(Normal{0, 1}, x)), 1e-11);
    if (x >= 0) {
      EXPECT_LE(rel(log_sf(Gpa{0, 1, 1e-15}, x), log_sf(Exponential{0, 1}, x)), 1e-11);
    }
  }
  // The Pearson III's F moves by about skew (z^2 - 1) phi(z) / 6 from the
  // normal's, and stays continuous across the switch from Boost's incomplete
  // gamma functions to Temme's expansion at |skew| = 2e-3.
  for (double x : {-30.0, -3.0, 0.0, 1.0, 5.0}) {
    const double w = 1 + x * x * std::fabs(x);
    EXPECT_LE(rel(cdf(Pe3{0, 1, 1e-12}, x), cdf(Normal{0, 1}, x)), 1e-12 * w);
    EXPECT_LE(rel(sf(Pe3{0, 1, -1e-12}, x), sf(Normal{0, 1}, x)), 1e-12 * w);
    EXPECT_LE(rel(cdf(Pe3{0, 1, 2.0001e-3}, x), cdf(Pe3{0, 1, 1.9999e-3}, x)), 1e-7 * w);
    EXPECT_LE(rel(sf(Pe3{0, 1, -2.0001e-3}, x), sf(Pe3{0, 1, -1.9999e-3}, x)), 1e-7 * w);
  }
  const Lognormal ln{1, 0.5};
  const Gno g{std::exp(1.0), 0.5 * std::exp(1.0), 0.5};
  for (double x : {0.5, 2.0, 9.0}) EXPECT_LE(rel(cdf(ln, x), cdf(g, x)), 1e-14);
  EXPECT_LE(rel(cdf(Lp3{1, 0.2, 0.3}, 50.0), cdf(Pe3{1, 0.2, 0.3}, std::log10(50.0))), 1e-15);
}

// The GNO and Pearson III L-moment fits' shape and tau4 over t3 against the
// 30-digit roots of make_lmoment_curves.py (tabled curves for |t3| <= 0.9,
// the exact root and quadrature beyond), and the
// curves' slope against 1 / tau3'(shape) of the exact tau3.
TEST(DistReference, LmomentCurves) {
  std::ifstream in(std::string(KORVALINDE_STATS_DATA) + "/lmoment_curves_reference.txt");
  int tabled = 0, outside = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream f(line);
    std::string family;
    double t3 = 0, shape = 0, t4 = 0;
    f >> family >> t3 >> shape >> t4;
    const bool gno = family == "gno";
    const CurvePoint c = gno ? gno_curve(t3) : pe3_curve(t3);
    double got = 0;
    if (gno) {
      Gno d;
      ASSERT_TRUE(fit_lmom({5, 2, t3, 0, 0}, d));
      got = d.shape;
    } else {
      Pe3 d;
      ASSERT_TRUE(fit_lmom({5, 2, t3, 0, 0}, d));
      got = d.skew;
    }
    EXPECT_LE(rel(got, shape), 1e-14) << line;
    if (!c.ok) {
      ++outside;
      continue;
    }
    ++tabled;
    EXPECT_LE(rel(c.shape, shape), 1e-14) << line;
    EXPECT_LE(rel(c.tau4, t4), 1e-14) << line;
    const double h = 1e-5 * std::max(1.0, std::fabs(shape));
    auto tau3 = [&](double s) { return gno ? gno_tau3(s) : pe3_tau3(s); };
    EXPECT_LE(rel(c.dshape, 2 * h / (tau3(shape + h) - tau3(shape - h))), 1e-8) << line;
  }
  EXPECT_GT(tabled, 90);
  EXPECT_EQ(outside, 2);
}

// The tau4 taken alone (the comparison's L-moment distance) is the one the
// full ratios give, to the bit, on both sides of the near-normal PE3 switch.
TEST(DistProperties, Tau4AloneIsTheFullRatiosTau4) {
  for (const double s : {-2.5, -0.7, -1e-9, 0.0, 1e-9, 0.3, 1.8, 4.0}) {
    EXPECT_EQ(gno_tau4(s), lmoment_ratios(Gno{1, 2, s}).t4) << s;
    EXPECT_EQ(pe3_tau4(s), lmoment_ratios(Pe3{1, 2, s}).t4) << s;
  }
}

TEST(DistProperties, InfeasibleRatiosAreRefused) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const LmomentRatios bad[] = {{10, 2, 1.0, nan, nan}, {10, 2, -1.0, nan, nan}, {10, 0, 0.1, nan, nan},
                               {10, -1, 0.1, nan, nan}, {nan, 2, 0.1, nan, nan}, {10, 2, nan, nan, nan}};
  for (const auto& r : bad) {
    Gev gev{1, 2, 3};
    Glo glo{1, 2, 3};
    Gno gno{1, 2, 3};
    Pe3 pe3{1, 2, 3};
    Gpa gpa{1, 2, 3};
    Weibull wei{1, 2, 3};
    EXPECT_FALSE(fit_lmom(r, gev) || fit_lmom(r, glo) || fit_lmom(r, gno) || fit_lmom(r, pe3) ||
                 fit_lmom(r, gpa) || fit_lmom(r, wei));
    EXPECT_EQ(gno.loc, 1);
    EXPECT_EQ(pe3.skew, 3);
  }
  Weibull w{1, 2, 3};
  EXPECT_FALSE(fit_lmom({10, 2, -0.2, nan, nan}, w));  // below the Weibull's t3 limit of -0.17
  Lognormal ln{};
  EXPECT_FALSE(fit_lmom({1, 2, 0.1, nan, nan}, ln));
  EXPECT_FALSE(fit_lmom({-1, 0.5, 0.1, nan, nan}, ln));
  const SampleLmoments few = sample_lmoments(std::vector<double>{1, 2});
  EXPECT_TRUE(std::isnan(few.t3));
  EXPECT_DOUBLE_EQ(few.l2, 0.5);
}

}  // namespace
}  // namespace korvalinde::stats
