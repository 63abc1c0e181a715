#include "korvalinde/cli/nonstationary_svg.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "korvalinde/cli/svg.hpp"
#include "korvalinde/cli/svg_draw.hpp"
#include "korvalinde/cli/text.hpp"
#include "korvalinde/dist/gumbel.hpp"

namespace korvalinde::cli {
namespace {

using svg::line;
using svg::path_to;
using svg::px;
using svg::text;

constexpr double kPanelHeight = 340, kLeft = 70, kRight = 20, kTop = 30, kBottom = 48;
constexpr const char* kColours[] = {"#2ca02c", "#ff7f0e", "#d62728", "#9467bd", "#8c564b"};
constexpr const char* kPoint = "#1f77b4";

// A panel with linear axes over the ranges of what it shows.
struct Frame {
  double left, right, top, bottom;
  Ticks x, y;
  double at_x(double v) const { return map(x, v, left, right); }
  double at_y(double v) const { return map(y, v, bottom, top); }
  static double map(const Ticks& t, double v, double p0, double p1) {
    const double p = p0 + (v - t.lo) / (t.hi - t.lo) * (p1 - p0);
    return std::isfinite(p) ? std::clamp(p, -1e5, 1e5) : NAN;
  }
};

struct Range {
  double lo = INFINITY, hi = -INFINITY;
  void add(double v) {
    if (std::isfinite(v)) lo = std::min(lo, v), hi = std::max(hi, v);
  }
  Ticks ticks() const {
    if (!(lo <= hi)) return nice_ticks(0, 1);
    const double pad = hi > lo ? 0.03 * (hi - lo) : 0.5 * (std::fabs(lo) + 1);
    return nice_ticks(lo - pad, hi + pad);
  }
};

Frame frame(std::string& out, double x0, double y0, double width, const Range& xr, const Range& yr,
            const std::string& title, const std::string& xlabel, const std::string& ylabel,
            const char* clip) {
  Frame f{x0 + kLeft, x0 + width - kRight, y0 + kTop, y0 + kPanelHeight - kBottom, xr.ticks(), yr.ticks()};
  text(out, f.left, y0 + 18, title, "font-size=\"14\" font-weight=\"bold\"");
  append(out, "<clipPath id=\"", clip, "\"><rect x=\"", px(f.left), "\" y=\"", px(f.top), "\" width=\"",
         px(f.right - f.left), "\" height=\"", px(f.bottom - f.top), "\"/></clipPath>\n");
  for (const double v : f.x.values) {
    line(out, f.at_x(v), f.top, f.at_x(v), f.bottom, "stroke=\"#e6e6e6\"");
    text(out, f.at_x(v), f.bottom + 16, format_number(v, 6), "text-anchor=\"middle\" font-size=\"11\"");
  }
  for (const double v : f.y.values) {
    line(out, f.left, f.at_y(v), f.right, f.at_y(v), "stroke=\"#e6e6e6\"");
    text(out, f.left - 6, f.at_y(v) + 4, format_number(v, 5), "text-anchor=\"end\" font-size=\"11\"");
  }
  append(out, "<rect x=\"", px(f.left), "\" y=\"", px(f.top), "\" width=\"", px(f.right - f.left), "\" height=\"",
         px(f.bottom - f.top), "\" fill=\"none\" stroke=\"#333\"/>\n");
  text(out, (f.left + f.right) / 2, f.bottom + 36, xlabel, "text-anchor=\"middle\"");
  const double mid = (f.top + f.bottom) / 2;
  text(out, x0 + 16, mid, ylabel,
       concat("text-anchor=\"middle\" transform=\"rotate(-90 ", px(x0 + 16), " ", px(mid), ")\""));
  append(out, "<g clip-path=\"url(#", clip, ")\">\n");
  return f;
}

void dot(std::string& out, double x, double y, const char* colour) {
  if (std::isfinite(x) && std::isfinite(y))
    append(out, "<circle cx=\"", px(x), "\" cy=\"", px(y), "\" r=\"2.5\" fill=\"", colour, "\"/>\n");
}

// The values over time with one curve per period and its band, in time order.
void levels_panel(std::string& out, const NsPicture& p, double x0, double y0, double width) {
  const std::size_t n = p.x.size(), np = p.periods.size();
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return p.time[a] < p.time[b]; });
  Range xr, yr;
  for (std::size_t i = 0; i < n; ++i) xr.add(p.time[i]), yr.add(p.x[i]);
  for (const stats::NsLevel& l : p.levels) yr.add(l.value), yr.add(l.lower), yr.add(l.upper);
  const std::string value = p.units.empty() ? "value" : concat("value (", p.units, ")");
  const Frame f = frame(out, x0, y0, width, xr, yr,
                        concat("Effective return levels, ", format_number(100 * p.confidence, 4), "% bands"),
                        p.time_name, value, "clip-ns-levels");
  for (std::size_t j = 0; j < np; ++j) {
    const char* colour = kColours[j % (sizeof kColours / sizeof *kColours)];
    std::string mid, upper, lower;
    for (const std::size_t i : order) {
      const stats::NsLevel& l = p.levels[i * np + j];
      const double x = f.at_x(p.time[i]);
      if (!std::isfinite(x) || !std::isfinite(l.value)) continue;
      path_to(mid, x, f.at_y(l.value));
      if (std::isfinite(l.lower) && std::isfinite(l.upper)) {
        path_to(upper, x, f.at_y(l.upper));
        lower.insert(0, concat("L", px(x), " ", px(f.at_y(l.lower))));
      }
    }
    if (!upper.empty())
      append(out, "<path d=\"", upper, lower, "Z\" fill=\"", colour, "\" fill-opacity=\"0.15\" stroke=\"none\"/>\n");
    if (!mid.empty())
      append(out, "<path d=\"", mid, "\" fill=\"none\" stroke=\"", colour, "\" stroke-width=\"2\"/>\n");
    const double ly = f.top + 14 + 16 * static_cast<double>(j);
    line(out, f.left + 10, ly, f.left + 30, ly, concat("stroke=\"", colour, "\" stroke-width=\"2\""));
    text(out, f.left + 36, ly + 4, concat("T = ", format_number(p.periods[j]), " years"), "font-size=\"11\"");
  }
  for (std::size_t i = 0; i < n; ++i) dot(out, f.at_x(p.time[i]), f.at_y(p.x[i]), kPoint);
  out += "</g>\n";
}

// The standard law's quantile at probability q.
double standard_quantile(bool exponential, double q) {
  return exponential ? -std::log1p(-q) : dist::gumbel_reduced_closed(q);
}

// Sorted residuals against the standard law's quantiles at i/(n+1), with the
// pointwise envelope of the order statistics (exact, from the Beta law of
// uniform order statistics).
void qq_panel(std::string& out, const NsPicture& p, double x0, double y0, double width) {
  std::vector<double> r;
  for (const double v : p.residuals)
    if (std::isfinite(v)) r.push_back(v);
  std::sort(r.begin(), r.end());
  const std::size_t n = r.size();
  const auto position = [n](std::size_t i) { return static_cast<double>(i + 1) / static_cast<double>(n + 1); };
  Range xr, yr;
  for (std::size_t i = 0; i < n; ++i) {
    xr.add(standard_quantile(p.exponential, position(i)));
    yr.add(r[i]);
  }
  yr.add(xr.lo), yr.add(xr.hi);
  const char* law = p.exponential ? "standard exponential" : "standard Gumbel";
  const Frame f = frame(out, x0, y0, width, xr, yr,
                        concat("Residuals, ", format_number(100 * p.confidence, 4), "% envelope"),
                        concat(law, " quantile"), "residual", "clip-ns-qq");
  std::string upper, lower;
  for (std::size_t i = 0; i < n; ++i) {
    const double x = f.at_x(standard_quantile(p.exponential, position(i)));
    path_to(upper, x, f.at_y(standard_quantile(p.exponential, uniform_order_quantile(i, n, (1 + p.confidence) / 2))));
    lower.insert(0, concat("L", px(x),
                           " ", px(f.at_y(standard_quantile(p.exponential,
                                                            uniform_order_quantile(i, n, (1 - p.confidence) / 2))))));
  }
  if (!upper.empty())
    append(out, "<path d=\"", upper, lower, "Z\" fill=\"", kPoint, "\" fill-opacity=\"0.12\" stroke=\"none\"/>\n");
  line(out, f.at_x(f.x.lo), f.at_y(f.x.lo), f.at_x(f.x.hi), f.at_y(f.x.hi), "stroke=\"#333\" stroke-dasharray=\"4 3\"");
  for (std::size_t i = 0; i < n; ++i)
    dot(out, f.at_x(standard_quantile(p.exponential, position(i))), f.at_y(r[i]), kPoint);
  out += "</g>\n";
}

}  // namespace

NsPicture nonstationary_picture(const NonstationaryResult& r, double confidence, const std::string& units) {
  NsPicture p;
  if (!r.fitted || !r.analysis.fit.ok) return p;
  p.time_name = "year";
  p.time = r.time;
  p.x = r.x;
  p.periods = {2, 10, 100};
  p.confidence = confidence;
  p.units = units;
  p.levels = stats::ns_levels_per_observation(r.analysis.fit, p.periods, confidence);
  p.residuals = stats::ns_residuals(r.analysis.fit);
  return p;
}

double nonstationary_part_height(const NsPicture& p) {
  const bool drawn = p.x.size() >= 2 && p.time.size() == p.x.size() &&
                     p.levels.size() == p.x.size() * p.periods.size();
  return drawn ? kPanelHeight : 0;
}

std::string nonstationary_part_svg(const NsPicture& p, double y0, double width) {
  if (nonstationary_part_height(p) == 0) return "";
  std::string out;
  levels_panel(out, p, 0, y0, width * 2 / 3);
  qq_panel(out, p, width * 2 / 3, y0, width / 3);
  return out;
}

}  // namespace korvalinde::cli
