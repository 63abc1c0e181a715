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
           double width, const char* title, const Estimate ThresholdPoint::*field, bool band,
           double threshold, const std::string& unit) {
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
  text(out, (left + right) / 2, bottom + 38, concat("threshold u", unit), "text-anchor=\"middle\"");
  // The threshold in use.
  if (const double x = at_x(threshold); x >= left && x <= right) {
    line(out, x, top, x, bottom, "stroke=\"#444\" stroke-dasharray=\"2 3\"");
    text(out, x + 3, top + 12, "u", "font-size=\"11\"");
  }

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

// Axes of a panel from the data's ranges, the points and a curve drawn on
// them; `log_x` puts x on a log scale.
struct XyPanel {
  const char* title = "";
  std::string x_label, y_label;
  std::vector<double> px, py;  // points
  std::vector<double> cx, cy;  // the fitted curve
  std::vector<double> bx, lo, hi;  // interval bars
  bool log_x = false;
};

void xy_panel(std::string& out, const XyPanel& p, double x0, double y0, double width) {
  const double left = x0 + kLeft, right = x0 + width - kRight;
  const double top = y0 + kTop, bottom = y0 + kPanelHeight - kBottom;
  auto tx = [&](double v) { return p.log_x ? std::log10(v) : v; };
  double xl = INFINITY, xh = -INFINITY, yl = INFINITY, yh = -INFINITY;
  auto span = [](double v, double& l, double& h) {
    if (std::isfinite(v)) l = std::min(l, v), h = std::max(h, v);
  };
  for (const auto* xs : {&p.px, &p.cx, &p.bx})
    for (double v : *xs) span(tx(v), xl, xh);
  for (const auto* ys : {&p.py, &p.cy, &p.lo, &p.hi})
    for (double v : *ys) span(v, yl, yh);
  if (!(xl <= xh && yl <= yh)) return;
  const Ticks xt = nice_ticks(xl, xh, p.log_x ? 4 : 6), yt = nice_ticks(yl, yh);
  auto map = [](const Ticks& t, double v, double p0, double p1) {
    const double q = p0 + (v - t.lo) / (t.hi - t.lo) * (p1 - p0);
    return std::isfinite(q) ? std::clamp(q, -1e5, 1e5) : NAN;
  };
  auto at_x = [&](double v) { return map(xt, tx(v), left, right); };
  auto at_y = [&](double v) { return map(yt, v, bottom, top); };
  text(out, left, y0 + 18, p.title, "font-size=\"14\" font-weight=\"bold\"");
  for (double v : xt.values) {
    const double x = map(xt, v, left, right);
    line(out, x, top, x, bottom, "stroke=\"#e6e6e6\"");
    text(out, x, bottom + 18, format_number(p.log_x ? std::pow(10, v) : v, 6), "text-anchor=\"middle\"");
  }
  for (double v : yt.values) {
    line(out, left, at_y(v), right, at_y(v), "stroke=\"#e6e6e6\"");
    text(out, left - 8, at_y(v) + 4, format_number(v, 5), "text-anchor=\"end\" font-size=\"11\"");
  }
  append(out, "<rect x=\"", px(left), "\" y=\"", px(top), "\" width=\"", px(right - left),
         "\" height=\"", px(bottom - top), "\" fill=\"none\" stroke=\"#333\"/>\n");
  text(out, (left + right) / 2, bottom + 38, p.x_label, "text-anchor=\"middle\"");
  text(out, x0 + 16, (top + bottom) / 2, p.y_label,
       concat("text-anchor=\"middle\" transform=\"rotate(-90 ", px(x0 + 16), " ", px((top + bottom) / 2), ")\""));
  for (std::size_t i = 0; i < p.bx.size(); ++i)
    line(out, at_x(p.bx[i]), at_y(p.lo[i]), at_x(p.bx[i]), at_y(p.hi[i]), concat("stroke=\"", kColour, "\""));
  std::string d;
  for (std::size_t i = 0; i < p.cx.size(); ++i) {
    const double x = at_x(p.cx[i]), y = at_y(p.cy[i]);
    if (std::isfinite(x) && std::isfinite(y)) svg::path_to(d, x, y);
  }
  if (!d.empty()) append(out, "<path d=\"", d, "\" fill=\"none\" stroke=\"", kColour, "\" stroke-width=\"2\"/>\n");
  for (std::size_t i = 0; i < p.px.size(); ++i) {
    const double x = at_x(p.px[i]), y = at_y(p.py[i]);
    if (std::isfinite(x) && std::isfinite(y))
      append(out, "<circle cx=\"", px(x), "\" cy=\"", px(y), "\" r=\"2.5\" fill=\"#333\"/>\n");
  }
}

// The GPD's excess quantile of probability q.
double gpd_quantile(double scale, double shape, double q) {
  return shape == 0 ? -scale * std::log1p(-q) : scale / shape * std::expm1(-shape * std::log1p(-q));
}

// The fit the GPD panels show: mle when it has a result, else lmom; null for none.
const GpdResult* shown_gpd(const PotResult& p) {
  if (p.mle.present && p.mle.ok) return &p.mle;
  if (p.lmom.present && p.lmom.ok) return &p.lmom;
  return nullptr;
}

bool has_gpd_panels(const PotResult& p) { return shown_gpd(p) != nullptr && p.excesses.size() >= 2; }

// The Q-Q plot of the cluster maxima against the fitted GPD, and the return
// levels over the years with the fitted curve and the levels' intervals.
void gpd_panels(std::string& out, const PotResult& p, double y0, double width, const std::string& unit) {
  const GpdResult& g = *shown_gpd(p);
  const std::string name = &g == &p.mle ? "mle" : "lmom";
  const std::size_t n = p.excesses.size();
  const std::vector<std::size_t> kept = thin_indices(n);
  XyPanel qq, rl;
  qq.title = "GPD Q-Q plot";
  qq.x_label = concat("fitted GPD (", name, ") quantile", unit);
  qq.y_label = concat("cluster maximum", unit);
  rl.title = "GPD return levels";
  rl.x_label = "return period (years, log scale)";
  rl.y_label = concat("level", unit);
  rl.log_x = true;
  for (const std::size_t i : kept) {
    const double q = (static_cast<double>(i) + 1) / (static_cast<double>(n) + 1);
    const double level = p.threshold + p.excesses[i];
    qq.px.push_back(p.threshold + gpd_quantile(g.scale, g.shape, q));
    qq.py.push_back(level);
    rl.px.push_back(1 / (p.rate_per_year * (1 - q)));
    rl.py.push_back(level);
  }
  qq.cx = {qq.px.front(), qq.px.back()};
  qq.cy = qq.cx;
  double longest = rl.px.back();
  for (const PotLevel& l : g.return_levels) longest = std::max(longest, l.period);
  const double shortest = std::min(rl.px.front(), 1 / p.rate_per_year * 1.01);
  for (int k = 0; k <= 60; ++k) {
    const double t = shortest * std::pow(longest / shortest, k / 60.0);
    if (!(p.rate_per_year * t > 1)) continue;
    rl.cx.push_back(t);
    rl.cy.push_back(p.threshold + gpd_quantile(g.scale, g.shape, 1 - 1 / (p.rate_per_year * t)));
  }
  for (const PotLevel& l : g.return_levels) {
    const bool profile = std::isfinite(l.profile.lower) && std::isfinite(l.profile.upper);
    rl.bx.push_back(l.period);
    rl.lo.push_back(profile ? l.profile.lower : l.level.lower);
    rl.hi.push_back(profile ? l.profile.upper : l.level.upper);
  }
  const double w = width / 3;
  xy_panel(out, qq, 0, y0, w);
  xy_panel(out, rl, w, y0, w);
}

}  // namespace

double threshold_part_height(const FitResult& r) {
  if (!r.pot) return 0;
  return kLine + (has_gpd_panels(*r.pot) ? kPanelHeight : 0) +
         (r.pot->diagnostics.size() >= 2 ? kPanelHeight : 0);
}

std::string threshold_part_svg(const FitResult& r, double y0, double width, const std::string& units) {
  if (!r.pot) return "";
  const PotResult& p = *r.pot;
  const std::string unit = units.empty() ? "" : concat(" (", printable(units), ")");
  std::string out;
  std::string summary = concat("peaks over ", format_number(p.threshold), unit, ": ",
                               std::to_string(p.n_exceed), " exceedances, ",
                               std::to_string(p.n_clusters), " clusters (run ", std::to_string(p.run),
                               "), ", format_number(p.rate_per_year), " a year");
  for (const auto& [name, g] : {std::pair{"mle", &p.mle}, std::pair{"lmom", &p.lmom}}) {
    if (g->present && g->ok)
      append(summary, "; GPD ", name, ": scale ", format_number(g->scale), ", shape ", format_number(g->shape));
  }
  text(out, kLeft, y0 + 20, summary, "font-size=\"13\"");
  double top = y0 + kLine;
  if (has_gpd_panels(p)) {
    gpd_panels(out, p, top, width, unit);
    top += kPanelHeight;
  }
  if (p.diagnostics.size() < 2) return out;
  const double w = width / 3;
  panel(out, p.diagnostics, 0, top, w, "Mean residual life (all exceedances)",
        &ThresholdPoint::mean_excess, true, p.threshold, unit);
  panel(out, p.diagnostics, w, top, w, "Modified scale (clusters)", &ThresholdPoint::modified_scale,
        false, p.threshold, unit);
  panel(out, p.diagnostics, 2 * w, top, w, "Shape (clusters)", &ThresholdPoint::shape, false,
        p.threshold, unit);
  return out;
}

}  // namespace korvalinde::cli
