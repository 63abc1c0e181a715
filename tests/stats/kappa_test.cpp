// The Kappa and Wakeby distributions and their L-moment fits against values
// computed at 30 digits by make_kappa_reference.py, round trips of the fits
// over their parameter spaces, and the Kappa's reductions to the GEV, the
// generalized Pareto and the generalized logistic.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "korvalinde/dist/gev.hpp"
#include "korvalinde/dist/kappa.hpp"
#include "korvalinde/dist/wakeby.hpp"
#include "korvalinde/stats/lmoment_diagram.hpp"
#include "korvalinde/stats/lmoments.hpp"

namespace korvalinde::stats {
namespace {

using dist::Kappa;
using dist::LmomentRatios;
using dist::Wakeby;

struct Record {
  std::string kind;
  std::vector<double> v;
};

std::vector<Record> reference() {
  std::ifstream in(std::string(KORVALINDE_STATS_DATA) + "/kappa_reference.txt");
  std::vector<Record> out;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream f(line);
    Record r;
    f >> r.kind;
    for (std::string s; f >> s;) r.v.push_back(std::stod(s));
    out.push_back(r);
  }
  return out;
}

void near_rel(double got, double want, double tol, const char* what) {
  EXPECT_LE(std::fabs(got - want), tol * std::fabs(want)) << what << ": got " << got << " want " << want;
}

TEST(KappaReference, DistributionFunctionsMatchHighPrecisionValues) {
  const auto ref = reference();
  int counted = 0;
  for (const Record& r : ref) {
    const auto& v = r.v;
    if (v.size() < 7) continue;  // the diagram's records
    SCOPED_TRACE(testing::Message() << r.kind << " " << v[0] << " " << v[1] << " " << v[2] << " " << v[3]);
    if (r.kind == "kappa_cdf" || r.kind == "wakeby_cdf") {
      const bool kappa = r.kind == "kappa_cdf";
      const std::size_t i = kappa ? 4 : 5;
      const double x = v[i];
      const Kappa k{v[0], v[1], v[2], v[3]};
      const Wakeby w{v[0], v[1], v[2], v[3], kappa ? 0 : v[4]};
      const double lc = kappa ? log_cdf(k, x) : log_cdf(w, x), ls = kappa ? log_sf(k, x) : log_sf(w, x);
      const double lp = kappa ? log_pdf(k, x) : log_pdf(w, x);
      near_rel(lc, v[i + 1], 1e-14, "log_cdf");
      near_rel(ls, v[i + 2], 1e-14, "log_sf");
      near_rel(lp, v[i + 3], 2e-14 * (1 + 1 / std::fabs(v[i + 3])), "log_pdf");
      near_rel(kappa ? cdf(k, x) : cdf(w, x), std::exp(v[i + 1]), 1e-14, "cdf");
      near_rel(kappa ? sf(k, x) : sf(w, x), std::exp(v[i + 2]), 1e-14, "sf");
      ++counted;
    } else if (r.kind == "kappa_quantile" || r.kind == "wakeby_quantile") {
      const bool kappa = r.kind == "kappa_quantile";
      const std::size_t i = kappa ? 4 : 5;
      const Kappa k{v[0], v[1], v[2], v[3]};
      const Wakeby w{v[0], v[1], v[2], v[3], kappa ? 0 : v[4]};
      const double p = v[i];
      near_rel(kappa ? quantile(k, p) : quantile(w, p), v[i + 1], 1e-13, "quantile");
      near_rel(kappa ? quantile_complement(k, p) : quantile_complement(w, p), v[i + 2], 1e-13,
               "quantile_complement");
      ++counted;
    } else if (r.kind == "kappa_lmom" || r.kind == "wakeby_lmom") {
      const bool kappa = r.kind == "kappa_lmom";
      const std::size_t i = kappa ? 4 : 5;
      const LmomentRatios l = kappa ? lmoment_ratios(Kappa{v[0], v[1], v[2], v[3]})
                                    : lmoment_ratios(Wakeby{v[0], v[1], v[2], v[3], v[4]});
      EXPECT_NEAR(l.l1, v[i], 1e-13 * (std::fabs(v[i]) + v[i + 1])) << "l1";
      near_rel(l.l2, v[i + 1], 1e-13, "l2");
      EXPECT_NEAR(l.t3, v[i + 2], 1e-13) << "t3";
      EXPECT_NEAR(l.t4, v[i + 3], 1e-13) << "t4";
      EXPECT_NEAR(l.t5, v[i + 4], 5e-13) << "t5";  // its weights reach 35
      ++counted;
    }
  }
  EXPECT_GE(counted, 200);
}

TEST(KappaReference, FitsMatchHighPrecisionRoots) {
  int counted = 0;
  for (const Record& r : reference()) {
    const auto& v = r.v;
    if (r.kind == "kappa_fit") {
      SCOPED_TRACE(testing::Message() << "kappa t3 " << v[2] << " t4 " << v[3]);
      Kappa k{};
      ASSERT_TRUE(fit_lmom(LmomentRatios{v[0], v[1], v[2], v[3], std::nan("")}, k));
      EXPECT_NEAR(k.loc, v[4], 1e-12 * (std::fabs(v[4]) + v[5]));
      near_rel(k.scale, v[5], 1e-12, "scale");
      EXPECT_NEAR(k.k, v[6], 1e-12 * (1 + std::fabs(v[6])));
      EXPECT_NEAR(k.h, v[7], 1e-12 * (1 + std::fabs(v[7])));
      ++counted;
    } else if (r.kind == "wakeby_fit") {
      SCOPED_TRACE(testing::Message() << "wakeby t3 " << v[2] << " t5 " << v[4]);
      Wakeby w{};
      ASSERT_TRUE(fit_lmom(LmomentRatios{v[0], v[1], v[2], v[3], v[4]}, w));
      const double scale = std::fabs(v[6]) + v[8];  // |alpha| + gamma
      EXPECT_NEAR(w.xi, v[5], 1e-12 * (std::fabs(v[5]) + scale));
      EXPECT_NEAR(w.alpha, v[6], 1e-12 * scale);
      EXPECT_NEAR(w.beta, v[7], 1e-11 * (1 + std::fabs(v[7])));
      EXPECT_NEAR(w.gamma, v[8], 1e-12 * scale);
      EXPECT_NEAR(w.delta, v[9], 1e-12 * (1 + std::fabs(v[9])));
      ++counted;
    }
  }
  EXPECT_GE(counted, 13);
}

// Parameters -> L-moments -> fit gives the parameters back, over the (k, h)
// plane from the generalized logistic's curve to shapes near the lower
// bound, and over Wakebys with both tails.
TEST(KappaFit, RoundTripsRecoverTheParameters) {
  for (double h : {-1.0, -0.7, -0.3, -1e-9, 0.0, 1e-9, 0.2, 0.5, 1.0, 1.7, 3.0, 6.0}) {
    for (double k : {-0.6, -0.3, -0.1, -1e-10, 0.0, 0.1, 0.3, 0.6, 1.0, 2.0, 4.0}) {
      if (h < 0 && k * -h >= 0.95) continue;  // no L-moments, or next to where they end
      const Kappa want{10, 3, k, h};
      const LmomentRatios r = lmoment_ratios(want);
      // Heavy tails with -1 < h < 0 lie above the GLO curve, outside the
      // region the fit covers.
      if (h > -1 && r.t4 >= dist::tau4_glo(r.t3)) continue;
      if (h == -1.0) {  // on the curve itself, the boundary the fit refuses
        Kappa out{};
        EXPECT_FALSE(fit_lmom(LmomentRatios{r.l1, r.l2, r.t3, r.t4 * (1 + 1e-12), r.t5}, out));
        continue;
      }
      SCOPED_TRACE(testing::Message() << "k " << k << " h " << h << " t3 " << r.t3 << " t4 " << r.t4);
      Kappa got{};
      ASSERT_TRUE(fit_lmom(r, got));
      // The conditioning of the (t3, t4) -> (k, h) map grows with k and h.
      const double tol = 1e-12 * (1 + k * k) * (1 + h);
      EXPECT_NEAR(got.k, k, tol);
      EXPECT_NEAR(got.h, h, tol);
      EXPECT_NEAR(got.scale / 3, 1, tol);
      EXPECT_NEAR((got.loc - 10) / 3, 0, tol);
    }
  }
  for (const Wakeby want : {Wakeby{0, 1, 5, 0.5, 0.2}, Wakeby{10, 20, 4, 2, 0.3}, Wakeby{0, 3, 0.5, 0.2, -0.3},
                            Wakeby{1, -0.5, 2, 1.5, 0.1}, Wakeby{-2, 1, 8, 0.05, 0.6}, Wakeby{0, 5, 1, 1, -0.5}}) {
    SCOPED_TRACE(testing::Message() << "wakeby " << want.alpha << " " << want.beta << " " << want.gamma);
    Wakeby got{};
    const LmomentRatios r = lmoment_ratios(want);
    ASSERT_TRUE(fit_lmom(r, got));
    // Two bounded tails (delta < 0) are hard to tell apart: the rounding of
    // the ratios alone moves the parameters by about 1e-11 there.
    const double tol = want.delta < 0 ? 1e-10 : 1e-12;
    const double scale = std::fabs(want.alpha) + want.gamma;
    EXPECT_NEAR(got.xi, want.xi, tol * (std::fabs(want.xi) + scale));
    EXPECT_NEAR(got.alpha, want.alpha, tol * scale);
    EXPECT_NEAR(got.beta, want.beta, 10 * tol * (1 + want.beta));
    EXPECT_NEAR(got.gamma, want.gamma, tol * scale);
    EXPECT_NEAR(got.delta, want.delta, tol);
    const LmomentRatios back = lmoment_ratios(got);
    EXPECT_NEAR(back.l1, r.l1, 1e-14 * (std::fabs(r.l1) + r.l2));
    EXPECT_NEAR(back.t3, r.t3, 1e-14);
    EXPECT_NEAR(back.t4, r.t4, 1e-14);
    EXPECT_NEAR(back.t5, r.t5, 5e-14);
  }
}

TEST(KappaFit, RatiosOutsideTheRegionAreRefusedAndLeaveTheOutputAlone) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Kappa before{1, 2, 3, 4};
  for (const LmomentRatios& r :
       {LmomentRatios{1, 0.3, 0.2, dist::tau4_glo(0.2) + 1e-9, nan},         // above the GLO curve
        LmomentRatios{1, 0.3, 0.2, dist::tau4_lower_bound(0.2) - 1e-9, nan},  // below every distribution
        LmomentRatios{1, 0.3, 1.0, 1.0, nan}, LmomentRatios{1, 0.3, -1.2, 0.9, nan},
        LmomentRatios{1, 0.0, 0.2, 0.15, nan}, LmomentRatios{1, -0.3, 0.2, 0.15, nan},
        LmomentRatios{nan, 0.3, 0.2, 0.15, nan}, LmomentRatios{1, 0.3, nan, 0.15, nan}}) {
    Kappa out = before;
    EXPECT_FALSE(fit_lmom(r, out)) << r.t3 << " " << r.t4;
    EXPECT_EQ(out.k, before.k);
    EXPECT_FALSE(dist::kappa_region_contains(r.t3, r.t4) && r.l2 > 0 && std::isfinite(r.l1));
  }
  EXPECT_TRUE(dist::kappa_region_contains(0.2, 0.15));
  Wakeby w{1, 2, 3, 4, 5};
  EXPECT_FALSE(fit_lmom(LmomentRatios{1, 0.3, 0.2, 0.15, nan}, w));  // needs t5
  EXPECT_FALSE(fit_lmom(LmomentRatios{-1, 0.3, 0.9, 0.1, 0.9}, w));   // no Wakeby, and no xi = 0 fit below 0
  EXPECT_EQ(w.alpha, 2);
}

TEST(KappaDistribution, ReducesToItsSpecialCasesContinuously) {
  for (double k : {-0.3, -1e-13, 0.0, 1e-13, 0.25}) {
    SCOPED_TRACE(testing::Message() << "k " << k);
    const Kappa kap{2, 1.5, k, 0};
    const dist::Gev gev{2, 1.5, -k};
    for (double p : {1e-9, 0.01, 0.3, 0.5, 0.9, 0.999999}) {
      const double x = quantile(gev, p);
      EXPECT_NEAR(quantile(kap, p) / x, 1, 1e-14);
      near_rel(log_cdf(kap, x), log_cdf(gev, x), 1e-14, "log_cdf");
      near_rel(sf(kap, x), sf(gev, x), 1e-14, "sf");
      near_rel(log_pdf(kap, x), log_pdf(gev, x), 1e-13, "log_pdf");
      // and h next to 0 on either side, and k next to 0 at h = 0.5
      for (double h : {-1e-12, 1e-12}) EXPECT_NEAR(quantile(Kappa{2, 1.5, k, h}, p), x, 1e-10);
      EXPECT_NEAR(quantile(Kappa{2, 1.5, k, 0.5}, p), quantile(Kappa{2, 1.5, k + 1e-13, 0.5}, p),
                  1e-11 * (1 + std::fabs(x)));
      // quantile and cdf invert each other at every shape, to the precision
      // that the rounding of x allows: x f / min(F, 1 - F) ulps.
      for (double h : {-1.0, -0.4, 0.7, 2.5}) {
        const Kappa d{2, 1.5, k, h};
        const double x1 = quantile(d, p), x2 = quantile_complement(d, p);
        const double c1 = std::fabs(x1) * pdf(d, x1) / std::fmin(p, 1 - p);
        const double c2 = std::fabs(x2) * pdf(d, x2) / std::fmin(p, 1 - p);
        EXPECT_NEAR(cdf(d, x1), p, (1e-14 + 1e-15 * c1) * p);
        EXPECT_NEAR(sf(d, x1), 1 - p, (1e-14 + 1e-15 * c1) * (1 - p));
        EXPECT_NEAR(sf(d, x2), p, (1e-14 + 1e-15 * c2) * p);
        EXPECT_NEAR(cdf(d, x2), 1 - p, (1e-14 + 1e-15 * c2) * (1 - p));
      }
    }
    // The L-moment ratios of the GEV, the generalized Pareto (h = 1) and the
    // generalized logistic (h = -1).
    const LmomentRatios g = lmoment_ratios(kap);
    const double t3_gev = k == 0 ? 2 * std::log(3.0) / std::log(2.0) - 3
                                 : 2 * std::expm1(-k * std::log(3.0)) / std::expm1(-k * std::log(2.0)) - 3;
    EXPECT_NEAR(g.t3, t3_gev, 1e-14);
    const LmomentRatios p = lmoment_ratios(Kappa{0, 1, k, 1});
    EXPECT_NEAR(p.t3, (1 - k) / (3 + k), 1e-14);
    EXPECT_NEAR(p.t4, (1 - k) * (2 - k) / ((3 + k) * (4 + k)), 1e-14);
    EXPECT_NEAR(p.l2, 1 / ((1 + k) * (2 + k)), 1e-14);
    const LmomentRatios l = lmoment_ratios(Kappa{0, 1, k, -1});
    EXPECT_NEAR(l.t3, -k, 1e-14);
    EXPECT_NEAR(l.t4, dist::tau4_glo(k), 1e-14);
  }
  // The support's ends are the quantiles at 0 and 1, and F is 0 and 1 there.
  for (const Kappa d : {Kappa{0, 1, 0.3, 0.5}, Kappa{0, 1, -0.3, -0.5}, Kappa{1, 2, 0.2, -2}, Kappa{1, 2, -0.2, 3}}) {
    const dist::Support s = support(d);
    EXPECT_EQ(quantile(d, 0), s.lower);
    EXPECT_EQ(quantile(d, 1), s.upper);
    if (std::isfinite(s.lower)) {
      EXPECT_EQ(cdf(d, s.lower - 1e-9), 0);
    }
    if (std::isfinite(s.upper)) {
      EXPECT_EQ(sf(d, s.upper + 1e-9), 0);
    }
  }
}

// The diagram's GEV curve against the reference, and the order of the curves:
// for 0 < t3 < 0.3 the lower bound, GPA, PE3, GNO and GLO lie one above the
// other, and GEV below GLO up to 0.6
// (beyond about 0.67 the GEV rises above the GLO).
TEST(LmomentDiagram, CurvesMatchReferencesAndKeepTheirOrder) {
  int counted = 0;
  for (const Record& r : reference()) {
    if (r.kind != "gev_tau4") continue;
    EXPECT_NEAR(tau4_gev(r.v[0]), r.v[1], 1e-14) << r.v[0];
    ++counted;
  }
  EXPECT_EQ(counted, 7);
  EXPECT_TRUE(std::isnan(tau4_gev(1.0)));
  const auto curves = lmoment_ratio_curves(-0.4, 0.95, 140);
  ASSERT_EQ(curves.size(), 6u);
  for (const RatioCurve& c : curves) ASSERT_EQ(c.t4.size(), 140u) << c.name;
  EXPECT_DOUBLE_EQ(curves[0].t3.back(), 0.95);
  for (std::size_t i = 0; i < 140; ++i) {
    const double t3 = curves[0].t3[i];
    double glo = 0, gev = 0, gno = 0, pe3 = 0, gpa = 0, lb = 0;
    for (const RatioCurve& c : curves) {
      (c.name == "GLO"   ? glo
       : c.name == "GEV" ? gev
       : c.name == "GNO" ? gno
       : c.name == "PE3" ? pe3
       : c.name == "GPA" ? gpa
                         : lb) = c.t4[i];
    }
    if (t3 > 0.01 && t3 < 0.6) {
      EXPECT_LT(lb, gpa) << t3;
      if (t3 < 0.3) {
        EXPECT_LT(gpa, pe3) << t3;  // PE3 crosses below GPA near 0.33
      }
      EXPECT_LT(pe3, gno) << t3;
      EXPECT_LT(gev, glo) << t3;
      EXPECT_LT(gno, glo) << t3;
    }
    if (std::fabs(t3 - 0.67) > 0.01) {
      EXPECT_EQ(gev > glo, t3 > 0.67) << t3;
    }
  }
}

}  // namespace
}  // namespace korvalinde::stats
