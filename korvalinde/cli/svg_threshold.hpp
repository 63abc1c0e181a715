// The picture's peaks-over-threshold part, below the panels of the fit: a
// line on the GPD fit, and with threshold diagnostics three panels over the
// thresholds: the mean residual life with its 95% band, and the modified
// scale and the shape with their 95% intervals.
#pragma once

#include <string>

#include "korvalinde/records/result.hpp"

namespace korvalinde::cli {

// Its height in pixels (0 without peaks over a threshold).
double threshold_part_height(const FitResult& result);

// The SVG elements, from y0 down, `width` pixels wide.
std::string threshold_part_svg(const FitResult& result, double y0, double width);

}  // namespace korvalinde::cli
