// Peaks over a threshold: runs declustering, the extremal index, the rate of
// clusters a year, generalized Pareto fits of the cluster excesses with
// N-year return levels, and the threshold-choice aids.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "korvalinde/records/result.hpp"

namespace korvalinde::stats {

struct ThresholdRange {
  double lo = 0, hi = 0;
  int count = 0;  // thresholds, lo and hi included
};

struct PotOptions {
  std::optional<double> threshold;           // u
  std::optional<double> threshold_quantile;  // or u at this quantile of the values
  int run = 0;                               // steps without an exceedance that end a cluster
  double per_year = 0;                       // observations a year: the years' count
  double max_gap = 0;                        // seconds a gap may last; 0: 10 steps
  bool mle = true, lmom = true;
  std::vector<double> periods;               // N in years
  std::optional<ThresholdRange> range;
  unsigned threads = 1;  // for the intervals and the aids; results do not depend on it
};

// "LO:HI:K" with LO < HI and K >= 2; false otherwise.
bool parse_threshold_range(const std::string& text, ThresholdRange& range);

// The values' quantile of probability q (linear between order statistics,
// the n - 1 gaps spanning [0, 1]); NaN values are left out. The result does
// not depend on the threads.
double sample_quantile(std::span<const double> values, double q, unsigned threads = 1);

// Exceedances declustered by runs. Steps are (t - t0) / step rounded with
// times, row numbers without (time empty): a missing row is a step without
// an exceedance.
struct Clusters {
  std::size_t n_exceed = 0;
  std::vector<double> maxima;      // cluster maxima, in time order
  std::vector<std::size_t> at;     // the row of each maximum (its first)
  std::vector<std::int64_t> gaps;  // steps between consecutive exceedances
};
Clusters decluster(std::span<const std::int64_t> time, std::span<const double> value,
                   std::int64_t step, double threshold, int run);

// Ferro and Segers' intervals estimator of the extremal index from the
// steps between exceedances; NaN with fewer than two gaps.
double intervals_estimator(std::span<const std::int64_t> gaps);

// The whole analysis; false and `error` set when it can not be done. With
// `clusters`, the declustering the fits are of is handed out there.
bool analyze_pot(std::span<const std::int64_t> time, std::span<const double> value,
                 std::int64_t step, const PotOptions& options, PotResult& out, std::string& error,
                 Clusters* clusters = nullptr);

}  // namespace korvalinde::stats
