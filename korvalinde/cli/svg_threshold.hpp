// The picture's peaks-over-threshold part, below the panels of the fit: a
// line on the counts and the GPD fit; the GPD's Q-Q plot of the cluster
// excesses and its return-level plot; and with threshold diagnostics three
// panels over the thresholds, the threshold in use marked: the mean residual
// life of all exceedances with its 95% band, and the modified scale and the
// shape of the cluster maxima with their 95% intervals.
#pragma once

#include <string>

#include "korvalinde/records/result.hpp"

namespace korvalinde::cli {

// Its height in pixels (0 without peaks over a threshold).
double threshold_part_height(const FitResult& result);

// The SVG elements, from y0 down, `width` pixels wide.
// `units` are the values'.
std::string threshold_part_svg(const FitResult& result, double y0, double width,
                               const std::string& units = {});

}  // namespace korvalinde::cli
