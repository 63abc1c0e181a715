#include <algorithm>
#include <cmath>
#include <string_view>

#include "dnls/io/format.hpp"
#include "dnls/messages/machine.hpp"
#include "dnls/messages/xerror.hpp"
#include "dnls/solver/dnls.hpp"

namespace dnls {
namespace {

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
  constexpr double one = 1.0, p1 = 0.1, p5 = 0.5, p25 = 0.25, p75 = 0.75, p0001 = 1.0e-4,
                   zero = 0.0, chklim = 0.1;
  auto J = [fjac, ldfjac](int i, int j) -> double& {
    return fjac[static_cast<long>(j) * ldfjac + i];
  };

  // After DQRFAC: applies the Householder reflections stored on and below the
  // diagonal to v[0..rows) (v becomes Q'*v) and puts R's diagonal (wa1) back.
  auto reflect = [&](int rows, double* v) {
    for (int j = 0; j < n; ++j) {
      if (J(j, j) != zero) {
        double sum = zero;
        for (int i = j; i < rows; ++i) sum = sum + J(i, j) * v[i];
        const double temp = -sum / J(j, j);
        for (int i = j; i < rows; ++i) v[i] = v[i] + J(i, j) * temp;
      }
      J(j, j) = wa1[j];
    }
  };

  const double epsmch = D1MACH(4);
  info = 0;
  int iflag = 0;
  nfev = 0;
  njev = 0;

  // Runs the iteration; every return leads to the common termination below.
  auto iterate = [&] {
    bool invalid = iopt < 1 || iopt > 3 || n <= 0 || m < n || ldfjac < n || ftol < zero ||
                   xtol < zero || gtol < zero || maxfev <= 0 || factor <= zero ||
                   (iopt < 3 && ldfjac < m);
    if (!invalid && mode == 2) {
      for (int j = 0; j < n; ++j) {
        if (diag[j] <= zero) invalid = true;
      }
    }
    if (invalid) return;

    iflag = 1;
    fcn(iflag, m, n, x, fvec, fjac, 1);
    nfev = 1;
    if (iflag < 0) return;
    double fnorm = DENORM(m, fvec);

    double par = zero, delta = zero, xnorm = zero;
    double err = zero;  // derivative-check figure of one row
    int iter = 1;

    for (;;) {  // outer iteration
      if (nprint > 0) {
        iflag = 0;
        if ((iter - 1) % nprint == 0) fcn(iflag, m, n, x, fvec, fjac, 1);
        if (iflag < 0) return;
      }

      // Jacobian and its QR factorization; qtf = first n components of Q'*fvec.
      if (iopt == 1) {
        iflag = 1;
        DFDJC3(fcn, m, n, x, fvec, fjac, ldfjac, iflag, epsfcn, wa4);
        nfev += n;
      } else if (iopt == 2) {
        iflag = 2;
        fcn(iflag, m, n, x, fvec, fjac, ldfjac);
        ++njev;
        if (iter <= 1) {
          if (iflag < 0) return;
          DCKDER(m, n, x, fvec, fjac, ldfjac, wa1, wa4, 1, &err);
          iflag = 1;
          fcn(iflag, m, n, wa1, wa4, fjac, ldfjac);
          ++nfev;
          if (iflag < 0) return;
          for (int i = 0; i < m; ++i) {
            DCKDER(1, n, x, &fvec[i], &J(i, 0), ldfjac, wa1, &wa4[i], 2, &err);
            if (err < chklim) warn_derivative(i + 1, err);
          }
        }
      }

      if (iopt != 3) {
        if (iflag < 0) return;
        DQRFAC(m, n, fjac, ldfjac, true, ipvt, n, wa1, wa2, wa3);
        for (int i = 0; i < m; ++i) wa4[i] = fvec[i];
        reflect(m, wa4);
        for (int j = 0; j < n; ++j) qtf[j] = wa4[j];
      } else {
        // Rows are folded one at a time into the n by n triangle and qtf.
        for (int j = 0; j < n; ++j) {
          qtf[j] = zero;
          for (int i = 0; i < n; ++i) J(i, j) = zero;
        }
        for (int i = 0; i < m; ++i) {
          iflag = 3;
          fcn(iflag, m, n, x, fvec, wa3, i + 1);
          if (iflag < 0) return;
          if (iter <= 1) {
            DCKDER(1, n, x, &fvec[i], wa3, 1, wa1, &wa4[i], 1, &err);
            if (i == 0) {
              iflag = 1;
              fcn(iflag, m, n, wa1, wa4, fjac, 1);
              ++nfev;
              if (iflag < 0) return;
            }
            DCKDER(1, n, x, &fvec[i], wa3, 1, wa1, &wa4[i], 2, &err);
            if (err < chklim) warn_derivative(i + 1, err);
          }
          // The row's residual is rotated in a copy: fvec keeps the residuals.
          double alpha = fvec[i];
          DWUPDT(n, fjac, ldfjac, wa3, qtf, alpha, wa1, wa2);
        }
        ++njev;

        // A singular triangle is refactored with pivoting.
        bool sing = false;
        for (int j = 0; j < n; ++j) {
          if (J(j, j) == zero) sing = true;
          ipvt[j] = j + 1;
          wa2[j] = DENORM(j + 1, &J(0, j));
        }
        if (sing) {
          DQRFAC(n, n, fjac, ldfjac, true, ipvt, n, wa1, wa2, wa3);
          reflect(n, qtf);
        }
      }

      // First iteration: scaling from the column norms, initial step bound.
      if (iter == 1) {
        if (mode != 2) {
          for (int j = 0; j < n; ++j) {
            diag[j] = wa2[j];
            if (wa2[j] == zero) diag[j] = one;
          }
        }
        for (int j = 0; j < n; ++j) wa3[j] = diag[j] * x[j];
        xnorm = DENORM(n, wa3);
        delta = factor * xnorm;
        if (delta == zero) delta = factor;
      }

      // Norm of the scaled gradient; a zero gradient ends the iteration.
      double gnorm = zero;
      if (fnorm != zero) {
        for (int j = 0; j < n; ++j) {
          const int l = ipvt[j] - 1;
          if (wa2[l] != zero) {
            double sum = zero;
            for (int i = 0; i <= j; ++i) sum = sum + J(i, j) * (qtf[i] / fnorm);
            gnorm = std::max(gnorm, std::fabs(sum / wa2[l]));
          }
        }
      }
      if (gnorm <= gtol) info = 4;
      if (info != 0) return;

      if (mode != 2) {
        for (int j = 0; j < n; ++j) diag[j] = std::max(diag[j], wa2[j]);
      }

      for (;;) {  // inner iteration
        DMPAR(n, fjac, ldfjac, ipvt, diag, qtf, delta, par, wa1, wa2, wa3, wa4);

        // Trial point x + p, with p = -wa1.
        for (int j = 0; j < n; ++j) {
          wa1[j] = -wa1[j];
          wa2[j] = x[j] + wa1[j];
          wa3[j] = diag[j] * wa1[j];
        }
        const double pnorm = DENORM(n, wa3);
        if (iter == 1) delta = std::min(delta, pnorm);

        iflag = 1;
        fcn(iflag, m, n, wa2, wa4, fjac, 1);
        ++nfev;
        if (iflag < 0) return;
        const double fnorm1 = DENORM(m, wa4);

        double actred = -one;
        if (p1 * fnorm1 < fnorm) {
          const double t = fnorm1 / fnorm;
          actred = one - t * t;
        }

        // Predicted reduction and directional derivative, from R*P'*p.
        for (int j = 0; j < n; ++j) {
          wa3[j] = zero;
          const double temp = wa1[ipvt[j] - 1];
          for (int i = 0; i <= j; ++i) wa3[i] = wa3[i] + J(i, j) * temp;
        }
        const double temp1 = DENORM(n, wa3) / fnorm;
        const double temp2 = std::sqrt(par) * pnorm / fnorm;
        const double prered = temp1 * temp1 + temp2 * temp2 / p5;
        const double dirder = -(temp1 * temp1 + temp2 * temp2);

        double ratio = zero;
        if (prered != zero) ratio = actred / prered;

        // Step bound update.
        if (ratio <= p25) {
          double temp = actred >= zero ? p5 : p5 * dirder / (dirder + p5 * actred);
          if (p1 * fnorm1 >= fnorm || temp < p1) temp = p1;
          delta = temp * std::min(delta, pnorm / p1);
          par = par / temp;
        }
        if (ratio > p25 && !(par != zero && ratio < p75)) {
          delta = pnorm / p5;
          par = p5 * par;
        }

        // Accept a successful step.
        if (ratio >= p0001) {
          for (int j = 0; j < n; ++j) {
            x[j] = wa2[j];
            wa2[j] = diag[j] * x[j];
          }
          for (int i = 0; i < m; ++i) fvec[i] = wa4[i];
          xnorm = DENORM(n, wa2);
          fnorm = fnorm1;
          ++iter;
        }

        const bool reduced = std::fabs(actred) <= ftol && prered <= ftol && p5 * ratio <= one;
        if (reduced) info = 1;
        if (delta <= xtol * xnorm) info = 2;
        if (reduced && info == 2) info = 3;
        if (info != 0) return;

        if (nfev >= maxfev) info = 5;
        if (std::fabs(actred) <= epsmch && prered <= epsmch && p5 * ratio <= one) info = 6;
        if (delta <= epsmch * xnorm) info = 7;
        if (gnorm <= epsmch) info = 8;
        if (info != 0) return;

        if (!(ratio < p0001)) break;
      }
    }
  };
  iterate();

  if (iflag < 0) info = iflag;
  iflag = 0;
  if (nprint > 0) fcn(iflag, m, n, x, fvec, fjac, 1);

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

}  // namespace dnls
