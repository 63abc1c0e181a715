// The Gumbel density, the residuals of the histogram fit and its statistics.
#pragma once

#include <span>

namespace korvalinde {

// f(x) = exp(-(x-a)/b) * exp(-exp(-(x-a)/b)) / b
double extremeval(double x, double a, double b);

// a - b*ln(-ln p): the value below which the distribution falls with
// probability p. False (quantile untouched) when p is not in (0, 1].
bool quantile(double p, double a, double b, double& q);

// Residuals observed minus fitted density: r[i] = y[i] - f(x[i]).
void residuals(std::span<const double> x, std::span<const double> y, double a, double b,
               std::span<double> r);

// Magnitude of the correlation between fitted and observed densities; fills
// fitted[i] with f(x[i]).
double correlation(std::span<const double> x, std::span<const double> y, double a, double b,
                   std::span<double> fitted);

// Sum of squares of the residuals, in order.
double sum_of_squares(std::span<const double> r);

// sqrt(sum of squares / (m - 1)) and the plain Euclidean norm.
double standard_error(std::span<const double> r);
double plain_norm(std::span<const double> r);

}  // namespace korvalinde
