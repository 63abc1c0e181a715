// The few SVG primitives the pictures share: coordinates to one decimal and
// text, lines and paths that skip what is not finite.
#pragma once

#include <cmath>
#include <string>
#include <string_view>

#include "korvalinde/cli/text.hpp"

namespace korvalinde::cli::svg {

inline std::string px(double v) { return format_fixed(v, 1); }

inline void text(std::string& out, double x, double y, std::string_view s, std::string_view attrs = {}) {
  append(out, "<text x=\"", px(x), "\" y=\"", px(y), "\"", attrs.empty() ? "" : " ", attrs, ">",
         escape_xml(s), "</text>\n");
}

inline void line(std::string& out, double x1, double y1, double x2, double y2, std::string_view attrs) {
  if (!std::isfinite(x1) || !std::isfinite(y1) || !std::isfinite(x2) || !std::isfinite(y2)) return;
  append(out, "<line x1=\"", px(x1), "\" y1=\"", px(y1), "\" x2=\"", px(x2), "\" y2=\"", px(y2),
         "\" ", attrs, "/>\n");
}

// Appends a point to a path's data: M for its first point, L after.
inline void path_to(std::string& d, double x, double y) {
  append(d, d.empty() ? "M" : "L", px(x), " ", px(y));
}

}  // namespace korvalinde::cli::svg
