#include "korvalinde/classic/solver_entry.hpp"

namespace dnls {

void DNLS1E(int iopt, int m, int n, double* x, double* fvec, double tol, int nprint, int& info,
            int* iwa, double* wa, int lwa) {
  DNLS1E(::fcn, iopt, m, n, x, fvec, tol, nprint, info, iwa, wa, lwa);
}

}  // namespace dnls
