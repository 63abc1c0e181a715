#include "korvalinde/cli/svg_threshold.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "korvalinde/cli/svg.hpp"
#include "korvalinde/cli/svg_draw.hpp"
#include "korvalinde/cli/text.hpp"

namespace korvalinde::cli {
namespace {

constexpr double kLine = 28, kPanelHeight = 300;
constexpr double kLeft = 70, kRight = 20, kTop = 30, kBottom = 48;
constexpr const char* kColour = "#9467bd";

using svg::line;
using svg::px;
using svg::text;

// One panel of an estimate over the thresholds: its value with a band
// (the mean residual life) or with interval bars.
void panel(std::string& out, const std::vector<ThresholdPoint>& points, double x0, double y0,
           double width, const char* title, const Estimate ThresholdPoint::*field, bool band) {
  const double left = x0 + kLeft, right = x0 + width - kRight;
  const double top = y0 + kTop, bottom = y0 + kPanelHeight - kBottom;
  double lo = INFINITY, hi = -INFINITY;
  for (const ThresholdPoint& p : points) {
    for (double v : {(p.*field).value, (p.*field).lower, (p.*field).upper}) {
      if (std::isfinite(v)) lo = std::min(lo, v), hi = std::max(hi, v);
    }
  }
  const Ticks xt = nice_ticks(points.front().threshold, points.back().threshold);
  const Ticks yt = lo <= hi ? nice_ticks(lo - 0.03 * (hi - lo), hi + 0.03 * (hi - lo)) : nice_ticks(0, 1);
  auto map = [](const Ticks& t, double v, double p0, double p1) {
    const double p = p0 + (v - t.lo) / (t.hi - t.lo) * (p1 - p0);
    return std::isfinite(p) ? std::clamp(p, -1e5, 1e5) : NAN;
  };
  auto at_x = [&](double v) { return map(xt, v, left, right); };
  auto at_y = [&](double v) { return map(yt, v, bottom, top); };

  text(out, left, y0 + 18, title, "font-size=\"14\" font-weight=\"bold\"");
  for (double v : xt.values) {
    line(out, at_x(v), top, at_x(v), bottom, "stroke=\"#e6e6e6\"");
    text(out, at_x(v), bottom + 18, format_number(v, 6), "text-anchor=\"middle\"");
  }
  for (double v : yt.values) {
    line(out, left, at_y(v), right, at_y(v), "stroke=\"#e6e6e6\"");
    text(out, left - 8, at_y(v) + 4, format_number(v, 5), "text-anchor=\"end\" font-size=\"11\"");
  }
  append(out, "<rect x=\"", px(left), "\" y=\"", px(top), "\" width=\"", px(right - left),
         "\" height=\"", px(bottom - top), "\" fill=\"none\" stroke=\"#333\"/>\n");
  text(out, (left + right) / 2, bottom + 38, "threshold u", "text-anchor=\"middle\"");

  std::string mid, upper, lower;
  for (const ThresholdPoint& p : points) {
    const Estimate& e = p.*field;
    const double x = at_x(p.threshold);
    if (!std::isfinite(e.value) || !std::isfinite(x)) continue;
    append(mid, mid.empty() ? "M" : "L", px(x), " ", px(at_y(e.value)));
    if (!std::isfinite(e.lower) || !std::isfinite(e.upper)) continue;
    if (band) {
      append(upper, upper.empty() ? "M" : "L", px(x), " ", px(at_y(e.upper)));
      lower.insert(0, concat("L", px(x), " ", px(at_y(e.lower))));
    } else {
      line(out, x, at_y(e.lower), x, at_y(e.upper), concat("stroke=\"", kColour, "\""));
    }
  }
  if (!upper.empty())
    append(out, "<path d=\"", upper, lower, "Z\" fill=\"", kColour, "\" fill-opacity=\"0.15\" stroke=\"none\"/>\n");
  if (!mid.empty())
    append(out, "<path d=\"", mid, "\" fill=\"none\" stroke=\"", kColour, "\" stroke-width=\"2\"",
           band ? "" : " stroke-dasharray=\"4 3\"", "/>\n");
}

}  // namespace

double threshold_part_height(const FitResult& r) {
  if (!r.pot) return 0;
  return kLine + (r.pot->diagnostics.size() >= 2 ? kPanelHeight : 0);
}

std::string threshold_part_svg(const FitResult& r, double y0, double width) {
  if (!r.pot) return "";
  const PotResult& p = *r.pot;
  std::string out;
  std::string summary = concat("peaks over ", format_number(p.threshold), ": ",
                               std::to_string(p.n_clusters), " clusters, ",
                               format_number(p.rate_per_year), " a year");
  for (const auto& [name, g] : {std::pair{"mle", &p.mle}, std::pair{"lmom", &p.lmom}}) {
    if (g->present && g->ok)
      append(summary, "; GPD ", name, ": scale ", format_number(g->scale), ", shape ", format_number(g->shape));
  }
  text(out, kLeft, y0 + 20, summary, "font-size=\"13\"");
  if (p.diagnostics.size() < 2) return out;
  const double w = width / 3, top = y0 + kLine;
  panel(out, p.diagnostics, 0, top, w, "Mean residual life", &ThresholdPoint::mean_excess, true);
  panel(out, p.diagnostics, w, top, w, "Modified scale", &ThresholdPoint::modified_scale, false);
  panel(out, p.diagnostics, 2 * w, top, w, "Shape", &ThresholdPoint::shape, false);
  return out;
}

}  // namespace korvalinde::cli
