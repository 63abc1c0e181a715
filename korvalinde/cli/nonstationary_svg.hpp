// The picture's part of a fit with covariates, below the panels of the
// stationary fit: the maxima (or the peaks) over time with the effective
// return levels of the fit and their bands, and the Q-Q plot of the residuals
// against the standard Gumbel (the standard exponential over a threshold)
// with the envelope of their order statistics.
#pragma once

#include <string>
#include <vector>

#include "korvalinde/core/covariates.hpp"
#include "korvalinde/stats/nonstationary.hpp"

namespace korvalinde::cli {

struct NsPicture {
  std::string time_name = "time";  // what the horizontal axis of the first panel is
  std::vector<double> time, x;     // each observation's time (or covariate) and value
  std::vector<double> periods;     // of the effective levels drawn
  std::vector<stats::NsLevel> levels;  // row i, period j at [i * periods.size() + j]
  std::vector<double> residuals;       // in the order of the series
  bool exponential = false;            // residuals against the standard exponential
  double confidence = 0.95;
  std::string units;                   // of the values
};

// The picture of a fit on covariates: the maxima over the years with the
// effective 2-, 10- and 100-year levels at each one's covariates, and the
// residuals. Nothing to draw (height 0) when the fit failed.
NsPicture nonstationary_picture(const NonstationaryResult& r, double confidence, const std::string& units);

// Its height in pixels (0 when there is nothing to draw).
double nonstationary_part_height(const NsPicture& p);

// The SVG elements, from y0 down, `width` pixels wide.
std::string nonstationary_part_svg(const NsPicture& p, double y0, double width);

}  // namespace korvalinde::cli
