// Levenberg-Marquardt least-squares solver.
//
// Arrays are passed as pointers to their first element (element 1 of the
// routine descriptions is index 0 here); matrices are stored by columns with
// the given leading dimension. Permutation vectors (ipvt, iwa) hold column
// numbers counted from 1. No routine allocates: every work array is lent by
// the caller.
#pragma once

#include <concepts>
#include <type_traits>

namespace dnls {

// Residual routine contract: fcn(iflag, m, n, x, fvec, fjac, ldfjac).
//   iflag 1: set fvec[0..m-1] to the residuals at x.
//   iflag 2: set fjac (ldfjac by n) to the Jacobian at x (option 2).
//   iflag 3: set fjac[0..n-1] to row `ldfjac` of the Jacobian (option 3).
//   iflag 0: print hook.
// Setting iflag negative stops the solver.
using FcnPtr = void (*)(int& iflag, int m, int n, const double* x, double* fvec, double* fjac,
                        int ldfjac);

// Non-owning reference to a residual routine: a plain function or any
// callable object that outlives the call. Copies refer to the same routine.
class ResidualFn {
 public:
  ResidualFn(FcnPtr f)  // NOLINT: implicit by design
      : obj_(reinterpret_cast<void*>(f)), call_(&call_ptr) {}
  // Only callables with the residual signature; in particular never another
  // ResidualFn, whose copy must take its target rather than refer to it.
  template <class F>
    requires(!std::is_same_v<std::remove_cv_t<F>, ResidualFn> && !std::is_function_v<F> &&
             std::invocable<F&, int&, int, int, const double*, double*, double*, int>)
  ResidualFn(F& f)  // NOLINT: implicit by design
      : obj_(const_cast<void*>(static_cast<const void*>(&f))), call_(&call_obj<F>) {}

  void operator()(int& iflag, int m, int n, const double* x, double* fvec, double* fjac,
                  int ldfjac) const {
    call_(obj_, iflag, m, n, x, fvec, fjac, ldfjac);
  }

 private:
  using Thunk = void (*)(void*, int&, int, int, const double*, double*, double*, int);
  static void call_ptr(void* o, int& iflag, int m, int n, const double* x, double* fvec,
                       double* fjac, int ldfjac) {
    reinterpret_cast<FcnPtr>(o)(iflag, m, n, x, fvec, fjac, ldfjac);
  }
  template <class F>
  static void call_obj(void* o, int& iflag, int m, int n, const double* x, double* fvec,
                       double* fjac, int ldfjac) {
    (*static_cast<F*>(o))(iflag, m, n, x, fvec, fjac, ldfjac);
  }
  void* obj_;
  Thunk call_;
};

// Euclidean norm of x[0..n-1], safe from overflow and destructive underflow.
double DENORM(int n, const double* x);

// Householder QR factorization A*P = Q*R with optional column pivoting.
void DQRFAC(int m, int n, double* a, int lda, bool pivot, int* ipvt, int lipvt, double* rdiag,
            double* acnorm, double* wa);

// Levenberg-Marquardt parameter for the trust-region radius delta, and the step.
void DMPAR(int n, double* r, int ldr, const int* ipvt, const double* diag, const double* qtb,
           double delta, double& par, double* x, double* sigma, double* wa1, double* wa2);

// Solves A*x = b, D*x = 0 in the least-squares sense on top of the factor R.
void DQRSLV(int n, double* r, int ldr, const int* ipvt, const double* diag, const double* qtb,
            double* x, double* sigma, double* wa);

// Forward-difference Jacobian of the residuals.
void DFDJC3(ResidualFn fcn, int m, int n, double* x, const double* fvec, double* fjac, int ldfjac,
            int& iflag, double epsfcn, double* wa);

// Folds one row w into the upper triangle r and the right-hand side (b, alpha).
void DWUPDT(int n, double* r, int ldr, const double* w, double* b, double& alpha, double* cos,
            double* sin);

// Checks a Jacobian against forward differences (mode 1 builds xp, mode 2 compares).
void DCKDER(int m, int n, const double* x, const double* fvec, const double* fjac, int ldfjac,
            double* xp, const double* fvecp, int mode, double* err);

// The Levenberg-Marquardt iteration. INFO as for DNLS1E with the separate
// tolerances (1 ftol, 2 xtol, 3 both, 5 maxfev, 6 ftol too small, 7 xtol too
// small), 4 when the scaled gradient is at most gtol and 8 when it is at most
// machine precision; 0 also flags a negative tolerance, ldfjac too small,
// maxfev <= 0, factor <= 0 or, with mode 2, a diag entry <= 0. Codes other
// than 1 to 3 are reported through XERMSG like DNLS1E's.
void DNLS1(ResidualFn fcn, int iopt, int m, int n, double* x, double* fvec, double* fjac,
           int ldfjac, double ftol, double xtol, double gtol, int maxfev, double epsfcn,
           double* diag, int mode, double factor, int nprint, int& info, int& nfev, int& njev,
           int* ipvt, double* qtf, double* wa1, double* wa2, double* wa3, double* wa4);

// Easy-to-use entry: fixes the tuning from tol and partitions wa[0..lwa-1].
// Option 3 uses a leading dimension of n for its Jacobian triangle, so
// lwa >= n*(n+5)+m suffices for it; options 1 and 2 need n*(m+5)+m.
//
// INFO on return:
//   0  invalid input: iopt not 1..3, n <= 0, m < n, tol < 0 or lwa too small
//      (nothing is evaluated)
//   1  the relative reduction of the sum of squares is at most tol
//   2  the relative change of x between two iterates is at most tol
//   3  both 1 and 2
//   4  fvec is orthogonal to the columns of the Jacobian to machine precision
//   5  the evaluation limit is reached: 200*(n+1) calls with iflag 1 for
//      option 1 (difference quotients included), 100*(n+1) for options 2, 3
//   6  tol is too small: no further reduction of the sum of squares is possible
//   7  tol is too small: no further improvement of x is possible
//  <0  fcn set iflag to this value
// Every code but 1 to 3 is reported through XERMSG at level 1: under the
// default control flag (2) that prints a message block and ends the process;
// inside a dnls::QuietScope nothing is printed and the call returns.
void DNLS1E(ResidualFn fcn, int iopt, int m, int n, double* x, double* fvec, double tol,
            int nprint, int& info, int* iwa, double* wa, int lwa);

// The same entry bound to the program's residual routine ::fcn.
void DNLS1E(int iopt, int m, int n, double* x, double* fvec, double tol, int nprint, int& info,
            int* iwa, double* wa, int lwa);

}  // namespace dnls

// The residual routine of the program that links the solver's DNLS1E entry.
void fcn(int& iflag, int m, int n, const double* x, double* fvec, double* fjac, int ldfjac);
