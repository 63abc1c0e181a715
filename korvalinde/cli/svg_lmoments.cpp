#include "korvalinde/cli/svg_lmoments.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "korvalinde/cli/svg.hpp"
#include "korvalinde/cli/text.hpp"
#include "korvalinde/stats/lmoment_diagram.hpp"

namespace korvalinde::cli {

namespace {

constexpr double kLeft = 62, kRight = 14, kTop = 30, kBottom = 46;
constexpr std::size_t kCurvePoints = 161;

struct Style {
  const char* name;
  const char* colour;
  const char* dash;  // stroke-dasharray, or empty
};

// The families' colours; the lower bound is grey and dashed.
constexpr Style kStyles[] = {{"GLO", "#d62728", ""},   {"GEV", "#1f77b4", ""},
                             {"GNO", "#2ca02c", ""},   {"PE3", "#9467bd", ""},
                             {"GPA", "#ff7f0e", ""},   {"lower bound", "#7f7f7f", "6 4"}};

const Style& style_of(const std::string& name) {
  for (const Style& s : kStyles)
    if (name == s.name) return s;
  return kStyles[5];
}

std::string px(double v) { return format_fixed(v, 1); }

// Maps [lo, hi] of the ticks onto pixels p0..p1.
struct Scale {
  Ticks ticks;
  double p0, p1;
  double map(double v) const { return p0 + (v - ticks.lo) / (ticks.hi - ticks.lo) * (p1 - p0); }
};

std::string label_of(double v, double step) {
  const int decimals = std::max(0, -static_cast<int>(std::floor(std::log10(step) + 1e-9)));
  return format_fixed(v, decimals);
}

}  // namespace

std::string lmoment_ratio_diagram_svg(const std::vector<RatioPoint>& points,
                                      const RatioDiagramOptions& o) {
  double x_lo = -0.1, x_hi = 0.5, y_lo = -0.05, y_hi = 0.35;
  std::size_t missing = 0;
  for (const RatioPoint& p : points) {
    if (!std::isfinite(p.t3) || !std::isfinite(p.t4)) {
      ++missing;
      continue;
    }
    x_lo = std::min(x_lo, p.t3 - 0.05), x_hi = std::max(x_hi, p.t3 + 0.05);
    y_lo = std::min(y_lo, p.t4 - 0.05), y_hi = std::max(y_hi, p.t4 + 0.05);
  }
  x_lo = std::max(x_lo, -1.0), x_hi = std::min(x_hi, 1.0);
  y_lo = std::max(y_lo, -0.25), y_hi = std::min(y_hi, 1.0);
  const double left = kLeft, right = o.width - kRight, top = kTop, bottom = o.height - kBottom;
  const Scale sx{nice_ticks(x_lo, x_hi, 7), left, right};
  const Scale sy{nice_ticks(y_lo, y_hi, 7), bottom, top};

  std::string s;
  if (o.document) {
    append(s,
           "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"",
           px(o.width), "\" height=\"", px(o.height), "\" viewBox=\"0 0 ", px(o.width), " ", px(o.height),
           "\" font-family=\"sans-serif\" font-size=\"12\" fill=\"#222\">\n"
           "<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n");
  } else {
    append(s, "<g transform=\"translate(", px(o.x), " ", px(o.y), ")\">\n");
  }
  const std::string clip = concat(o.id, "-clip");
  append(s, "<clipPath id=\"", clip, "\"><rect x=\"", px(left), "\" y=\"", px(top), "\" width=\"",
         px(right - left), "\" height=\"", px(bottom - top), "\"/></clipPath>\n");
  append(s, "<text x=\"", px(left), "\" y=\"18\" font-size=\"14\" font-weight=\"bold\">", escape_xml(o.title),
         "</text>\n");

  // Grid, ticks and their labels.
  for (double v : sx.ticks.values) {
    const std::string p = px(sx.map(v));
    append(s, "<line x1=\"", p, "\" y1=\"", px(top), "\" x2=\"", p, "\" y2=\"", px(bottom),
           "\" stroke=\"#e6e6e6\"/>\n<text x=\"", p, "\" y=\"", px(bottom + 16),
           "\" text-anchor=\"middle\">", label_of(v, sx.ticks.step), "</text>\n");
  }
  for (double v : sy.ticks.values) {
    const std::string p = px(sy.map(v));
    append(s, "<line x1=\"", px(left), "\" y1=\"", p, "\" x2=\"", px(right), "\" y2=\"", p,
           "\" stroke=\"#e6e6e6\"/>\n<text x=\"", px(left - 6), "\" y=\"", px(sy.map(v) + 4),
           "\" text-anchor=\"end\">", label_of(v, sy.ticks.step), "</text>\n");
  }
  append(s, "<rect x=\"", px(left), "\" y=\"", px(top), "\" width=\"", px(right - left), "\" height=\"",
         px(bottom - top), "\" fill=\"none\" stroke=\"#333\"/>\n");
  append(s, "<text x=\"", px((left + right) / 2), "\" y=\"", px(bottom + 36),
         "\" text-anchor=\"middle\">L-skewness t3</text>\n");
  append(s, "<text transform=\"translate(16 ", px((top + bottom) / 2),
         ") rotate(-90)\" text-anchor=\"middle\">L-kurtosis t4</text>\n");

  // The curves, clipped to the frame, and their legend in the upper left,
  // above the GLO curve, where no distribution lies.
  append(s, "<g clip-path=\"url(#", clip, ")\">\n");
  const auto curves = stats::lmoment_ratio_curves(sx.ticks.lo, sx.ticks.hi, kCurvePoints);
  for (const stats::RatioCurve& c : curves) {
    const Style& st = style_of(c.name);
    std::string d;
    bool pen = false;
    for (std::size_t i = 0; i < c.t3.size(); ++i) {
      if (!std::isfinite(c.t4[i])) {
        pen = false;
        continue;
      }
      // Far below the frame the lower bound is held at its edge.
      const double y = std::clamp(sy.map(c.t4[i]), top - 50, bottom + 50);
      append(d, pen ? "L" : "M", px(sx.map(c.t3[i])), " ", px(y));
      pen = true;
    }
    if (d.empty()) continue;
    append(s, "<path d=\"", d, "\" fill=\"none\" stroke=\"", st.colour, "\" stroke-width=\"1.6\"");
    if (*st.dash) append(s, " stroke-dasharray=\"", st.dash, "\"");
    s += "/>\n";
  }
  double ly = top + 16;
  for (const stats::RatioCurve& c : curves) {
    const Style& st = style_of(c.name);
    append(s, "<line x1=\"", px(left + 8), "\" y1=\"", px(ly - 4), "\" x2=\"", px(left + 30), "\" y2=\"",
           px(ly - 4), "\" stroke=\"", st.colour, "\" stroke-width=\"1.6\"");
    if (*st.dash) append(s, " stroke-dasharray=\"", st.dash, "\"");
    append(s, "/>\n<text x=\"", px(left + 36), "\" y=\"", px(ly), "\" font-size=\"11\">", escape_xml(c.name),
           "</text>\n");
    ly += 15;
  }

  // The points: sites as dots, the emphasised ones (drawn last, on top) as
  // red diamonds.
  for (int pass = 0; pass < 2; ++pass) {
    for (const RatioPoint& p : points) {
      if (!std::isfinite(p.t3) || !std::isfinite(p.t4) || p.emphasised != (pass == 1)) continue;
      const double x = sx.map(p.t3), y = sy.map(p.t4);
      if (p.emphasised) {
        append(s, "<path d=\"M", px(x), " ", px(y - 6), "L", px(x + 6), " ", px(y), "L", px(x), " ", px(y + 6),
               "L", px(x - 6), " ", px(y), "Z\" fill=\"#d62728\" stroke=\"#fff\" stroke-width=\"1\"/>\n");
      } else {
        append(s, "<circle cx=\"", px(x), "\" cy=\"", px(y), "\" r=\"3\" fill=\"#222\"/>\n");
      }
      if (!p.label.empty())
        append(s, "<text x=\"", px(x + 7), "\" y=\"", px(y - 5), "\" font-size=\"10\">", escape_xml(p.label),
               "</text>\n");
    }
  }
  s += "</g>\n";
  if (missing > 0)
    append(s, "<text x=\"", px(right - 6), "\" y=\"", px(bottom - 8), "\" text-anchor=\"end\" font-size=\"11\">",
           format_number(static_cast<double>(missing), 12), missing == 1 ? " point" : " points",
           " without t3 and t4 not shown</text>\n");
  s += o.document ? "</svg>\n" : "</g>\n";
  return s;
}

}  // namespace korvalinde::cli
