#include "korvalinde/core/model.hpp"

#include <algorithm>
#include <cmath>

namespace korvalinde {

double extremeval(double x, double a, double b) {
  const double z = (x - a) / b;
  const double t1 = std::exp(-z);
  const double t2 = std::exp(-std::exp(-z));
  return (t2 * t1) / b;
}

bool quantile(double p, double a, double b, double& q) {
  if (!(p > 0 && p <= 1)) return false;  // written so that NaN is refused too
  q = a - b * std::log(-std::log(p));
  return true;
}

void residuals(std::span<const double> x, std::span<const double> y, double a, double b,
               std::span<double> r) {
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = y[i] - extremeval(x[i], a, b);
}

namespace {

// The correlation magnitude from centred sums.
struct Moments {
  double suu = 0, suv = 0, svv = 0;
};

Moments centred(std::span<const double> f, std::span<const double> y, double fmean, double ymean,
                double fscale, double yscale) {
  Moments s;
  for (std::size_t i = 0; i < f.size(); ++i) {
    const double u = (f[i] - fmean) * fscale;
    const double v = (y[i] - ymean) * yscale;
    s.suu += u * u;
    s.suv += u * v;
    s.svv += v * v;
  }
  return s;
}

}  // namespace

double correlation(std::span<const double> x, std::span<const double> y, double a, double b,
                   std::span<double> fitted) {
  const std::size_t m = fitted.size();
  double sf = 0, sy = 0;
  for (std::size_t i = 0; i < m; ++i) {
    fitted[i] = extremeval(x[i], a, b);
    sf += fitted[i];
    sy += y[i];
  }
  const double fmean = sf / static_cast<double>(m);
  const double ymean = sy / static_cast<double>(m);
  const Moments s = centred(fitted, y.first(m), fmean, ymean, 1, 1);
  double result = std::sqrt(s.suv * s.suv / s.svv / s.suu);
  if (!std::isfinite(result)) {
    // The products overflow (or underflow) for densities of extreme size:
    // the same quantity from deviations scaled to magnitude 1.
    double fmax = 0, ymax = 0;
    for (std::size_t i = 0; i < m; ++i) {
      fmax = std::max(fmax, std::fabs(fitted[i] - fmean));
      ymax = std::max(ymax, std::fabs(y[i] - ymean));
    }
    if (fmax > 0 && ymax > 0 && std::isfinite(fmax) && std::isfinite(ymax)) {
      const Moments t = centred(fitted, y.first(m), fmean, ymean, 1 / fmax, 1 / ymax);
      result = std::fabs(t.suv) / std::sqrt(t.svv) / std::sqrt(t.suu);
    }
  }
  return result;
}

double sum_of_squares(std::span<const double> r) {
  double sum = 0;
  for (const double v : r) sum += v * v;
  return sum;
}

double standard_error(std::span<const double> r) {
  return std::sqrt(sum_of_squares(r) / static_cast<double>(static_cast<int>(r.size()) - 1));
}

double plain_norm(std::span<const double> r) { return std::sqrt(sum_of_squares(r)); }

}  // namespace korvalinde
