#include <algorithm>
#include <cmath>

#include "dnls/messages/machine.hpp"
#include "dnls/solver/dnls.hpp"
#include "dnls/solver/givens.hpp"

namespace dnls {

// Finds par >= 0 such that the solution x of A*x = b, sqrt(par)*D*x = 0
// satisfies | ||D*x|| - delta | <= 0.1*delta (or par = 0 when the
// Gauss-Newton step already fits), by a safeguarded Newton iteration on par
// between the bounds parl and paru. R is the triangular factor of A*P and
// qtb the first n components of Q'*b. The strict lower triangle of r and
// sigma receive the factor S of the last solve.
void DMPAR(int n, double* r, int ldr, const int* ipvt, const double* diag, const double* qtb,
           double delta, double& par, double* x, double* sigma, double* wa1, double* wa2) {
  constexpr double p1 = 0.1, p001 = 0.001, zero = 0.0;
  auto R = [r, ldr](int i, int j) -> double& { return r[static_cast<long>(j) * ldr + i]; };

  const double dwarf = D1MACH(1);

  // Gauss-Newton direction; a rank-deficient R yields a least-squares step
  // on the leading nonsingular block.
  int nsing = n;
  for (int j = 0; j < n; ++j) {
    wa1[j] = qtb[j];
    if (R(j, j) == zero && nsing == n) nsing = j;
    if (nsing < n) wa1[j] = zero;
  }
  for (int j = nsing - 1; j >= 0; --j) {
    wa1[j] = wa1[j] / R(j, j);
    const double temp = wa1[j];
    for (int i = 0; i < j; ++i) wa1[i] = wa1[i] - R(i, j) * temp;
  }
  for (int j = 0; j < n; ++j) x[ipvt[j] - 1] = wa1[j];

  // Accept the Gauss-Newton step when it lies (nearly) within the radius.
  int iter = 0;
  for (int j = 0; j < n; ++j) wa2[j] = diag[j] * x[j];
  double dxnorm = DENORM(n, wa2);
  double fp = dxnorm - delta;
  if (fp <= p1 * delta) {
    par = zero;
    return;
  }

  // Lower bound from the Newton step at par = 0 (full rank only).
  double parl = zero;
  if (nsing == n) {
    for (int j = 0; j < n; ++j) {
      const int l = ipvt[j] - 1;
      wa1[j] = diag[l] * (wa2[l] / dxnorm);
    }
    for (int j = 0; j < n; ++j) {
      double sum = zero;
      for (int i = 0; i < j; ++i) sum = sum + R(i, j) * wa1[i];
      wa1[j] = (wa1[j] - sum) / R(j, j);
    }
    const double temp = DENORM(n, wa1);
    parl = ((fp / delta) / temp) / temp;
  }

  // Upper bound from the scaled gradient.
  for (int j = 0; j < n; ++j) {
    double sum = zero;
    for (int i = 0; i <= j; ++i) sum = sum + R(i, j) * qtb[i];
    wa1[j] = sum / diag[ipvt[j] - 1];
  }
  const double gnorm = DENORM(n, wa1);
  double paru = gnorm / delta;
  if (paru == zero) paru = dwarf / std::min(delta, p1);

  par = std::max(par, parl);
  par = std::min(par, paru);
  if (par == zero) par = gnorm / dxnorm;

  for (;;) {
    ++iter;
    if (par == zero) par = std::max(dwarf, p001 * paru);
    const double sqpar = std::sqrt(par);
    for (int j = 0; j < n; ++j) wa1[j] = sqpar * diag[j];
    DQRSLV(n, r, ldr, ipvt, wa1, qtb, x, sigma, wa2);
    for (int j = 0; j < n; ++j) wa2[j] = diag[j] * x[j];
    dxnorm = DENORM(n, wa2);
    const double fpold = fp;
    fp = dxnorm - delta;

    if (std::fabs(fp) <= p1 * delta || (parl == zero && fp <= fpold && fpold < zero) ||
        iter == 10) {
      break;
    }

    // Newton correction, from S'*z = P'*D*(D*x)/||D*x||.
    for (int j = 0; j < n; ++j) {
      const int l = ipvt[j] - 1;
      wa1[j] = diag[l] * (wa2[l] / dxnorm);
    }
    for (int j = 0; j < n; ++j) {
      wa1[j] = wa1[j] / sigma[j];
      const double temp = wa1[j];
      for (int i = j + 1; i < n; ++i) wa1[i] = wa1[i] - R(i, j) * temp;
    }
    const double temp = DENORM(n, wa1);
    const double parc = ((fp / delta) / temp) / temp;

    if (fp > zero) parl = std::max(parl, par);
    if (fp < zero) paru = std::min(paru, par);
    par = std::max(parl, par + parc);
  }
}

// Solves the least-squares problem A*x = b, D*x = 0 given the factor R of
// A*P (upper triangle of r, left unchanged) by eliminating the rows of D
// with Givens rotations. The upper triangle of S with P'*(A'A + D*D)*P = S'*S
// is returned transposed in the strict lower triangle of r, its diagonal in
// sigma. Components past the first zero of sigma are set to zero.
void DQRSLV(int n, double* r, int ldr, const int* ipvt, const double* diag, const double* qtb,
            double* x, double* sigma, double* wa) {
  constexpr double zero = 0.0;
  auto R = [r, ldr](int i, int j) -> double& { return r[static_cast<long>(j) * ldr + i]; };

  // Copy R' into the lower triangle, save the diagonal of R in x.
  for (int j = 0; j < n; ++j) {
    for (int i = j; i < n; ++i) R(i, j) = R(j, i);
    x[j] = R(j, j);
    wa[j] = qtb[j];
  }

  for (int j = 0; j < n; ++j) {
    const int l = ipvt[j] - 1;
    if (diag[l] != zero) {
      for (int k = j; k < n; ++k) sigma[k] = zero;
      sigma[j] = diag[l];

      // Eliminate the row of D, which has a single nonzero in column j,
      // together with the matching right-hand side component qtbpj.
      double qtbpj = zero;
      for (int k = j; k < n; ++k) {
        if (sigma[k] == zero) continue;
        const Givens g = givens(R(k, k), sigma[k]);
        R(k, k) = g.cos * R(k, k) + g.sin * sigma[k];
        rotate(g.cos, g.sin, wa[k], qtbpj);
        for (int i = k + 1; i < n; ++i) rotate(g.cos, g.sin, R(i, k), sigma[i]);
      }
    }
    sigma[j] = R(j, j);
    R(j, j) = x[j];
  }

  // Singular S: solve on the leading nonsingular block only.
  int nsing = n;
  for (int j = 0; j < n; ++j) {
    if (sigma[j] == zero && nsing == n) nsing = j;
    if (nsing < n) wa[j] = zero;
  }
  for (int j = nsing - 1; j >= 0; --j) {
    double sum = zero;
    for (int i = j + 1; i < nsing; ++i) sum = sum + R(i, j) * wa[i];
    wa[j] = (wa[j] - sum) / sigma[j];
  }
  for (int j = 0; j < n; ++j) x[ipvt[j] - 1] = wa[j];
}

}  // namespace dnls
