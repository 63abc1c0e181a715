// The solver's easy-to-use entry bound to the program's residual routine
// ::fcn. It belongs to the application, not to the solver library, so that a
// program using only the entry that takes a residual routine links without
// defining fcn.
#pragma once

#include "dnls/solver/dnls.hpp"

namespace dnls {

// DNLS1E(::fcn, iopt, m, n, x, fvec, tol, nprint, info, iwa, wa, lwa).
void DNLS1E(int iopt, int m, int n, double* x, double* fvec, double tol, int nprint, int& info,
            int* iwa, double* wa, int lwa);

}  // namespace dnls

// The program's residual routine, with the contract of dnls::FcnPtr.
void fcn(int& iflag, int m, int n, const double* x, double* fvec, double* fjac, int ldfjac);
