// The classic run's model routines over its fixed blocks.
#pragma once

#include "korvalinde/core/model.hpp"

namespace korvalinde {

inline constexpr int kBadProbability = -9999;

// Value below which the fitted distribution falls with probability p:
// a - b*ln(-ln p). rc is 1, or -9999 (quantile untouched) when p is not in
// (0, 1].
void findcutdpa(double p, const double params[2], double& quantile, int& rc);

// Magnitude of the correlation between fitted and observed densities of bins
// 1..m; fills fy1 with the fitted densities.
void corrl(int m, const double params[2], double& result);

// sqrt(sum of squares / (m - 1)).
double standerror(int m, const double* residuals);

// Plain Euclidean norm of the residuals.
double enorm(int m, const double* residuals);

}  // namespace korvalinde
