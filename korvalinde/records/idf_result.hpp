// Results of an intensity-duration-frequency analysis of one series: plain
// data filled by the core, rendered by the command line.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "korvalinde/records/result.hpp"

namespace korvalinde {

// The annual (block) maxima of one duration and the fit of their intensities.
struct IdfDuration {
  std::int64_t seconds = 0;
  double hours = 0;
  std::size_t n_windows = 0;              // complete windows in the kept blocks
  std::vector<std::string> blocks;        // labels of the kept blocks
  std::vector<std::int64_t> times;        // start of each maximum's window (none from a table)
  std::vector<double> depths;             // the maxima (NaN from a table)
  std::vector<double> intensities;        // depth / hours (times the fixed-interval factor)
  std::vector<BlockCount> blocks_dropped;
  FitResult fit;                          // the fit command's record of the intensities
};

// One intensity of the table: a duration and a return period.
struct IdfIntensity {
  double hours = 0, period = 0;
  Estimate value;  // with its delta and, where it exists, profile interval
};

// i = a / (d + b)^c for one return period, d in hours.
struct IdfFormulaRow {
  double period = 0;
  bool ok = false;
  double a = kUndefined, b = kUndefined, c = kUndefined, rms_log = kUndefined;
};

// One scaling model: mu(d) = mu0 s(d), sigma(d) = sigma0 s(d), one shape,
// s(d) = ((d + delta) / (d0 + delta))^(-alpha).
struct IdfScaling {
  bool ok = false;
  std::string error;
  bool delta_at_zero = false;  // general scaling whose delta fell to its bound 0
  double mu0 = kUndefined, sigma0 = kUndefined, shape = kUndefined, alpha = kUndefined,
         delta = kUndefined, loglik = kUndefined;
  std::array<double, 5> se{}, se_robust{};  // of mu0, sigma0, shape, alpha, delta
  std::array<std::array<double, 5>, 5> cov{}, cov_robust{};
  int iterations = 0;
};

struct IdfScalingTest {
  double statistic = kUndefined, p = kUndefined, p_mixture = kUndefined;
  int df = 1;
};

struct IdfResult {
  std::string file, group;
  bool grouped = false;
  bool ok = false;
  std::string error;
  std::int64_t step = 0;         // the record's step in seconds (0 from a table)
  std::size_t n_rows = 0, n_missing = 0;
  double fixed_interval_factor = 1;
  std::string model;             // what the intensities come from, e.g. "gev.mle"
  std::vector<IdfDuration> durations;
  double reference_hours = 1;
  IdfScaling general, simple;
  IdfScalingTest lr_test;
  std::vector<IdfIntensity> intensities;  // durations x periods, duration first
  std::vector<IdfFormulaRow> formula;
};

}  // namespace korvalinde
