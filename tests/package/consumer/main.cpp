// Fits a straight line through the installed solver, with a callable object
// as the residual routine and an analytic Jacobian, and calls the fitting
// core once. Defines no global residual routine.
#include <cmath>
#include <cstdio>
#include <vector>

#include "dnls/solver/dnls.hpp"
#include "korvalinde/korvalinde.hpp"

int main() {
  const double t[] = {0, 1, 2, 3, 4, 5};
  const double y[] = {1.1, 2.9, 5.2, 7.1, 8.8, 11.2};
  constexpr int m = 6, n = 2;

  // Least-squares line y = x0 + x1*t in closed form.
  double st = 0, sy = 0, stt = 0, sty = 0;
  for (int i = 0; i < m; ++i) {
    st += t[i];
    sy += y[i];
    stt += t[i] * t[i];
    sty += t[i] * y[i];
  }
  const double slope = (m * sty - st * sy) / (m * stt - st * st);
  const double intercept = (sy - slope * st) / m;

  int evaluations = 0;
  auto line = [&](int& iflag, int mm, int, const double* x, double* fvec, double* fjac,
                  int ldfjac) {
    if (iflag == 1) {
      ++evaluations;
      for (int i = 0; i < mm; ++i) fvec[i] = x[0] + x[1] * t[i] - y[i];
    } else if (iflag == 2) {
      for (int i = 0; i < mm; ++i) {
        fjac[i] = 1.0;
        fjac[ldfjac + i] = t[i];
      }
    }
  };
  double x[n] = {0, 0}, fvec[m];
  int iwa[n], info = -1;
  std::vector<double> wa(n * (m + 5) + m);
  dnls::DNLS1E(line, 2, m, n, x, fvec, 1e-10, 0, info, iwa, wa.data(), static_cast<int>(wa.size()));
  std::printf("info %d, x = %.10f %.10f (expected %.10f %.10f), %d evaluations\n", info, x[0], x[1],
              intercept, slope, evaluations);
  if (info < 1 || info > 3 || std::fabs(x[0] - intercept) > 1e-8 ||
      std::fabs(x[1] - slope) > 1e-8 || evaluations == 0) {
    std::puts("FAILED: solver");
    return 1;
  }

  const std::vector<double> sample{9.1, 10.4, 12.0, 8.7, 11.3, 9.9, 13.5, 10.1};
  korvalinde::FitOptions options;
  options.bins = 4;
  const korvalinde::FitResult r = korvalinde::fit_sample(sample, options, "consumer");
  if (r.file != "consumer" || !r.ok || !r.mle.present || !(r.mle.b > 0)) {
    std::puts("FAILED: fitting core");
    return 1;
  }
  std::puts("OK");
  return 0;
}
