#include "korvalinde/cli/idf_svg.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "korvalinde/cli/html.hpp"
#include "korvalinde/cli/svg.hpp"
#include "korvalinde/cli/svg_draw.hpp"
#include "korvalinde/cli/text.hpp"
#include "korvalinde/dist/gumbel.hpp"
#include "korvalinde/stats/idf.hpp"

namespace korvalinde::cli {
namespace {

using svg::line;
using svg::path_to;
using svg::px;
using svg::text;

constexpr double kWidth = 960, kHeight = 600;
constexpr double kLeft = 80, kRight = 190, kTop = 56, kBottom = 64;
constexpr const char* kColours[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728",
                                    "#9467bd", "#8c564b", "#e377c2", "#17becf"};

const char* colour(std::size_t k) { return kColours[k % (sizeof kColours / sizeof *kColours)]; }

// A log axis over [lo, hi]: decades padded to the data, and the pixel of a value.
struct LogAxis {
  double lo = 1, hi = 10, p0 = 0, p1 = 1;
  double at(double v) const {
    if (!(v > 0) || !std::isfinite(v)) return NAN;
    const double p = p0 + (std::log10(v) - std::log10(lo)) / (std::log10(hi) - std::log10(lo)) * (p1 - p0);
    return std::clamp(p, -1e5, 1e5);
  }
};

// The ticks 1, 2, 5 times the powers of ten within the axis (fewer when the
// axis spans many decades).
std::vector<double> log_ticks(double lo, double hi) {
  std::vector<double> out;
  const int first = static_cast<int>(std::floor(std::log10(lo)));
  const int last = static_cast<int>(std::ceil(std::log10(hi)));
  const bool dense = std::log10(hi / lo) <= 3.5;
  for (int e = first; e <= last && out.size() < 40; ++e) {
    for (const double m : {1.0, 2.0, 5.0}) {
      if (!dense && m != 1) continue;
      const double v = m * std::pow(10.0, e);
      if (v >= lo * (1 - 1e-12) && v <= hi * (1 + 1e-12)) out.push_back(v);
    }
  }
  return out;
}

// The empirical intensity of return period T among the sorted maxima by the
// Weibull plotting positions i / (n + 1), linear in the Gumbel reduced
// variate between order statistics; NaN beyond the sample's positions.
double empirical(std::vector<double> sorted, double period) {
  const std::size_t n = sorted.size();
  if (n < 2) return NAN;
  std::sort(sorted.begin(), sorted.end());
  const double y = dist::gumbel_period_reduced(period);
  const auto y_of = [n](std::size_t i) {  // i zero-based
    return dist::gumbel_reduced(static_cast<double>(i + 1) / static_cast<double>(n + 1));
  };
  if (y < y_of(0) || y > y_of(n - 1)) return NAN;
  std::size_t i = 0;
  while (i + 2 < n && y_of(i + 1) < y) ++i;
  const double w = (y - y_of(i)) / (y_of(i + 1) - y_of(i));
  return sorted[i] + w * (sorted[i + 1] - sorted[i]);
}

}  // namespace

Interval idf_bounds(const Estimate& e) {
  const bool profile = e.profile && std::isfinite(e.profile->lower.value);
  if (!profile) return {e.lower, e.upper};
  return {e.profile->lower.value, std::isfinite(e.profile->upper.value) ? e.profile->upper.value : kUndefined};
}

std::string render_idf_svg(const IdfResult& r, const std::vector<double>& periods, const std::string& units,
                           const std::string& footer) {
  const double height = footer.empty() ? kHeight : kHeight + kFooterHeight;
  const auto close = [&](std::string& out) {
    if (!footer.empty()) out += footer_svg(footer, kHeight, kWidth);
    out += "</svg>\n";
  };
  std::string out;
  append(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"",
         px(kWidth), "\" height=\"", px(height), "\" viewBox=\"0 0 ", px(kWidth), " ", px(height),
         "\" font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"12\">\n<rect width=\"100%\" "
         "height=\"100%\" fill=\"#fff\"/>\n");
  std::string title = r.file;
  if (r.grouped) append(title, " [", r.group, "]");
  text(out, kLeft, 24, title, "font-size=\"16\" font-weight=\"bold\"");
  const std::size_t np = periods.size();
  if (!r.ok || r.durations.size() < 2 || r.intensities.size() != r.durations.size() * np) {
    text(out, kLeft, 60, r.ok ? "fewer than two durations: no curves to draw" : r.error);
    close(out);
    return out;
  }
  const double confidence = r.durations.front().fit.confidence;
  text(out, kLeft, 42, concat("intensity against duration: ", r.model, ", bands the ",
                              format_number(100 * confidence, 4), "% intervals"),
       "font-size=\"12\" fill=\"#444\"");

  // The ranges: every level, bound and per-duration marker that is finite.
  double ylo = INFINITY, yhi = -INFINITY;
  const auto widen = [&](double v) {
    if (v > 0 && std::isfinite(v)) ylo = std::min(ylo, v), yhi = std::max(yhi, v);
  };
  for (const IdfIntensity& i : r.intensities) {
    const Interval b = idf_bounds(i.value);
    widen(i.value.value), widen(b.lower), widen(b.upper);
  }
  std::vector<std::vector<double>> marks(r.durations.size()), emp(r.durations.size());
  for (std::size_t k = 0; k < r.durations.size(); ++k) {
    const IdfDuration& d = r.durations[k];
    // The per-duration fit's own levels: the GEV's when it ran, else the Gumbel's.
    const std::vector<ReturnLevel>* levels = nullptr;
    const auto take = [&](const auto& m) {
      if (levels == nullptr && m.present && m.error.empty() && m.return_levels.size() == np)
        levels = &m.return_levels;
    };
    take(d.fit.gev.mle), take(d.fit.gev.lmom), take(d.fit.mle), take(d.fit.lmom);
    for (std::size_t p = 0; p < np; ++p) {
      marks[k].push_back(levels != nullptr ? (*levels)[p].level.value : NAN);
      emp[k].push_back(empirical(d.intensities, periods[p]));
      widen(marks[k].back()), widen(emp[k].back());
    }
  }
  if (!(ylo <= yhi)) ylo = 1, yhi = 10;
  const double hours_lo = r.durations.front().hours, hours_hi = r.durations.back().hours;
  const LogAxis xa{hours_lo / 1.25, hours_hi * 1.25, kLeft, kWidth - kRight};
  const LogAxis ya{ylo / 1.15, yhi * 1.15, kHeight - kBottom, kTop};

  // Grid and axes: the durations themselves on x, decades on y.
  for (const IdfDuration& d : r.durations) {
    const double x = xa.at(d.hours);
    line(out, x, ya.p1, x, ya.p0, "stroke=\"#e6e6e6\"");
    text(out, x, ya.p0 + 16, stats::duration_label(d.seconds), "text-anchor=\"middle\" font-size=\"10\"");
  }
  for (const double v : log_ticks(ya.lo, ya.hi)) {
    line(out, xa.p0, ya.at(v), xa.p1, ya.at(v), "stroke=\"#e6e6e6\"");
    text(out, xa.p0 - 6, ya.at(v) + 4, format_number(v, 4), "text-anchor=\"end\" font-size=\"11\"");
  }
  append(out, "<rect x=\"", px(xa.p0), "\" y=\"", px(ya.p1), "\" width=\"", px(xa.p1 - xa.p0), "\" height=\"",
         px(ya.p0 - ya.p1), "\" fill=\"none\" stroke=\"#333\"/>\n");
  text(out, (xa.p0 + xa.p1) / 2, kHeight - 22, "duration (log scale)", "text-anchor=\"middle\"");
  text(out, 18, (ya.p0 + ya.p1) / 2, concat("intensity (", units, ", log scale)"),
       concat("text-anchor=\"middle\" transform=\"rotate(-90 18 ", px((ya.p0 + ya.p1) / 2), ")\""));

  // One curve per period with its band, then the points over it.
  for (std::size_t p = 0; p < np; ++p) {
    // The band in runs of durations whose bounds both exist: it is not drawn
    // across a duration without one.
    std::string mid, upper, lower;
    const auto close_band = [&] {
      if (!upper.empty())
        append(out, "<path d=\"", upper, lower, "Z\" fill=\"", colour(p), "\" fill-opacity=\"0.12\" stroke=\"none\"/>\n");
      upper.clear(), lower.clear();
    };
    for (std::size_t k = 0; k < r.durations.size(); ++k) {
      const IdfIntensity& i = r.intensities[k * np + p];
      const double x = xa.at(i.hours);
      if (!std::isfinite(x) || !(i.value.value > 0)) continue;
      path_to(mid, x, ya.at(i.value.value));
      const Interval b = idf_bounds(i.value);
      if (b.lower > 0 && std::isfinite(b.upper)) {
        path_to(upper, x, ya.at(b.upper));
        lower.insert(0, concat("L", px(x), " ", px(ya.at(b.lower))));
      } else {
        close_band();
      }
    }
    close_band();
    if (!mid.empty())
      append(out, "<path d=\"", mid, "\" fill=\"none\" stroke=\"", colour(p), "\" stroke-width=\"2\"/>\n");
    for (std::size_t k = 0; k < r.durations.size(); ++k) {
      const double x = xa.at(r.durations[k].hours);
      const double e = ya.at(emp[k][p]), m = ya.at(marks[k][p]);
      if (std::isfinite(x) && std::isfinite(e))
        append(out, "<circle cx=\"", px(x), "\" cy=\"", px(e), "\" r=\"2.5\" fill=\"", colour(p), "\"/>\n");
      if (std::isfinite(x) && std::isfinite(m))
        append(out, "<rect x=\"", px(x - 3.5), "\" y=\"", px(m - 3.5), "\" width=\"7\" height=\"7\" fill=\"none\" "
               "stroke=\"", colour(p), "\" stroke-width=\"1.2\"/>\n");
    }
  }

  // The legend at the right.
  double y = kTop + 8;
  const double lx = kWidth - kRight + 16;
  for (std::size_t p = 0; p < np; ++p, y += 20) {
    line(out, lx, y, lx + 24, y, concat("stroke=\"", colour(p), "\" stroke-width=\"2\""));
    text(out, lx + 30, y + 4, concat("T = ", format_number(periods[p]), " years"));
  }
  y += 12;
  append(out, "<circle cx=\"", px(lx + 12), "\" cy=\"", px(y), "\" r=\"2.5\" fill=\"#555\"/>\n");
  text(out, lx + 30, y + 4, "empirical (i/(n+1))");
  y += 20;
  append(out, "<rect x=\"", px(lx + 8.5), "\" y=\"", px(y - 3.5), "\" width=\"7\" height=\"7\" fill=\"none\" "
         "stroke=\"#555\"/>\n");
  text(out, lx + 30, y + 4, "fit of each duration");
  close(out);
  return out;
}

std::string render_idf_html(const std::vector<IdfSection>& sections, const RunMeta* run,
                            const InputMeta* input) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<title>korvalinde intensity-duration-frequency</title>\n<style>body{font-family:sans-serif;"
      "margin:1.5em;max-width:1200px}pre{overflow-x:auto;font-size:12px}svg{max-width:100%;height:auto}"
      ".error{color:#b00}</style>\n</head>\n<body>\n<h1>Intensity-duration-frequency curves</h1>\n";
  if (run != nullptr) append(out, html_run_block(*run));
  if (input != nullptr) append(out, "<p class=\"input\">", escape_xml(input_text(*input)), "</p>\n");
  for (const IdfSection& s : sections) {
    append(out, "<section>\n<h2>", escape_xml(s.name), "</h2>\n");
    if (!s.error.empty()) append(out, "<p class=\"error\">", escape_xml(s.error), "</p>\n");
    else append(out, "<pre>", escape_lines(s.report), "</pre>\n", inline_svg(s.svg));
    append(out, "</section>\n");
  }
  append(out, "<p>Intensities are depth per hour of the duration's window. Each curve is one return period "
              "of the scaling model (or of the per-duration fits when the model failed), its band the "
              "interval at the run's confidence: profile likelihood where it exists, else the delta method. Dots: the "
              "empirical intensity of the period among each duration's annual maxima (plotting "
              "positions i/(n+1)); squares: each duration's own fit.</p>\n</body>\n</html>\n");
  return out;
}

}  // namespace korvalinde::cli
