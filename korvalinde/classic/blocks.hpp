// Fixed-size data blocks shared by the stages of a run. They live for the
// whole process, so fitting never allocates.
#pragma once

namespace korvalinde {

inline constexpr int kMaxSamples = 10000;
inline constexpr int kMaxBins = 10000;

// Raw sample values in file order (element k-1 holds sample k).
extern double data0[kMaxSamples];

// Histogram: bin centres x and densities y of bins 1..M.
struct Histogram {
  double x[kMaxBins];
  double y[kMaxBins];
};
extern Histogram data1;

// Per-bin counts, fractional after the filling of empty bins.
extern double yt[kMaxBins];

// Fitted density at each bin centre, written by corrl.
extern double fy1[kMaxBins];

}  // namespace korvalinde
