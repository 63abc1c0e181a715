// Building blocks of the least-squares solver: norm, QR factorization,
// Levenberg-Marquardt parameter, forward differences, row updates and the
// derivative check.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dnls/messages/machine.hpp"
#include "dnls/solver/dnls.hpp"

namespace {

using dnls::DENORM;

const double kEps = std::sqrt(dnls::D1MACH(4));  // forward-difference step factor
const double kC = 0.5 / std::sqrt(0.5);          // cosine of a 45 degree rotation

// ---------------------------------------------------------------- DENORM

TEST(Denorm, EmptyAndZeroVectors) {
  const double zeros[3] = {0, 0, 0};
  EXPECT_EQ(DENORM(0, zeros), 0.0);
  EXPECT_EQ(DENORM(3, zeros), 0.0);
}

TEST(Denorm, IntermediateComponentsArePlainSumOfSquares) {
  const double x[3] = {3, -4, 12};
  EXPECT_EQ(DENORM(3, x), 13.0);
}

TEST(Denorm, SmallComponentsDoNotUnderflow) {
  const double one[1] = {3e-20};
  EXPECT_EQ(DENORM(1, one), 3e-20);
  const double tiny[2] = {1e-200, -1e-200};
  EXPECT_EQ(DENORM(2, tiny), 1e-200 * std::sqrt(2.0));
  // Equal magnitude adds 1 to the scaled sum; a larger one rescales it.
  const double two[2] = {1e-20, 2e-20};
  EXPECT_EQ(DENORM(2, two), 2e-20 * std::sqrt(1.25));
}

TEST(Denorm, LargeComponentsDoNotOverflow) {
  const double x[3] = {1.0, 1e300, 2.0};
  EXPECT_EQ(DENORM(3, x), 1e300);
  const double y[2] = {-1e200, 1e200};
  EXPECT_EQ(DENORM(2, y), 1e200 * std::sqrt(2.0));
  // A large component present: small ones are ignored.
  const double z[2] = {1e-25, 1e20};
  EXPECT_EQ(DENORM(2, z), 1e20);
}

TEST(Denorm, ClassBoundariesAreTakenAsWritten) {
  // N = 2: the large threshold is 1.304e19/2 = 6.52e18, and that value
  // itself is large: a*sqrt(2) rather than sqrt(a*a + a*a), which differs by
  // one unit in the last place.
  const double a = 6.52e18;
  const double at[2] = {a, a};
  EXPECT_EQ(DENORM(2, at), a * std::sqrt(2.0));
  EXPECT_NE(a * std::sqrt(2.0), std::sqrt(a * a + a * a));

  // 3.834e-20 itself is small: r*sqrt(3) rather than sqrt(3*r*r).
  const double r = 3.834e-20;
  const double dw[3] = {r, r, r};
  EXPECT_EQ(DENORM(3, dw), r * std::sqrt(3.0));
  EXPECT_NE(r * std::sqrt(3.0), std::sqrt(r * r + r * r + r * r));
}

TEST(Denorm, MixedSmallAndIntermediate) {
  // The sum of squares of the intermediate part (1.6e-39) is below the small
  // maximum (3e-20): the second combination formula is used.
  const double x[2] = {3e-20, 4e-20};
  EXPECT_NEAR(DENORM(2, x), 5e-20, 5e-20 * 1e-15);
  const double y[3] = {1e-21, 2.0, 1e-22};
  EXPECT_EQ(DENORM(3, y), 2.0);
}

// ---------------------------------------------------------------- DQRFAC

// Rebuilds Q*R from the factored form (Householder vectors on and below the
// diagonal of a, R above it, diagonal in rdiag) and returns max |Q*R - A*P|.
double qr_residual(int m, int n, const std::vector<double>& a, const std::vector<double>& orig,
                   const int* ipvt, const double* rdiag) {
  double worst = 0;
  for (int k = 0; k < n; ++k) {
    std::vector<double> v(m, 0.0);  // column k of R
    for (int i = 0; i < k && i < m; ++i) v[i] = a[k * m + i];
    if (k < m) v[k] = rdiag[k];
    for (int j = std::min(m, n) - 1; j >= 0; --j) {
      if (rdiag[j] == 0) continue;  // step j applied no transformation
      double dot = 0;
      for (int i = j; i < m; ++i) dot += a[j * m + i] * v[i];
      for (int i = j; i < m; ++i) v[i] -= a[j * m + i] * dot / a[j * m + j];
    }
    const int col = ipvt[k] - 1;
    for (int i = 0; i < m; ++i) worst = std::max(worst, std::fabs(v[i] - orig[col * m + i]));
  }
  return worst;
}

TEST(Dqrfac, FactorsWithPivotingAndKeepsInputNorms) {
  const int m = 4, n = 3;
  const std::vector<double> orig = {1, 2, 0, 1, 2, -1, 4, 1, 0, 3, 1, -2};  // by columns
  std::vector<double> a = orig;
  int ipvt[n];
  double rdiag[n], acnorm[n], wa[n];
  dnls::DQRFAC(m, n, a.data(), m, true, ipvt, n, rdiag, acnorm, wa);

  EXPECT_EQ(ipvt[0], 2);  // largest column first (norm sqrt 22)
  EXPECT_EQ(ipvt[0] + ipvt[1] + ipvt[2], 6);
  EXPECT_GE(std::fabs(rdiag[0]), std::fabs(rdiag[1]));
  EXPECT_GE(std::fabs(rdiag[1]), std::fabs(rdiag[2]));
  EXPECT_LT(qr_residual(m, n, a, orig, ipvt, rdiag), 1e-14);
  EXPECT_EQ(acnorm[0], std::sqrt(6.0));
  EXPECT_EQ(acnorm[1], std::sqrt(22.0));
  EXPECT_EQ(acnorm[2], std::sqrt(14.0));
}

TEST(Dqrfac, SignOfDiagonalOpposesThePivotElement) {
  double neg[2] = {-3, 4}, pos[2] = {3, 4};
  int ipvt[1];
  double rdiag[1], acnorm[1], wa[1];
  dnls::DQRFAC(2, 1, neg, 2, true, ipvt, 1, rdiag, acnorm, wa);
  EXPECT_EQ(rdiag[0], 5.0);
  dnls::DQRFAC(2, 1, pos, 2, true, ipvt, 1, rdiag, acnorm, wa);
  EXPECT_EQ(rdiag[0], -5.0);
}

TEST(Dqrfac, EqualNormsKeepTheirOrder) {
  double a[9] = {0, 2, 0, 2, 0, 0, 0, 0, 2};  // three columns of norm 2
  int ipvt[3];
  double rdiag[3], acnorm[3], wa[3];
  dnls::DQRFAC(3, 3, a, 3, true, ipvt, 3, rdiag, acnorm, wa);
  EXPECT_EQ(ipvt[0], 1);
  EXPECT_EQ(ipvt[1], 2);
  EXPECT_EQ(ipvt[2], 3);
}

TEST(Dqrfac, ZeroColumnGetsNoTransformation) {
  // Without pivoting the zero column is processed first: nothing changes in
  // step 1 and its diagonal entry is zero; step 2 still runs.
  const std::vector<double> orig = {0, 0, 0, 1, 2, 2};
  std::vector<double> a = orig;
  int ipvt[2] = {7, 7};
  double rdiag[2], acnorm[2], wa[2];
  dnls::DQRFAC(3, 2, a.data(), 3, false, ipvt, 2, rdiag, acnorm, wa);
  EXPECT_EQ(ipvt[0], 7);  // untouched without pivoting
  EXPECT_EQ(rdiag[0], 0.0);
  EXPECT_EQ(a[3], 1.0);  // R(1,2): the column was not transformed by step 1
  EXPECT_NEAR(rdiag[1], -std::sqrt(8.0), 1e-15);
  const int identity[2] = {1, 2};
  EXPECT_LT(qr_residual(3, 2, a, orig, identity, rdiag), 1e-15);
}

TEST(Dqrfac, SingleRow) {
  const std::vector<double> orig = {1, 5, 2};
  std::vector<double> a = orig;
  int ipvt[3];
  double rdiag[3], acnorm[3], wa[3];
  dnls::DQRFAC(1, 3, a.data(), 1, true, ipvt, 3, rdiag, acnorm, wa);
  EXPECT_EQ(ipvt[0], 2);
  EXPECT_EQ(rdiag[0], -5.0);
  // The remaining partial norms are recomputed over zero rows.
  EXPECT_EQ(rdiag[1], 0.0);
  EXPECT_EQ(rdiag[2], 0.0);
  EXPECT_LT(qr_residual(1, 3, a, orig, ipvt, rdiag), 1e-15);
}

// --------------------------------------------------------- DMPAR, DQRSLV

struct Tri2 {
  // R of A*P for A*P = [[3, 1], [0, 2]] with P swapping the two columns.
  double r[4] = {3, 0, 1, 2};
  int ipvt[2] = {2, 1};
  double diag[2] = {1, 2};
  double qtb[2] = {3, 4};
};

// Checks that x solves (A'A + par*D*D) x = A'b, written for z = P'x as
// (R'R + par*P'D*D P) z = R'qtb, and that sigma with the strict lower
// triangle of r is the factor S of that matrix.
void expect_damped_solution(const double* r, const int* ipvt, const double* diag, const double* qtb,
                            double par, const double* x, const double* sigma) {
  const int n = 2;
  auto R = [r](int i, int j) { return i <= j ? r[j * n + i] : 0.0; };
  auto S = [r, sigma](int i, int j) { return i == j ? sigma[i] : i < j ? r[i * n + j] : 0.0; };
  double z[n];
  for (int j = 0; j < n; ++j) z[j] = x[ipvt[j] - 1];
  for (int i = 0; i < n; ++i) {
    double lhs = 0, rhs = 0, scale = 0;
    for (int j = 0; j < n; ++j) {
      double rtr = 0, sts = 0;
      for (int k = 0; k < n; ++k) {
        rtr += R(k, i) * R(k, j);
        sts += S(k, i) * S(k, j);
      }
      const double dd = i == j ? par * diag[ipvt[i] - 1] * diag[ipvt[i] - 1] : 0.0;
      lhs += (rtr + dd) * z[j];
      scale += std::fabs((rtr + dd) * z[j]);
      if (sigma) {
        EXPECT_NEAR(sts, rtr + dd, 1e-13 * (std::fabs(rtr) + dd)) << i << j;
      }
      rhs += R(j, i) * qtb[j];
    }
    EXPECT_NEAR(lhs, rhs, 1e-13 * scale) << i;
  }
}

TEST(Dmpar, GaussNewtonStepInsideTheRadius) {
  Tri2 t;
  double par = 5.0;  // any incoming value
  double x[2], sigma[2] = {-7, -7}, wa1[2], wa2[2];
  // Gauss-Newton: z = (1/3, 2), x = (2, 1/3), |D*x| = 2.108 <= 1.1 * 2.
  dnls::DMPAR(2, t.r, 2, t.ipvt, t.diag, t.qtb, 2.0, par, x, sigma, wa1, wa2);
  EXPECT_EQ(par, 0.0);
  EXPECT_DOUBLE_EQ(x[0], 2.0);
  EXPECT_DOUBLE_EQ(x[1], 1.0 / 3.0);
  EXPECT_EQ(sigma[0], -7.0);  // no solve took place
  EXPECT_EQ(t.r[1], 0.0);     // lower triangle not written
}

TEST(Dmpar, IteratesUntilTheStepFitsTheRadius) {
  for (double delta : {1.0, 0.3, 0.01}) {
    Tri2 t;
    double par = 0.0, x[2], sigma[2], wa1[2], wa2[2];
    dnls::DMPAR(2, t.r, 2, t.ipvt, t.diag, t.qtb, delta, par, x, sigma, wa1, wa2);
    EXPECT_GT(par, 0.0);
    const double dx[2] = {t.diag[0] * x[0], t.diag[1] * x[1]};
    EXPECT_LE(std::fabs(DENORM(2, dx) - delta), 0.1 * delta) << delta;
    expect_damped_solution(t.r, t.ipvt, t.diag, t.qtb, par, x, sigma);
    // The upper triangle of R is left as it came in.
    EXPECT_EQ(t.r[0], 3.0);
    EXPECT_EQ(t.r[2], 1.0);
    EXPECT_EQ(t.r[3], 2.0);
  }
}

TEST(Dmpar, RankDeficientGaussNewtonStep) {
  double r[4] = {2, 0, 1, 0};  // R(2,2) = 0
  int ipvt[2] = {1, 2};
  double diag[2] = {1, 1}, qtb[2] = {4, 5};
  double par = 0, x[2], sigma[2], wa1[2], wa2[2];
  dnls::DMPAR(2, r, 2, ipvt, diag, qtb, 10.0, par, x, sigma, wa1, wa2);
  EXPECT_EQ(par, 0.0);
  EXPECT_EQ(x[0], 2.0);
  EXPECT_EQ(x[1], 0.0);
}

TEST(Dmpar, ZeroGradientStillGivesAPositiveUpperBound) {
  // R'*qtb/diag underflows to zero although the Gauss-Newton step does not
  // fit: the upper bound becomes dwarf/min(delta, 0.1) instead of 0, so the
  // search starts from a parameter above the smallest normalised number.
  double r[4] = {1, 0, 0, 0};
  int ipvt[2] = {1, 2};
  double diag[2] = {1e200, 1}, qtb[2] = {1e-130, 0};
  const double delta = 1e-6;
  double par = 1.0, x[2], sigma[2], wa1[2], wa2[2];
  dnls::DMPAR(2, r, 2, ipvt, diag, qtb, delta, par, x, sigma, wa1, wa2);
  const double dwarf = dnls::D1MACH(1);
  EXPECT_GE(par, 1e-3 * (dwarf / delta) * (1 - 1e-15));
  EXPECT_TRUE(std::isfinite(x[0]));
  EXPECT_EQ(x[1], 0.0);
}

TEST(Dqrslv, ZeroDiagonalLeavesRowsUnrotated) {
  // No damping: S = R and x is the (rank-limited) Gauss-Newton step.
  double r[4] = {2, 9, 1, 0};
  int ipvt[2] = {1, 2};
  double diag[2] = {0, 0}, qtb[2] = {4, 5}, x[2], sigma[2], wa[2];
  dnls::DQRSLV(2, r, 2, ipvt, diag, qtb, x, sigma, wa);
  EXPECT_EQ(sigma[0], 2.0);
  EXPECT_EQ(sigma[1], 0.0);  // zero pivot: solution truncated after component 1
  EXPECT_EQ(x[0], 2.0);
  EXPECT_EQ(x[1], 0.0);
  EXPECT_EQ(r[1], 1.0);  // R(1,2) transposed into the lower triangle
}

TEST(Dqrslv, TiesTakeTheTangentBranch) {
  // |R(1,1)| = |diag|: tan = -1 gives cos = c, sin = -c and a positive
  // diagonal 4c; the cotangent form would give cos = -c and -4c.
  double r[1] = {2};
  int ipvt[1] = {1};
  double diag[1] = {-2}, qtb[1] = {1}, x[1], sigma[1], wa[1];
  dnls::DQRSLV(1, r, 1, ipvt, diag, qtb, x, sigma, wa);
  EXPECT_EQ(sigma[0], 4 * kC);
  EXPECT_EQ(x[0], kC / (4 * kC));
  EXPECT_EQ(r[0], 2.0);
}

// ---------------------------------------------------------------- DFDJC3

struct Recorder {
  double seen[8][2];
  int calls = 0;
  int stop_at = 0;  // call number (from 1) that sets iflag negative
  void operator()(int& iflag, int, int, const double* x, double* fvec, double*, int) {
    seen[calls][0] = x[0];
    seen[calls][1] = x[1];
    ++calls;
    if (calls == stop_at) iflag = -3;
    fvec[0] = x[0] + 2 * x[1];
    fvec[1] = x[0] * x[1];
  }
};

TEST(Dfdjc3, StepsAndRestoresEachComponent) {
  Recorder rec;
  double x[2] = {0.0, 0.1};
  const double x1 = x[1];
  double fvec[2] = {0.2, 0.0}, fjac[4], wa[2];
  int iflag = 9;
  dnls::DFDJC3(rec, 2, 2, x, fvec, fjac, 2, iflag, 0.0, wa);
  EXPECT_EQ(iflag, 1);
  ASSERT_EQ(rec.calls, 2);
  EXPECT_EQ(rec.seen[0][0], kEps);  // X(J) = 0: absolute step eps
  EXPECT_EQ(rec.seen[0][1], x1);
  const double h = kEps * x1;
  EXPECT_EQ(rec.seen[1][0], 0.0);
  EXPECT_EQ(rec.seen[1][1], x1 + h);
  EXPECT_EQ(x[0], 0.0);  // restored bit for bit
  EXPECT_EQ(x[1], x1);
  EXPECT_EQ(fjac[0], (kEps + 2 * x1 - 0.2) / kEps);
  EXPECT_EQ(fjac[3], (0.0 - 0.0) / h);
  EXPECT_EQ(fjac[2], (2 * (x1 + h) - 0.2) / h);  // divided by h as computed
}

TEST(Dfdjc3, LargerEpsfcnSetsTheStep) {
  Recorder rec;
  double x[2] = {0.0, 0.0}, fvec[2] = {0, 0}, fjac[4], wa[2];
  int iflag = 0;
  dnls::DFDJC3(rec, 2, 2, x, fvec, fjac, 2, iflag, 1e-6, wa);
  EXPECT_EQ(rec.seen[0][0], std::sqrt(1e-6));
}

TEST(Dfdjc3, StopsOnNegativeIflag) {
  Recorder rec;
  rec.stop_at = 2;
  double x[2] = {1.0, 2.0}, fvec[2] = {5, 2}, fjac[4] = {-1, -1, -1, -1}, wa[2];
  int iflag = 0;
  dnls::DFDJC3(rec, 2, 2, x, fvec, fjac, 2, iflag, 0.0, wa);
  EXPECT_EQ(iflag, -3);
  EXPECT_EQ(rec.calls, 2);
  EXPECT_EQ(x[0], 1.0);
  EXPECT_EQ(x[1], 2.0 + kEps * 2.0);  // the increment stays
  EXPECT_NE(fjac[0], -1.0);           // column 1 written
  EXPECT_EQ(fjac[2], -1.0);           // column 2 not
  EXPECT_EQ(fjac[3], -1.0);
}

// ---------------------------------------------------------------- DWUPDT

TEST(Dwupdt, ZeroRowChangesNothing) {
  double r[4] = {2, -9, 1, 3};  // -9: strict lower triangle, never touched
  const double w[2] = {0, 0};
  double b[2] = {5, 6}, alpha = 7, cos[2], sin[2];
  dnls::DWUPDT(2, r, 2, w, b, alpha, cos, sin);
  EXPECT_EQ(r[0], 2.0);
  EXPECT_EQ(r[1], -9.0);
  EXPECT_EQ(r[2], 1.0);
  EXPECT_EQ(r[3], 3.0);
  EXPECT_EQ(b[0], 5.0);
  EXPECT_EQ(b[1], 6.0);
  EXPECT_EQ(alpha, 7.0);
  for (int j = 0; j < 2; ++j) {
    EXPECT_EQ(cos[j], 1.0);
    EXPECT_EQ(sin[j], 0.0);
  }
}

TEST(Dwupdt, CotangentBranchOnZeroTriangle) {
  for (double w1 : {3.0, -3.0}) {
    double r[4] = {0, 0, 0, 0};
    const double w[2] = {w1, 0};
    double b[2] = {5, 6}, alpha = 7, cos[2], sin[2];
    dnls::DWUPDT(2, r, 2, w, b, alpha, cos, sin);
    EXPECT_EQ(cos[0], 0.0);
    EXPECT_EQ(sin[0], 1.0);
    EXPECT_EQ(r[0], w1);
    EXPECT_EQ(b[0], 7.0);
    EXPECT_EQ(alpha, -5.0);
    EXPECT_EQ(cos[1], 1.0);
    EXPECT_EQ(sin[1], 0.0);
  }
}

TEST(Dwupdt, TiesTakeTheTangentBranch) {
  double r[1] = {2};
  const double w[1] = {-2};
  double b[1] = {1}, alpha = 0, cos[1], sin[1];
  dnls::DWUPDT(1, r, 1, w, b, alpha, cos, sin);
  EXPECT_EQ(cos[0], kC);
  EXPECT_EQ(sin[0], -kC);
  EXPECT_EQ(r[0], 4 * kC);
}

TEST(Dwupdt, FoldsTheRowIntoTheNormalEquations) {
  // R'R + w w' and R'b + w*alpha are invariant; so is |b|^2 + alpha^2.
  const int n = 3;
  const double r0[9] = {2, 0, 0, 1, 3, 0, -1, 0.5, 4};
  const double w[3] = {1, -2, 0.5};
  const double b0[3] = {1, 2, 3}, alpha0 = -1.5;
  double r[9], b[3], alpha = alpha0, cos[3], sin[3];
  std::copy(r0, r0 + 9, r);
  std::copy(b0, b0 + 3, b);
  dnls::DWUPDT(n, r, n, w, b, alpha, cos, sin);
  auto U = [](const double* m, int i, int j) { return i <= j ? m[j * 3 + i] : 0.0; };
  for (int i = 0; i < n; ++i) {
    double g0 = w[i] * alpha0, g1 = 0;
    for (int k = 0; k < n; ++k) {
      g0 += U(r0, k, i) * b0[k];
      g1 += U(r, k, i) * b[k];
    }
    EXPECT_NEAR(g1, g0, 1e-14) << i;
    for (int j = 0; j < n; ++j) {
      double a0 = w[i] * w[j], a1 = 0;
      for (int k = 0; k < n; ++k) {
        a0 += U(r0, k, i) * U(r0, k, j);
        a1 += U(r, k, i) * U(r, k, j);
      }
      EXPECT_NEAR(a1, a0, 1e-13) << i << j;
    }
  }
  EXPECT_NEAR(b[0] * b[0] + b[1] * b[1] + b[2] * b[2] + alpha * alpha, 14 + 2.25, 1e-13);
  EXPECT_EQ(r[1], 0.0);  // strict lower triangle untouched
  EXPECT_EQ(r[2], 0.0);
  EXPECT_EQ(r[5], 0.0);
}

// ---------------------------------------------------------------- DCKDER

TEST(Dckder, BuildsTheDisplacedPoint) {
  for (int mode : {1, 3, 0}) {
    const double x[3] = {0.0, 2.0, -4.0};
    double xp[3];
    dnls::DCKDER(1, 3, x, nullptr, nullptr, 1, xp, nullptr, mode, nullptr);
    EXPECT_EQ(xp[0], kEps) << mode;
    EXPECT_EQ(xp[1], 2.0 + kEps * 2.0);
    EXPECT_EQ(xp[2], -4.0 + kEps * 4.0);
  }
}

// Residuals f1 = x1^2 + 3*x2 + 1, f2 = x1 - x2 (zero at x), f3 = 5 (constant).
void residuals(const double* x, double* f) {
  f[0] = x[0] * x[0] + 3 * x[1] + 1;
  f[1] = x[0] - x[1];
  f[2] = 5;
}

TEST(Dckder, GradesEachResidual) {
  const double x[2] = {1.5, 1.5};
  double f[3], fp[3], xp[2], err[3];
  residuals(x, f);
  dnls::DCKDER(3, 2, x, f, nullptr, 3, xp, nullptr, 1, nullptr);
  residuals(xp, fp);

  double good[6] = {3, 1, 0, 3, -1, 0};  // by columns
  dnls::DCKDER(3, 2, x, f, good, 3, xp, fp, 2, err);
  EXPECT_GT(err[0], 0.5);
  EXPECT_EQ(err[1], 1.0);  // exactly zero at x: cannot be judged, counts as correct
  EXPECT_EQ(err[2], 1.0);  // no change at all

  double bad[6] = {3, 7, 0, 30, 7, 4};
  dnls::DCKDER(3, 2, x, f, bad, 3, xp, fp, 2, err);
  EXPECT_EQ(err[0], 0.0);
  EXPECT_EQ(err[1], 1.0);
  EXPECT_EQ(err[2], 1.0);
}

TEST(Dckder, ChangeBelowResolutionCountsAsCorrect) {
  // A residual whose change is under 100*epsmch relative is not judged.
  const double x[1] = {1.0}, f[1] = {1e10}, fp[1] = {1e10 + 1e-6};
  double xp[1], err[1];
  const double wrong[1] = {1e6};
  dnls::DCKDER(1, 1, x, f, wrong, 1, xp, fp, 2, err);
  EXPECT_EQ(err[0], 1.0);
  const double zero_fp[1] = {0.0};
  dnls::DCKDER(1, 1, x, f, wrong, 1, xp, zero_fp, 2, err);
  EXPECT_EQ(err[0], 1.0);
}

TEST(Dckder, PartialAgreementFallsBetweenZeroAndOne) {
  // Relative discrepancy 1e-12: log10(1e-12 / eps) / log10(eps) in (0, 1).
  const double x[1] = {1.0}, f[1] = {1.0};
  const double fp[1] = {1.0 + kEps};
  const double jac[1] = {1.0 + 2e-12 / kEps};
  double xp[1], err[1];
  dnls::DCKDER(1, 1, x, f, jac, 1, xp, fp, 2, err);
  EXPECT_GT(err[0], 0.1);
  EXPECT_LT(err[0], 0.9);
}

}  // namespace
