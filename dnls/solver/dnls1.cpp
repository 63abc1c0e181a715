#include <algorithm>
#include <cmath>
#include <string_view>

#include "dnls/io/format.hpp"
#include "dnls/messages/machine.hpp"
#include "dnls/messages/xerror.hpp"
#include "dnls/solver/dnls.hpp"

namespace dnls {
namespace {

constexpr double one = 1.0, p1 = 0.1, p5 = 0.5, p25 = 0.25, p75 = 0.75, p0001 = 1.0e-4, zero = 0.0,
                 chklim = 0.1;

// The arguments of one DNLS1 call and the progress of its iteration.
struct Run {
  ResidualFn fcn;
  int iopt, m, n;
  double *x, *fvec, *fjac;
  int ldfjac;
  double ftol, xtol, gtol;
  int maxfev;
  double epsfcn;
  double* diag;
  int mode;
  double factor;
  int nprint;
  int &info, &nfev, &njev;
  int* ipvt;
  double *qtf, *wa1, *wa2, *wa3, *wa4;

  double epsmch = D1MACH(4);
  int iflag = 0;
  int iter = 1;
  double fnorm = zero;  // norm of the residuals at x
  double par = zero, delta = zero, xnorm = zero, gnorm = zero;
  // The last trial step: its scaled length, the residual norm at x + p, the
  // actual and predicted relative reductions and their ratio.
  double pnorm = zero, fnorm1 = zero, actred = zero, prered = zero, ratio = zero;

  double& J(int i, int j) const { return fjac[static_cast<long>(j) * ldfjac + i]; }
};

// Warns (level 0, the run continues) that row i (counted from 1) of a
// supplied Jacobian disagrees with forward differences.
void warn_derivative(int i, double err) {
  char text[96];
  const std::size_t len = fmt::format_to(
      text, sizeof text,
      "('DERIVATIVE OF FUNCTION ',I8,' MAY BE WRONG, ERR = ',1PE15.6,1X,' TOO CLOSE TO 0.')",
      {i, err});
  XERMSG("SLATEC", "DNLS1", std::string_view(text, len), 7, 0);
}

bool invalid_input(const Run& s) {
  bool invalid = s.iopt < 1 || s.iopt > 3 || s.n <= 0 || s.m < s.n || s.ldfjac < s.n ||
                 s.ftol < zero || s.xtol < zero || s.gtol < zero || s.maxfev <= 0 ||
                 s.factor <= zero || (s.iopt < 3 && s.ldfjac < s.m);
  if (!invalid && s.mode == 2) {
    for (int j = 0; j < s.n; ++j) {
      if (s.diag[j] <= zero) invalid = true;
    }
  }
  return invalid;
}

// After DQRFAC: applies the Householder reflections stored on and below the
// diagonal to v[0..rows) (v becomes Q'*v) and puts R's diagonal (wa1) back.
void reflect(Run& s, int rows, double* v) {
  for (int j = 0; j < s.n; ++j) {
    if (s.J(j, j) != zero) {
      double sum = zero;
      for (int i = j; i < rows; ++i) sum = sum + s.J(i, j) * v[i];
      const double temp = -sum / s.J(j, j);
      for (int i = j; i < rows; ++i) v[i] = v[i] + s.J(i, j) * temp;
    }
    s.J(j, j) = s.wa1[j];
  }
}

// The print call that opens every nprint-th outer iteration. False when fcn
// asks to stop.
bool print_call(Run& s) {
  if (s.nprint <= 0) return true;
  s.iflag = 0;
  if ((s.iter - 1) % s.nprint == 0) s.fcn(s.iflag, s.m, s.n, s.x, s.fvec, s.fjac, 1);
  return s.iflag >= 0;
}

// Option 3: folds the Jacobian rows one at a time into the n by n triangle
// and qtf; a singular triangle is refactored with pivoting. False when fcn
// asks to stop.
bool fold_rows(Run& s) {
  double err = zero;  // derivative-check figure of one row
  for (int j = 0; j < s.n; ++j) {
    s.qtf[j] = zero;
    for (int i = 0; i < s.n; ++i) s.J(i, j) = zero;
  }
  for (int i = 0; i < s.m; ++i) {
    s.iflag = 3;
    s.fcn(s.iflag, s.m, s.n, s.x, s.fvec, s.wa3, i + 1);
    if (s.iflag < 0) return false;
    if (s.iter <= 1) {
      DCKDER(1, s.n, s.x, &s.fvec[i], s.wa3, 1, s.wa1, &s.wa4[i], 1, &err);
      if (i == 0) {
        s.iflag = 1;
        s.fcn(s.iflag, s.m, s.n, s.wa1, s.wa4, s.fjac, 1);
        ++s.nfev;
        if (s.iflag < 0) return false;
      }
      DCKDER(1, s.n, s.x, &s.fvec[i], s.wa3, 1, s.wa1, &s.wa4[i], 2, &err);
      if (err < chklim) warn_derivative(i + 1, err);
    }
    // The row's residual is rotated in a copy: fvec keeps the residuals.
    double alpha = s.fvec[i];
    DWUPDT(s.n, s.fjac, s.ldfjac, s.wa3, s.qtf, alpha, s.wa1, s.wa2);
  }
  ++s.njev;

  bool sing = false;
  for (int j = 0; j < s.n; ++j) {
    if (s.J(j, j) == zero) sing = true;
    s.ipvt[j] = j + 1;
    s.wa2[j] = DENORM(j + 1, &s.J(0, j));
  }
  if (sing) {
    DQRFAC(s.n, s.n, s.fjac, s.ldfjac, true, s.ipvt, s.n, s.wa1, s.wa2, s.wa3);
    reflect(s, s.n, s.qtf);
  }
  return true;
}

// The Jacobian at x and its QR factorization: R in fjac, the column norms in
// wa2, qtf = first n components of Q'*fvec. Option 2 checks the supplied
// Jacobian against forward differences on the first iteration. False when
// fcn asks to stop.
bool jacobian_and_factorization(Run& s) {
  if (s.iopt == 3) return fold_rows(s);
  if (s.iopt == 1) {
    s.iflag = 1;
    DFDJC3(s.fcn, s.m, s.n, s.x, s.fvec, s.fjac, s.ldfjac, s.iflag, s.epsfcn, s.wa4);
    s.nfev += s.n;
  } else {
    s.iflag = 2;
    s.fcn(s.iflag, s.m, s.n, s.x, s.fvec, s.fjac, s.ldfjac);
    ++s.njev;
    if (s.iter <= 1) {
      if (s.iflag < 0) return false;
      double err = zero;  // derivative-check figure of one row
      DCKDER(s.m, s.n, s.x, s.fvec, s.fjac, s.ldfjac, s.wa1, s.wa4, 1, &err);
      s.iflag = 1;
      s.fcn(s.iflag, s.m, s.n, s.wa1, s.wa4, s.fjac, s.ldfjac);
      ++s.nfev;
      if (s.iflag < 0) return false;
      for (int i = 0; i < s.m; ++i) {
        DCKDER(1, s.n, s.x, &s.fvec[i], &s.J(i, 0), s.ldfjac, s.wa1, &s.wa4[i], 2, &err);
        if (err < chklim) warn_derivative(i + 1, err);
      }
    }
  }
  if (s.iflag < 0) return false;
  DQRFAC(s.m, s.n, s.fjac, s.ldfjac, true, s.ipvt, s.n, s.wa1, s.wa2, s.wa3);
  for (int i = 0; i < s.m; ++i) s.wa4[i] = s.fvec[i];
  reflect(s, s.m, s.wa4);
  for (int j = 0; j < s.n; ++j) s.qtf[j] = s.wa4[j];
  return true;
}

// First iteration: scaling from the column norms (unless the caller gave
// diag, mode 2) and the initial step bound.
void first_scaling(Run& s) {
  if (s.mode != 2) {
    for (int j = 0; j < s.n; ++j) {
      s.diag[j] = s.wa2[j];
      if (s.wa2[j] == zero) s.diag[j] = one;
    }
  }
  for (int j = 0; j < s.n; ++j) s.wa3[j] = s.diag[j] * s.x[j];
  s.xnorm = DENORM(s.n, s.wa3);
  s.delta = s.factor * s.xnorm;
  if (s.delta == zero) s.delta = s.factor;
}

// Largest cosine between the residuals and a column of the Jacobian.
double scaled_gradient_norm(const Run& s) {
  double gnorm = zero;
  if (s.fnorm != zero) {
    for (int j = 0; j < s.n; ++j) {
      const int l = s.ipvt[j] - 1;
      if (s.wa2[l] != zero) {
        double sum = zero;
        for (int i = 0; i <= j; ++i) sum = sum + s.J(i, j) * (s.qtf[i] / s.fnorm);
        gnorm = std::max(gnorm, std::fabs(sum / s.wa2[l]));
      }
    }
  }
  return gnorm;
}

// Computes the step p = -wa1 for the current bound, evaluates the residuals
// at x + p (wa2, into wa4) and the actual and predicted reductions. False
// when fcn asks to stop.
bool trial_step(Run& s) {
  const int n = s.n;
  DMPAR(n, s.fjac, s.ldfjac, s.ipvt, s.diag, s.qtf, s.delta, s.par, s.wa1, s.wa2, s.wa3, s.wa4);

  for (int j = 0; j < n; ++j) {
    s.wa1[j] = -s.wa1[j];
    s.wa2[j] = s.x[j] + s.wa1[j];
    s.wa3[j] = s.diag[j] * s.wa1[j];
  }
  s.pnorm = DENORM(n, s.wa3);
  if (s.iter == 1) s.delta = std::min(s.delta, s.pnorm);

  s.iflag = 1;
  s.fcn(s.iflag, s.m, n, s.wa2, s.wa4, s.fjac, 1);
  ++s.nfev;
  if (s.iflag < 0) return false;
  s.fnorm1 = DENORM(s.m, s.wa4);

  s.actred = -one;
  if (p1 * s.fnorm1 < s.fnorm) {
    const double t = s.fnorm1 / s.fnorm;
    s.actred = one - t * t;
  }

  // Predicted reduction and directional derivative, from R*P'*p.
  for (int j = 0; j < n; ++j) {
    s.wa3[j] = zero;
    const double temp = s.wa1[s.ipvt[j] - 1];
    for (int i = 0; i <= j; ++i) s.wa3[i] = s.wa3[i] + s.J(i, j) * temp;
  }
  const double temp1 = DENORM(n, s.wa3) / s.fnorm;
  const double temp2 = std::sqrt(s.par) * s.pnorm / s.fnorm;
  s.prered = temp1 * temp1 + temp2 * temp2 / p5;
  const double dirder = -(temp1 * temp1 + temp2 * temp2);

  s.ratio = zero;
  if (s.prered != zero) s.ratio = s.actred / s.prered;

  // Step bound update.
  if (s.ratio <= p25) {
    double temp = s.actred >= zero ? p5 : p5 * dirder / (dirder + p5 * s.actred);
    if (p1 * s.fnorm1 >= s.fnorm || temp < p1) temp = p1;
    s.delta = temp * std::min(s.delta, s.pnorm / p1);
    s.par = s.par / temp;
  }
  if (s.ratio > p25 && !(s.par != zero && s.ratio < p75)) {
    s.delta = s.pnorm / p5;
    s.par = p5 * s.par;
  }
  return true;
}

// Moves to x + p (wa2) when the step reduced the sum of squares enough.
void accept_if_successful(Run& s) {
  if (!(s.ratio >= p0001)) return;
  for (int j = 0; j < s.n; ++j) {
    s.x[j] = s.wa2[j];
    s.wa2[j] = s.diag[j] * s.x[j];
  }
  for (int i = 0; i < s.m; ++i) s.fvec[i] = s.wa4[i];
  s.xnorm = DENORM(s.n, s.wa2);
  s.fnorm = s.fnorm1;
  ++s.iter;
}

// Sets info from the convergence tests (1 to 3) or, failing those, from the
// tests for the evaluation limit and for tolerances too small (5 to 8).
// True when the iteration ends.
bool converged(Run& s) {
  const bool reduced = std::fabs(s.actred) <= s.ftol && s.prered <= s.ftol && p5 * s.ratio <= one;
  if (reduced) s.info = 1;
  if (s.delta <= s.xtol * s.xnorm) s.info = 2;
  if (reduced && s.info == 2) s.info = 3;
  if (s.info != 0) return true;

  const double epsmch = s.epsmch;
  if (s.nfev >= s.maxfev) s.info = 5;
  if (std::fabs(s.actred) <= epsmch && s.prered <= epsmch && p5 * s.ratio <= one) s.info = 6;
  if (s.delta <= epsmch * s.xnorm) s.info = 7;
  if (s.gnorm <= epsmch) s.info = 8;
  return s.info != 0;
}

// Runs the iteration until info is set or fcn asks to stop.
void iterate(Run& s) {
  if (invalid_input(s)) return;

  s.iflag = 1;
  s.fcn(s.iflag, s.m, s.n, s.x, s.fvec, s.fjac, 1);
  s.nfev = 1;
  if (s.iflag < 0) return;
  s.fnorm = DENORM(s.m, s.fvec);

  for (;;) {  // outer iteration: one Jacobian each
    if (!print_call(s)) return;
    if (!jacobian_and_factorization(s)) return;
    if (s.iter == 1) first_scaling(s);

    // A zero gradient ends the iteration.
    s.gnorm = scaled_gradient_norm(s);
    if (s.gnorm <= s.gtol) s.info = 4;
    if (s.info != 0) return;

    if (s.mode != 2) {
      for (int j = 0; j < s.n; ++j) s.diag[j] = std::max(s.diag[j], s.wa2[j]);
    }

    for (;;) {  // inner iteration: trial steps until one succeeds
      if (!trial_step(s)) return;
      accept_if_successful(s);
      if (converged(s)) return;
      if (!(s.ratio < p0001)) break;
    }
  }
}

// A negative iflag becomes info; the final print call; every code but 1 to
// 3 is reported through XERMSG.
void final_report(Run& s) {
  if (s.iflag < 0) s.info = s.iflag;
  s.iflag = 0;
  if (s.nprint > 0) s.fcn(s.iflag, s.m, s.n, s.x, s.fvec, s.fjac, 1);

  const int info = s.info;
  if (info < 0) {
    XERMSG("SLATEC", "DNLS1", "EXECUTION TERMINATED BECAUSE USER SET IFLAG NEGATIVE.", 1, 1);
  }
  if (info == 0) XERMSG("SLATEC", "DNLS1", "INVALID INPUT PARAMETER.", 2, 1);
  if (info == 4) {
    XERMSG("SLATEC", "DNLS1", "THIRD CONVERGENCE CONDITION, CHECK RESULTS BEFORE ACCEPTING.", 1, 1);
  }
  if (info == 5) XERMSG("SLATEC", "DNLS1", "TOO MANY FUNCTION EVALUATIONS.", 9, 1);
  if (info >= 6) {
    XERMSG("SLATEC", "DNLS1", "TOLERANCES TOO SMALL, NO FURTHER IMPROVEMENT POSSIBLE.", 3, 1);
  }
}

}  // namespace

// Levenberg-Marquardt iteration with a trust region in the variables scaled
// by diag. Each outer iteration evaluates and factors the Jacobian (forward
// differences for iopt 1, the full Jacobian from fcn for iopt 2, row by row
// into an n by n triangle for iopt 3); the inner iteration computes trial
// steps on that factorization until one reduces the sum of squares enough.
// Every termination other than codes 1 to 3 is reported through XERMSG.
void DNLS1(ResidualFn fcn, int iopt, int m, int n, double* x, double* fvec, double* fjac,
           int ldfjac, double ftol, double xtol, double gtol, int maxfev, double epsfcn,
           double* diag, int mode, double factor, int nprint, int& info, int& nfev, int& njev,
           int* ipvt, double* qtf, double* wa1, double* wa2, double* wa3, double* wa4) {
  Run s{fcn,  iopt, m,      n,      x,    fvec, fjac, ldfjac, ftol, xtol, gtol, maxfev, epsfcn,
        diag, mode, factor, nprint, info, nfev, njev, ipvt,   qtf,  wa1,  wa2,  wa3,    wa4};
  info = 0;
  nfev = 0;
  njev = 0;
  iterate(s);
  final_report(s);
}

}  // namespace dnls
