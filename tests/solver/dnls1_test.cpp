// The Levenberg-Marquardt iteration and its easy-to-use entry, on small fits
// with known answers, and the messages with which they end.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "dnls/io/units.hpp"
#include "dnls/messages/xerror.hpp"
#include "dnls/solver/dnls.hpp"
#include "tests/support/child.hpp"

namespace {

using testsupport::kReturned;
using testsupport::run_in_child;

// Least-squares fit of a two-parameter model g(t; x) to points (t, y), with
// the residual contract of the solver and counters for each kind of call.
struct Fit {
  std::vector<double> t, y;
  double (*g)(double t, const double* x, double* dg);
  int wrong_row = 0;  // row (from 1) whose first Jacobian is wrong
  int stop_row = 0;   // set iflag -1 on this row-wise Jacobian call (from 1)
  int evals = 0, jacobians = 0, rows = 0, prints = 0;

  void operator()(int& iflag, int m, int n, const double* x, double* fvec, double* fjac,
                  int ldfjac) {
    EXPECT_EQ(m, static_cast<int>(t.size()));
    EXPECT_EQ(n, 2);
    double dg[2];
    switch (iflag) {
      case 0:
        ++prints;
        break;
      case 1:
        for (int i = 0; i < m; ++i) fvec[i] = g(t[i], x, dg) - y[i];
        ++evals;
        break;
      case 2:
        for (int i = 0; i < m; ++i) {
          g(t[i], x, dg);
          fjac[i] = dg[0] + (jacobians == 0 && i + 1 == wrong_row ? 100.0 : 0.0);
          fjac[i + ldfjac] = dg[1];
        }
        ++jacobians;
        break;
      case 3:
        g(t[ldfjac - 1], x, dg);
        fjac[0] = dg[0] + (rows < m && ldfjac == wrong_row ? 100.0 : 0.0);
        fjac[1] = dg[1];
        if (++rows == stop_row) iflag = -1;
        break;
      default:
        ADD_FAILURE() << "iflag " << iflag;
    }
  }
};

double line(double t, const double* x, double* dg) {
  dg[0] = 1;
  dg[1] = t;
  return x[0] + x[1] * t;
}

double decay(double t, const double* x, double* dg) {
  const double e = std::exp(-x[1] * t);
  dg[0] = e;
  dg[1] = -x[0] * t * e;
  return x[0] * e;
}

// y = 1.04 + 1.98 t in the least-squares sense.
Fit line_fit() { return Fit{{0, 1, 2, 3, 4}, {1.0, 2.9, 5.2, 7.1, 8.8}, &line}; }

Fit decay_fit() {
  Fit f{{}, {}, &decay};
  const double noise[10] = {0.05, -0.03, 0.02, -0.04, 0.01, 0.03, -0.02, 0.0, 0.015, -0.01};
  for (int i = 0; i < 10; ++i) {
    f.t.push_back(i);
    f.y.push_back(5 * std::exp(-0.4 * i) + noise[i]);
  }
  return f;
}

const double kTol = std::sqrt(2.222e-16);

// Runs DNLS1E with a workspace of exactly the size the option needs.
int solve(Fit& fit, int iopt, double* x, std::vector<double>* fvec_out = nullptr) {
  const int m = static_cast<int>(fit.t.size()), n = 2;
  std::vector<double> fvec(m), wa(iopt == 3 ? n * (n + 5) + m : n * (m + 5) + m);
  int iwa[2], info = -99;
  dnls::DNLS1E(fit, iopt, m, n, x, fvec.data(), kTol, 0, info, iwa, wa.data(),
               static_cast<int>(wa.size()));
  if (fvec_out) *fvec_out = fvec;
  return info;
}

// --------------------------------------------------------------- convergence

TEST(Dnls1e, LinearFitReachesTheClosedFormAnswerWithEveryOption) {
  dnls::QuietScope quiet;
  for (int iopt = 1; iopt <= 3; ++iopt) {
    Fit fit = line_fit();
    double x[2] = {0, 0};
    std::vector<double> fvec;
    const int info = solve(fit, iopt, x, &fvec);
    EXPECT_GE(info, 1) << iopt;
    EXPECT_LE(info, 3) << iopt;
    // Forward differences carry a relative error of about sqrt(epsmch).
    const double tol = iopt == 1 ? 1e-7 : 1e-12;
    EXPECT_NEAR(x[0], 1.04, tol) << iopt;
    EXPECT_NEAR(x[1], 1.98, tol) << iopt;
    for (int i = 0; i < 5; ++i) EXPECT_EQ(fvec[i], x[0] + x[1] * fit.t[i] - fit.y[i]);
  }
}

TEST(Dnls1e, DecayFitAgreesAcrossOptions) {
  dnls::QuietScope quiet;
  double sol[3][2];
  for (int iopt = 1; iopt <= 3; ++iopt) {
    Fit fit = decay_fit();
    double* x = sol[iopt - 1];
    x[0] = 1;
    x[1] = 0.1;
    const int info = solve(fit, iopt, x);
    EXPECT_GE(info, 1) << iopt;
    EXPECT_LE(info, 3) << iopt;
    EXPECT_NEAR(x[0], 5.0, 0.05) << iopt;
    EXPECT_NEAR(x[1], 0.4, 0.01) << iopt;
    // Stationary: the gradient J'f vanishes relative to |J||f|.
    double grad[2] = {0, 0}, fsq = 0, jsq[2] = {0, 0}, dg[2];
    for (int i = 0; i < 10; ++i) {
      const double f = decay(fit.t[i], x, dg) - fit.y[i];
      fsq += f * f;
      for (int j = 0; j < 2; ++j) {
        grad[j] += dg[j] * f;
        jsq[j] += dg[j] * dg[j];
      }
    }
    for (int j = 0; j < 2; ++j) EXPECT_LT(std::fabs(grad[j]), 1e-6 * std::sqrt(fsq * jsq[j]));
  }
  for (int iopt = 2; iopt <= 3; ++iopt) {
    EXPECT_NEAR(sol[iopt - 1][0], sol[0][0], 1e-6 * sol[0][0]);
    EXPECT_NEAR(sol[iopt - 1][1], sol[0][1], 1e-6 * sol[0][1]);
  }
}

double level(double, const double* x, double* dg) {
  dg[0] = 1;
  dg[1] = 0;
  return x[0];
}

TEST(Dnls1e, ParameterWithoutInfluenceIsLeftAlone) {
  // The second Jacobian column is zero (a singular triangle for option 3):
  // the fit is the mean and the idle parameter keeps its value exactly.
  dnls::QuietScope quiet;
  for (int iopt = 1; iopt <= 3; ++iopt) {
    Fit fit = line_fit();
    fit.g = &level;
    double x[2] = {0, 3};
    const int info = solve(fit, iopt, x);
    EXPECT_GE(info, 1) << iopt;
    EXPECT_LE(info, 3) << iopt;
    EXPECT_NEAR(x[0], 5.0, 1e-7) << iopt;
    EXPECT_EQ(x[1], 3.0) << iopt;
  }
}

TEST(Dnls1, CountsEvaluationsAndPrintCalls) {
  dnls::QuietScope quiet;
  for (int iopt = 1; iopt <= 3; ++iopt) {
    Fit fit = decay_fit();
    const int m = 10, n = 2, ldfjac = iopt == 3 ? n : m;
    double x[2] = {1, 0.1}, fvec[10], fjac[20], diag[2], qtf[2], wa1[2], wa2[2], wa3[2], wa4[10];
    int info, nfev, njev, ipvt[2];
    dnls::DNLS1(fit, iopt, m, n, x, fvec, fjac, ldfjac, kTol, kTol, 0.0, 400, 0.0, diag, 1, 100.0,
                1, info, nfev, njev, ipvt, qtf, wa1, wa2, wa3, wa4);
    EXPECT_GE(info, 1);
    EXPECT_LE(info, 3);
    EXPECT_EQ(nfev, fit.evals) << iopt;
    EXPECT_EQ(njev, iopt == 1 ? 0 : iopt == 2 ? fit.jacobians : fit.rows / m);
    EXPECT_EQ(fit.rows % m, 0);
    // A print call opens every outer iteration (one Jacobian each), one more at the exit.
    EXPECT_EQ(fit.prints, (iopt == 1 ? (nfev - 1) / (n + 1) : njev) + 1);
  }
}

TEST(Dnls1, RejectedStepKeepsThePointAndShrinksTheBound) {
  // f1 = exp(x) - 1 from x = -5: the Gauss-Newton step lands near x = 142,
  // where the sum of squares explodes; the next trial starts again from -5
  // on the same Jacobian with a smaller step.
  struct Exp {
    std::vector<double> seen;
    void operator()(int& iflag, int, int, const double* x, double* fvec, double*, int) {
      if (iflag != 1) return;
      seen.push_back(x[0]);
      fvec[0] = std::exp(x[0]) - 1;
      fvec[1] = 0.5;
    }
  } fn;
  dnls::QuietScope quiet;
  double x[1] = {-5}, fvec[2], fjac[2], diag[1], qtf[1], wa1[1], wa2[1], wa3[1], wa4[2];
  int info, nfev, njev, ipvt[1];
  dnls::DNLS1(fn, 1, 2, 1, x, fvec, fjac, 2, kTol, kTol, 0.0, 400, 0.0, diag, 1, 100.0, 0, info,
              nfev, njev, ipvt, qtf, wa1, wa2, wa3, wa4);
  ASSERT_GE(fn.seen.size(), 4u);
  // start, difference point, first trial, second trial (no new Jacobian)
  EXPECT_EQ(fn.seen[1], -5 + 5 * kTol);
  EXPECT_GT(fn.seen[2], 100.0);
  EXPECT_GT(fn.seen[3], -5.0);
  EXPECT_LT(fn.seen[3] + 5, 0.2 * (fn.seen[2] + 5));
  EXPECT_GE(info, 1);
  EXPECT_LE(info, 3);
  EXPECT_NEAR(x[0], 0.0, 1e-6);
  EXPECT_EQ(fvec[1], 0.5);
}

// -------------------------------------------------------------- workspace

TEST(Dnls1e, RowWiseOptionStaysInItsMinimumWorkspace) {
  // m = 200, n = 2: option 3 needs n*(n+5)+m = 214 doubles, options 1 and 2
  // need n*(m+5)+m = 610. Guard values around the 214 must survive.
  dnls::QuietScope quiet;
  Fit fit{{}, {}, &line};
  for (int i = 0; i < 200; ++i) {
    fit.t.push_back(0.05 * i);
    fit.y.push_back(1 + 0.5 * fit.t.back() + 0.01 * std::sin(i));
  }
  const int m = 200, n = 2, lwa = 214, guard = 64;
  const double mark = -123.25;
  std::vector<double> store(lwa + 2 * guard, mark), fvec(m + 2 * guard, mark);
  int iwa[2 + 2] = {-7, 0, 0, -7}, info = -99;
  double x[2] = {0, 0};
  dnls::DNLS1E(fit, 3, m, n, x, fvec.data() + guard, kTol, 0, info, iwa + 1, store.data() + guard,
               lwa);
  EXPECT_GE(info, 1);
  EXPECT_LE(info, 3);
  for (int k = 0; k < guard; ++k) {
    EXPECT_EQ(store[k], mark);
    EXPECT_EQ(store[guard + lwa + k], mark);
    EXPECT_EQ(fvec[k], mark);
    EXPECT_EQ(fvec[guard + m + k], mark);
  }
  EXPECT_EQ(iwa[0], -7);
  EXPECT_EQ(iwa[3], -7);

  // Closed-form least-squares line for comparison.
  double st = 0, sy = 0, stt = 0, sty = 0;
  for (int i = 0; i < m; ++i) {
    st += fit.t[i];
    sy += fit.y[i];
    stt += fit.t[i] * fit.t[i];
    sty += fit.t[i] * fit.y[i];
  }
  const double b = (m * sty - st * sy) / (m * stt - st * st), a = (sy - b * st) / m;
  EXPECT_NEAR(x[0], a, 1e-9);
  EXPECT_NEAR(x[1], b, 1e-9);

  // The same workspace is too small for options 1 and 2.
  for (int iopt = 1; iopt <= 2; ++iopt) {
    Fit other = fit;
    other.evals = 0;
    double y[2] = {0, 0};
    dnls::DNLS1E(other, iopt, m, n, y, fvec.data() + guard, kTol, 0, info, iwa + 1,
                 store.data() + guard, lwa);
    EXPECT_EQ(info, 0);
    EXPECT_EQ(other.evals, 0);
  }
}

TEST(Dnls1e, StopDuringRowPassKeepsTheResiduals) {
  // A stop in the middle of the second row-wise Jacobian pass must leave
  // fvec holding the residuals at the returned x: rows already folded into
  // the triangle do not rotate fvec itself.
  dnls::QuietScope quiet;
  Fit fit = decay_fit();
  fit.stop_row = 15;
  double x[2] = {1, 0.1};
  std::vector<double> fvec;
  EXPECT_EQ(solve(fit, 3, x, &fvec), -1);
  EXPECT_EQ(fit.rows, 15);
  double dg[2];
  for (int i = 0; i < 10; ++i) EXPECT_EQ(fvec[i], decay(fit.t[i], x, dg) - fit.y[i]) << i;
}

TEST(Dnls1e, EvaluationLimitDependsOnTheOption) {
  // exp(-x) has its infimum at infinity: every step is a unit Gauss-Newton
  // step and no tolerance is met, so the limit ends the run (INFO 5):
  // 600 evaluations for option 1 (reached at 601), 300 for options 2 and 3.
  struct Tail {
    int evals = 0;
    void operator()(int& iflag, int m, int, const double* x, double* fvec, double* fjac,
                    int ldfjac) {
      if (iflag == 1) ++evals;
      for (int i = 0; i < 2; ++i) {
        if (iflag == 1) fvec[i] = std::exp(-x[i]);
        if (iflag == 2) {
          fjac[i] = i == 0 ? -std::exp(-x[0]) : 0;
          fjac[i + ldfjac] = i == 1 ? -std::exp(-x[1]) : 0;
        }
        if (iflag == 3) fjac[i] = i == ldfjac - 1 ? -std::exp(-x[i]) : 0;
      }
      (void)m;
    }
  };
  dnls::QuietScope quiet;
  const int expected[3] = {601, 300, 300};
  for (int iopt = 1; iopt <= 3; ++iopt) {
    Tail tail;
    double x[2] = {0, 0}, fvec[2], wa[2 * 7 + 2];
    int iwa[2], info = -99;
    dnls::DNLS1E(tail, iopt, 2, 2, x, fvec, kTol, 0, info, iwa, wa, 16);
    EXPECT_EQ(info, 5) << iopt;
    EXPECT_EQ(tail.evals, expected[iopt - 1]) << iopt;
  }
}

TEST(QuietScope, FailuresReturnTheirCodeAndNothingIsPrinted) {
  // Residuals exp(-x) have their infimum at infinity: the evaluation limit ends the fit.
  struct Tail {
    void operator()(int& iflag, int, int, const double* x, double* fvec, double*, int) const {
      if (iflag == 1)
        for (int i = 0; i < 2; ++i) fvec[i] = std::exp(-x[i]);
    }
  };
  auto run = run_in_child([] {
    int limit = -99, invalid = -99, stopped = -99, flags[3];
    {
      dnls::QuietScope outer;
      {
        dnls::QuietScope inner;
        Tail tail;
        double x[2] = {0, 0}, fvec[2], wa[16];
        int iwa[2];
        dnls::DNLS1E(tail, 1, 2, 2, x, fvec, kTol, 0, limit, iwa, wa, 16);
      }
      flags[0] = dnls::J4SAVE(2, 0, false);
      Fit fit = line_fit();
      double x[2] = {0, 0}, fvec[5], wa[40];
      int iwa[2];
      dnls::DNLS1E(fit, 1, 5, 2, x, fvec, kTol, 0, invalid, iwa, wa, 24);
      fit.stop_row = 2;
      fit.wrong_row = 1;  // a level-0 warning on the way
      dnls::DNLS1E(fit, 3, 5, 2, x, fvec, kTol, 0, stopped, iwa, wa, 40);
      flags[1] = dnls::J4SAVE(2, 0, false);
    }
    flags[2] = dnls::J4SAVE(2, 0, false);
    // Only the exit status reports back: nothing may be printed.
    const bool right = limit == 5 && invalid == 0 && stopped == -1 && flags[0] == 0 &&
                       flags[1] == 0 && flags[2] == 2;
    if (!right) std::_Exit(1);
  });
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(run.status, kReturned) << "1: wrong INFO or control flag";
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
}

// ---------------------------------------------------------------- messages

// In a child process: forgets the messages that earlier tests of this
// process recorded (the summary is printed to an unconnected unit).
void clear_message_table() {
  const int unit = dnls::J4SAVE(3, 99, true);
  int unused = 0;
  dnls::XERSVE("", "", "", 0, 0, 0, unused);
  dnls::J4SAVE(3, unit, true);
}

const std::string kSummaryHead =
    "0          ERROR MESSAGE SUMMARY\n"
    " LIBRARY    SUBROUTINE MESSAGE START             NERR     LEVEL     COUNT\n";

TEST(Dnls1e, ZeroResidualStartEndsWithTheThirdCondition) {
  struct Exact {
    void operator()(int& iflag, int m, int, const double* x, double* fvec, double*, int) {
      if (iflag != 1) return;
      for (int i = 0; i < m; ++i) fvec[i] = (x[0] - 1) * (i + 1) + (x[1] - 2);
    }
  };
  const std::string block =
      " ***MESSAGE FROM ROUTINE DNLS1 IN LIBRARY SLATEC.\n"
      " ***POTENTIALLY RECOVERABLE ERROR, PROG ABORTED, TRACEBACK REQUESTED\n"
      " *  THIRD CONVERGENCE CONDITION, CHECK RESULTS BEFORE ACCEPTING.\n"
      " *  ERROR NUMBER = 1\n"
      " *   \n"
      " ***END OF MESSAGE\n"
      " \n";
  auto run = run_in_child([] {
    clear_message_table();
    Exact fn;
    double x[2] = {1, 2}, fvec[3], wa[2 * 8 + 3];
    int iwa[2], info = -99;
    dnls::DNLS1E(fn, 1, 3, 2, x, fvec, kTol, 0, info, iwa, wa, 19);
    dnls::io::write_record(dnls::io::kStdout, "caller continued");
  });
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, block + " ***JOB ABORT DUE TO UNRECOVERED ERROR.\n" + kSummaryHead +
                         " SLATEC     DNLS1      THIRD CONVERGENCE CO         1         1"
                         "         1\n \n");

  // With a control flag that lets the run go on, INFO 4 comes back at the
  // start point after one Jacobian.
  auto cont = run_in_child([] {
    dnls::J4SAVE(2, 0, true);
    Exact fn;
    double x[2] = {1, 2}, fvec[3], fjac[6], diag[2], qtf[2], w1[2], w2[2], w3[2], w4[3];
    int info = -99, nfev, njev, ipvt[2];
    dnls::DNLS1(fn, 1, 3, 2, x, fvec, fjac, 3, kTol, kTol, 0.0, 600, 0.0, diag, 1, 100.0, 0, info,
                nfev, njev, ipvt, qtf, w1, w2, w3, w4);
    std::printf("%d %d %g %g\n", info, nfev, x[0], x[1]);
  });
  EXPECT_EQ(cont.status, kReturned);
  EXPECT_EQ(cont.out, "4 3 1 2\n");
}

TEST(Dnls1e, InvalidInputIsReportedAndNothingIsEvaluated) {
  auto run = run_in_child([] {
    clear_message_table();
    Fit fit = line_fit();
    double x[2] = {0, 0}, fvec[5], wa[40];
    int iwa[2], info = -99;
    dnls::DNLS1E(fit, 4, 5, 2, x, fvec, kTol, 0, info, iwa, wa, 40);
    dnls::io::write_record(dnls::io::kStdout, "caller continued");
  });
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            " ***MESSAGE FROM ROUTINE DNLS1E IN LIBRARY SLATEC.\n"
            " ***POTENTIALLY RECOVERABLE ERROR, PROG ABORTED, TRACEBACK REQUESTED\n"
            " *  INVALID INPUT PARAMETER.\n"
            " *  ERROR NUMBER = 2\n"
            " *   \n"
            " ***END OF MESSAGE\n"
            " \n"
            " ***JOB ABORT DUE TO UNRECOVERED ERROR.\n" +
                kSummaryHead +
                " SLATEC     DNLS1E     INVALID INPUT PARAME         2         1         1\n \n");

  // iopt, m, n, tol, lwa; m = 5, n = 2 needs 19 (option 3) or 25.
  struct Case {
    int iopt, m, n;
    double tol;
    int lwa;
  };
  const Case bad[] = {{0, 5, 2, kTol, 40}, {4, 5, 2, kTol, 40},   {1, 5, 0, kTol, 40},
                      {1, 1, 2, kTol, 40}, {1, 5, 2, -1e-10, 40}, {3, 5, 2, kTol, 18},
                      {1, 5, 2, kTol, 24}, {2, 5, 2, kTol, 19}};
  dnls::QuietScope quiet;
  for (const Case& c : bad) {
    Fit fit = line_fit();
    double x[2] = {0, 0}, fvec[5], wa[40];
    int iwa[2], info = -99;
    dnls::DNLS1E(fit, c.iopt, c.m, c.n, x, fvec, c.tol, 0, info, iwa, wa, c.lwa);
    EXPECT_EQ(info, 0) << c.iopt << " " << c.m << " " << c.n << " " << c.lwa;
    EXPECT_EQ(fit.evals + fit.jacobians + fit.rows + fit.prints, 0);
  }
  // Accepted: option 3 at its minimum, option 1 at its minimum, m = n, tol = 0.
  const Case good[] = {{3, 5, 2, kTol, 19}, {1, 5, 2, kTol, 25}, {1, 2, 2, 0.0, 40}};
  for (const Case& c : good) {
    Fit fit = line_fit();
    fit.t.resize(c.m);
    fit.y.resize(c.m);
    double x[2] = {0, 0}, fvec[5], wa[40];
    int iwa[2], info = -99;
    dnls::DNLS1E(fit, c.iopt, c.m, c.n, x, fvec, c.tol, 0, info, iwa, wa, c.lwa);
    EXPECT_NE(info, 0) << c.iopt << " " << c.m << " " << c.lwa;
    EXPECT_GT(fit.evals, 0);
  }
}

TEST(Dnls1, InvalidInputStillMakesTheFinalPrintCall) {
  dnls::QuietScope quiet;
  Fit fit = line_fit();
  double x[2] = {0, 0}, fvec[5], fjac[10], diag[2], qtf[2], w1[2], w2[2], w3[2], w4[5];
  int info = -99, nfev = -1, njev = -1, ipvt[2];
  // ldfjac 4 < m = 5 with option 1.
  dnls::DNLS1(fit, 1, 5, 2, x, fvec, fjac, 4, kTol, kTol, 0.0, 600, 0.0, diag, 1, 100.0, 3, info,
              nfev, njev, ipvt, qtf, w1, w2, w3, w4);
  EXPECT_EQ(info, 0);
  EXPECT_EQ(nfev, 0);
  EXPECT_EQ(njev, 0);
  EXPECT_EQ(fit.prints, 1);
  EXPECT_EQ(fit.evals, 0);
}

// The 84-character warning, broken by the line printer at the blank in
// position 73.
const std::string kWrongRow2 =
    " ***MESSAGE FROM ROUTINE DNLS1 IN LIBRARY SLATEC.\n"
    " ***INFORMATIVE MESSAGE, PROG CONTINUES, TRACEBACK REQUESTED\n"
    " *  DERIVATIVE OF FUNCTION        2 MAY BE WRONG, ERR =    0.000000E+00  TOO\n"
    " *  CLOSE TO 0.\n"
    " *  ERROR NUMBER = 7\n"
    " *   \n"
    " ***END OF MESSAGE\n"
    " \n";

TEST(Dnls1e, WrongJacobianIsReportedAndTheRunContinues) {
  for (int iopt = 2; iopt <= 3; ++iopt) {
    auto run = run_in_child([iopt] {
      Fit fit = line_fit();
      fit.wrong_row = 2;
      double x[2] = {0, 0};
      const int info = solve(fit, iopt, x);
      std::printf("%d %.9f %.9f\n", info >= 1 && info <= 3, x[0], x[1]);
    });
    EXPECT_EQ(run.status, kReturned) << iopt;
    EXPECT_EQ(run.err, kWrongRow2) << iopt;
    EXPECT_EQ(run.out, "1 1.040000000 1.980000000\n") << iopt;
  }
}

}  // namespace

// The program's residual routine, bound by the second DNLS1E entry.
static Fit* g_fit = nullptr;
void fcn(int& iflag, int m, int n, const double* x, double* fvec, double* fjac, int ldfjac) {
  (*g_fit)(iflag, m, n, x, fvec, fjac, ldfjac);
}

namespace {

TEST(Dnls1e, ProgramEntryCallsFcn) {
  dnls::QuietScope quiet;
  Fit fit = line_fit();
  g_fit = &fit;
  double x[2] = {0, 0}, fvec[5], wa[35];
  int iwa[2], info = -99;
  dnls::DNLS1E(1, 5, 2, x, fvec, kTol, 0, info, iwa, wa, 35);
  g_fit = nullptr;
  EXPECT_GE(info, 1);
  EXPECT_LE(info, 3);
  EXPECT_GT(fit.evals, 0);
  EXPECT_NEAR(x[0], 1.04, 1e-7);
  EXPECT_NEAR(x[1], 1.98, 1e-7);
  EXPECT_TRUE(iwa[0] + iwa[1] == 3);
}

}  // namespace

namespace {

// Counts its calls in the given counter.
struct Tally {
  int* calls;
  void operator()(int&, int, int, const double*, double*, double*, int) const { ++*calls; }
};

TEST(ResidualFn, CopyOfAMutableReferenceCallsItsTargetNotTheOriginal) {
  int first = 0, second = 0;
  Tally a{&first}, b{&second};
  dnls::ResidualFn original(a);
  dnls::ResidualFn copy(original);  // a mutable lvalue: must still copy
  original = dnls::ResidualFn(b);
  int iflag = 1;
  copy(iflag, 0, 0, nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 0);

  // A copy that outlives the original still works.
  auto make_copy = [&] {
    dnls::ResidualFn local(a);
    return dnls::ResidualFn(local);
  };
  dnls::ResidualFn survivor = make_copy();
  survivor(iflag, 0, 0, nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(first, 2);

  const Tally c{&second};  // const callables are accepted too
  dnls::ResidualFn from_const(c);
  from_const(iflag, 0, 0, nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(second, 1);
}

}  // namespace
