#include "korvalinde/cli/svg.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "korvalinde/cli/text.hpp"
#include "korvalinde/dist/gumbel.hpp"
#include "korvalinde/dist/normal.hpp"

namespace korvalinde::cli {

namespace {

constexpr double kHuge = 1e307;             // data beyond this are clamped
constexpr double kPixelLimit = 1e5;         // coordinates far off the canvas are clamped
constexpr std::size_t kMaxBars = 600;       // cells are merged beyond this
constexpr int kCurvePoints = 240;

// Layout in pixels: three panels side by side under a title, a legend below.
constexpr double kPanelWidth = 500, kPanelHeight = 440, kTitleHeight = 36, kLegendHeight = 64;
constexpr double kWidth = 3 * kPanelWidth, kHeight = kTitleHeight + kPanelHeight + kLegendHeight;
constexpr double kLeft = 70, kRight = 28, kTop = 30, kBottom = 48;
// A white outline drawn under a label keeps it readable over lines.
constexpr const char* kHalo = " fill=\"none\" stroke=\"#fff\" stroke-width=\"3\"";
constexpr double kCharWidth = 0.58;  // average advance of a character, in font sizes

struct Method {
  const char* name;
  const char* colour;
  const MethodResult* fit;
};

bool usable(const MethodResult& m) {
  return m.present && std::isfinite(m.a) && std::isfinite(m.b) && m.b > 0;
}

// The Gumbel reduced variate y = -ln(-ln F) of a non-exceedance probability,
// and the one of a return period T, F = 1 - 1/T.
double reduced(double f) { return dist::gumbel_reduced_closed(f); }
double reduced_of_period(double t) { return dist::gumbel_period_reduced(t); }

double density(const MethodResult& m, double x) { return dist::pdf(dist::Gumbel{m.a, m.b}, x); }

// Half-width of the delta-method 95% band of the mle line at y, or NaN.
double band(const MethodResult& m, double y) {
  const double var =
      m.se_a * m.se_a + y * y * m.se_b * m.se_b + 2 * y * m.corr_ab * m.se_a * m.se_b;
  return dist::kNormal95 * std::sqrt(std::max(0.0, var));
}

bool has_band(const MethodResult& m) {
  return usable(m) && std::isfinite(m.se_a) && std::isfinite(m.se_b) && std::isfinite(m.corr_ab);
}

// Plotting position of the i-th (0-based) of n sorted values.
double position(std::size_t i, std::size_t n) {
  return (static_cast<double>(i) + 1 - 0.44) / (static_cast<double>(n) + 0.12);
}

double clamp_data(double v) { return std::clamp(v, -kHuge, kHuge); }

// A range that grows to hold the finite values added to it.
struct Range {
  double lo = INFINITY, hi = -INFINITY;
  void add(double v) {
    if (!std::isfinite(v)) return;
    v = clamp_data(v);
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  bool empty() const { return lo > hi; }
  // Ticks over the range widened by a small margin, so that nothing sits on the frame.
  Ticks ticks() const {
    const double margin = 0.03 * (hi - lo);
    return nice_ticks(lo - margin, hi + margin);
  }
  // Adds v, but no further than `reach` times the current span beyond it.
  void extend(double v, double reach) {
    if (empty() || !std::isfinite(v)) return add(v);
    const double span = hi - lo;
    add(std::clamp(v, lo - reach * span, hi + reach * span));
  }
};

// Maps data to pixels along one axis; a log axis maps log10 of the value.
struct Axis {
  Ticks ticks;
  bool log = false;
  double p0 = 0, p1 = 1;  // pixels of ticks.lo and ticks.hi
  double map(double v) const {
    double lo = ticks.lo, hi = ticks.hi;
    if (log) v = std::log10(v), lo = std::log10(lo), hi = std::log10(hi);
    const double p = p0 + (v - lo) / (hi - lo) * (p1 - p0);
    return std::isfinite(p) ? std::clamp(p, -kPixelLimit, kPixelLimit) : NAN;
  }
};

// Ticks of a log axis at 1, 2 and 5 times powers of ten (only the powers of
// ten over many decades), from lo to hi.
Ticks log_ticks(double lo, double hi) {
  Ticks t;
  t.lo = lo;
  t.hi = hi;
  const bool decades_only = std::log10(hi / lo) > 3.01;
  for (double decade = std::pow(10, std::floor(std::log10(lo))); decade <= hi; decade *= 10) {
    for (double f : {1.0, 2.0, 5.0}) {
      if (decades_only && f != 1) continue;
      const double v = f * decade;
      if (v >= lo * (1 - 1e-12) && v <= hi * (1 + 1e-12)) t.values.push_back(v);
    }
  }
  return t;
}

// The smallest 1-2-5 value at or above v.
double nice_ceiling(double v) {
  const double decade = std::pow(10, std::floor(std::log10(v)));
  for (double f : {1.0, 2.0, 5.0, 10.0}) {
    if (f * decade >= v * (1 - 1e-12)) return f * decade;
  }
  return 10 * decade;
}

// Label of a tick with enough digits to tell neighbouring ticks apart: plain
// decimals for moderate magnitudes, else scientific notation.
std::string tick_label(double v, double step, double largest) {
  if (!(step > 0) || !(largest > 0)) return format_number(v, 6, "");
  const int step_exponent = static_cast<int>(std::floor(std::log10(step) + 1e-9));
  const int exponent = static_cast<int>(std::floor(std::log10(largest)));
  if (exponent < 7 && step_exponent > -6) return format_fixed(v, std::max(0, -step_exponent));
  return format_number(v, std::clamp(exponent - step_exponent + 1, 1, 17), "");
}

std::string escape(std::string_view s) { return escape_xml(s); }

// At most `limit` characters of s (whole UTF-8 sequences), with "..." when cut.
std::string shorten(const std::string& s, std::size_t limit) {
  std::size_t chars = 0, i = 0;
  for (; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80 && chars++ == limit) break;
  }
  return i < s.size() ? concat(s.substr(0, i), "...") : s;
}

std::string px(double v) { return format_fixed(v, 1); }

// The name after the last slash ("-" stays "-").
std::string base_name(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos || slash + 1 == path.size() ? path : path.substr(slash + 1);
}

class Svg {
 public:
  std::string out;

  void text(double x, double y, std::string_view s, std::string_view attrs = {}) {
    if (!std::isfinite(x) || !std::isfinite(y)) return;
    append(out, "<text x=\"", px(x), "\" y=\"", px(y), "\"");
    if (!attrs.empty()) append(out, " ", attrs);
    append(out, ">", escape(s), "</text>\n");
  }
  void line(double x1, double y1, double x2, double y2, std::string_view attrs) {
    if (!std::isfinite(x1) || !std::isfinite(y1) || !std::isfinite(x2) || !std::isfinite(y2)) {
      return;
    }
    append(out, "<line x1=\"", px(x1), "\" y1=\"", px(y1), "\" x2=\"", px(x2), "\" y2=\"", px(y2),
           "\" ", attrs, "/>\n");
  }
  // A polyline through the points in pixels, broken where a point is undefined.
  void polyline(const std::vector<std::pair<double, double>>& points, std::string_view attrs) {
    std::string d;
    bool pen = false;
    for (const auto& [x, y] : points) {
      if (!std::isfinite(x) || !std::isfinite(y)) {
        pen = false;
        continue;
      }
      append(d, pen ? "L" : "M", px(x), " ", px(y));
      pen = true;
    }
    path(d, attrs);
  }
  void path(const std::string& d, std::string_view attrs) {
    if (!d.empty()) append(out, "<path d=\"", d, "\" ", attrs, "/>\n");
  }
};

// One of the three panels: its frame, its axes and a clipping region.
struct Panel {
  double x0, y0;  // top left corner of the panel
  Axis x, y;
  std::string clip;

  double left() const { return x0 + kLeft; }
  double right() const { return x0 + kPanelWidth - kRight; }
  double top() const { return y0 + kTop; }
  double bottom() const { return y0 + kPanelHeight - kBottom; }

  Panel(double px0, double py0, Ticks xt, bool xlog, Ticks yt, std::string id)
      : x0(px0), y0(py0), clip(std::move(id)) {
    x.ticks = std::move(xt);
    x.log = xlog;
    x.p0 = left();
    x.p1 = right();
    y.ticks = std::move(yt);
    y.p0 = bottom();
    y.p1 = top();
  }

  std::pair<double, double> at(double vx, double vy) const { return {x.map(vx), y.map(vy)}; }

  void frame(Svg& s, std::string_view title, std::string_view xlabel,
             std::string_view ylabel) const {
    append(s.out, "<clipPath id=\"", clip, "\"><rect x=\"", px(left()), "\" y=\"", px(top()),
           "\" width=\"", px(right() - left()), "\" height=\"", px(bottom() - top()),
           "\"/></clipPath>\n");
    s.text(left(), y0 + 18, title, "font-size=\"14\" font-weight=\"bold\"");
    double largest = 0;
    for (double v : x.ticks.values) largest = std::max(largest, std::fabs(v));
    for (double v : x.ticks.values) {
      const double p = x.map(v);
      s.line(p, top(), p, bottom(), "stroke=\"#e6e6e6\"");
      s.line(p, bottom(), p, bottom() + 5, "stroke=\"#333\"");
      const std::string label =
          x.log ? format_number(v, 6, "") : tick_label(v, x.ticks.step, largest);
      s.text(p, bottom() + 18, label, "text-anchor=\"middle\"");
    }
    largest = 0;
    for (double v : y.ticks.values) largest = std::max(largest, std::fabs(v));
    std::vector<std::string> labels;
    std::size_t longest = 0;
    for (double v : y.ticks.values) {
      labels.push_back(tick_label(v, y.ticks.step, largest));
      longest = std::max(longest, labels.back().size());
    }
    // Long labels get a smaller font so as not to run into the axis title.
    const double room = kLeft - 8 - 24;
    const double size = std::min(12.0, room / (kCharWidth * static_cast<double>(longest)));
    const std::string font =
        concat("text-anchor=\"end\" font-size=\"", format_number(size, 3), "\"");
    for (std::size_t i = 0; i < labels.size(); ++i) {
      const double p = y.map(y.ticks.values[i]);
      s.line(left(), p, right(), p, "stroke=\"#e6e6e6\"");
      s.line(left() - 5, p, left(), p, "stroke=\"#333\"");
      s.text(left() - 8, p + size / 3, labels[i], font);
    }
    append(s.out, "<rect x=\"", px(left()), "\" y=\"", px(top()), "\" width=\"",
           px(right() - left()), "\" height=\"", px(bottom() - top()),
           "\" fill=\"none\" stroke=\"#333\"/>\n");
    s.text((left() + right()) / 2, bottom() + 38, xlabel, "text-anchor=\"middle\"");
    const double ly = (top() + bottom()) / 2, lx = x0 + 16;
    append(s.out, "<text transform=\"translate(", px(lx), " ", px(ly),
           ") rotate(-90)\" text-anchor=\"middle\">", escape(ylabel), "</text>\n");
  }

  void begin_clip(Svg& s) const { append(s.out, "<g clip-path=\"url(#", clip, ")\">\n"); }
  static void end_clip(Svg& s) { s.out += "</g>\n"; }
};

std::string stroke(const char* colour, double width, std::string_view extra = {}) {
  std::string s =
      concat("fill=\"none\" stroke=\"", colour, "\" stroke-width=\"", format_number(width), "\"");
  if (!extra.empty()) append(s, " ", extra);
  return s;
}

// A band between lower and upper curves over the same abscissae, in pixels.
void band_polygon(Svg& s, const std::vector<std::pair<double, double>>& lower,
                  const std::vector<std::pair<double, double>>& upper, const char* colour) {
  std::string d;
  auto add = [&](const std::pair<double, double>& p) {
    if (!std::isfinite(p.first) || !std::isfinite(p.second)) return;
    append(d, d.empty() ? "M" : "L", px(p.first), " ", px(p.second));
  };
  for (const auto& p : upper) add(p);
  for (auto it = lower.rbegin(); it != lower.rend(); ++it) add(*it);
  if (!d.empty())
    s.path(concat(d, "Z"), concat("fill=\"", colour, "\" fill-opacity=\"0.15\" stroke=\"none\""));
}

// Observations as round dots: zero-length segments with round caps.
void dots(Svg& s, const std::vector<std::pair<double, double>>& points) {
  std::string d;
  for (const auto& [x, y] : points) {
    if (std::isfinite(x) && std::isfinite(y)) append(d, "M", px(x), " ", px(y), "h0");
  }
  s.path(d, "stroke=\"#444\" stroke-width=\"3.2\" stroke-linecap=\"round\" fill=\"none\"");
}

void histogram_panel(Svg& s, double x0, const PlotData& data, const std::vector<Method>& methods,
                     const std::string& value) {
  const std::size_t m = std::min(data.centres.size(), data.densities.size());
  double minimum = data.minimum, dx = data.dx;
  if ((!std::isfinite(minimum) || !std::isfinite(dx) || !(dx > 0)) && m >= 2) {
    dx = data.centres[1] - data.centres[0];
    minimum = data.centres[0] - dx / 2;
  }
  const bool bars = m > 0 && std::isfinite(minimum) && std::isfinite(dx) && dx > 0;

  Range xr, yr;
  yr.add(0);
  if (bars) {
    xr.add(minimum);
    xr.add(minimum + static_cast<double>(m) * dx);
  }
  if (!data.sorted.empty()) {
    xr.add(data.sorted.front());
    xr.add(data.sorted.back());
  }
  for (const Method& me : methods) {
    if (xr.empty() && usable(*me.fit)) {
      xr.add(me.fit->a - 2 * me.fit->b);
      xr.add(me.fit->a + 5 * me.fit->b);
    }
  }
  for (const Method& me : methods) xr.extend(me.fit->quantile.value, 0.5);

  // Cells merged into groups of equal size keep the area under the bars.
  const std::size_t group = bars ? (m + kMaxBars - 1) / kMaxBars : 1;
  std::vector<std::pair<double, double>> cells;  // left edge, density
  double top = 0;
  for (std::size_t i = 0; bars && i < m; i += group) {
    const std::size_t end = std::min(m, i + group);
    double sum = 0;
    for (std::size_t k = i; k < end; ++k) sum += data.densities[k];
    const double y = sum / static_cast<double>(end - i);
    cells.emplace_back(minimum + static_cast<double>(i) * dx, y);
    if (std::isfinite(y)) top = std::max(top, y);
  }
  yr.add(top);
  double peak = 0;
  for (const Method& me : methods) {
    if (usable(*me.fit)) peak = std::max(peak, 1 / (std::exp(1.0) * me.fit->b));
  }
  yr.add(top > 0 ? std::min(peak, 3 * top) : peak);
  if (xr.empty()) xr.add(0), xr.add(1);
  const Panel p(x0, kTitleHeight, nice_ticks(xr.lo, xr.hi), false,
                nice_ticks(0, std::max(yr.hi * 1.05, 0.0)), "clip-a");
  p.frame(s, "Histogram and fitted densities", value, "density");
  p.begin_clip(s);

  std::string d;
  for (std::size_t g = 0; g < cells.size(); ++g) {
    const double left = p.x.map(cells[g].first);
    const double right = p.x.map(minimum + static_cast<double>(std::min(m, (g + 1) * group)) * dx);
    const double base = p.y.map(0), height = p.y.map(cells[g].second);
    if (!std::isfinite(left) || !std::isfinite(right) || !std::isfinite(height)) continue;
    append(d, "M", px(left), " ", px(base), "V", px(height), "H", px(right), "V", px(base), "Z");
  }
  // Outlines only where the bars are wide enough for them to show.
  const bool outlined = group * dx * (p.x.p1 - p.x.p0) / (p.x.ticks.hi - p.x.ticks.lo) > 3;
  s.path(d, outlined ? "fill=\"#cfd8e3\" stroke=\"#8c9bb0\" stroke-width=\"0.6\""
                     : "fill=\"#cfd8e3\" stroke=\"none\"");

  for (const Method& me : methods) {
    if (!usable(*me.fit)) continue;
    std::vector<std::pair<double, double>> curve;
    for (int i = 0; i <= kCurvePoints; ++i) {
      const double x = p.x.ticks.lo + (p.x.ticks.hi - p.x.ticks.lo) * i / kCurvePoints;
      curve.push_back(p.at(x, density(*me.fit, x)));
    }
    s.polyline(curve, stroke(me.colour, 2));
  }
  Panel::end_clip(s);

  // DPA_CUT lines, labelled along the line, the labels of successive methods
  // stacked so that close values stay readable; when the line is full they
  // continue on its other side.
  double offset = 6, side = -4;
  for (const Method& me : methods) {
    const double cut = me.fit->quantile.value;
    const double x = p.x.map(cut);
    if (!std::isfinite(cut) || !(x >= p.left() && x <= p.right())) continue;
    s.line(x, p.top(), x, p.bottom(), stroke(me.colour, 1.4, "stroke-dasharray=\"6 4\""));
    const std::string label = concat("DPA_CUT ", format_number(cut));
    const double length = 11 * kCharWidth * static_cast<double>(label.size()) + 12;
    if (offset + length > p.bottom() - p.top()) offset = 6, side = -side + 9;
    const double y = p.bottom() - offset;
    offset += length;
    const std::string at = concat("transform=\"translate(", px(x + side), " ", px(y),
                                  ") rotate(-90)\" font-size=\"11\"");
    append(s.out, "<text ", at, kHalo, ">", label, "</text>\n<text ", at, " fill=\"", me.colour,
           "\">", label, "</text>\n");
  }
}

void probability_panel(Svg& s, double x0, const PlotData& data, const std::vector<Method>& methods,
                       const MethodResult* mle, const std::vector<std::size_t>& kept,
                       const std::string& value) {
  const std::size_t n = data.sorted.size();
  Range yr, vr;
  if (n > 0) {
    yr.add(reduced(position(0, n)));
    yr.add(reduced(position(n - 1, n)));
    vr.add(data.sorted.front());
    vr.add(data.sorted.back());
  } else {
    yr.add(-2);
    yr.add(7);
  }
  for (const Method& me : methods) {
    if (!usable(*me.fit)) continue;
    if (vr.empty()) vr.add(me.fit->a + me.fit->b * yr.lo), vr.add(me.fit->a + me.fit->b * yr.hi);
    vr.extend(me.fit->a + me.fit->b * yr.lo, 0.25);
    vr.extend(me.fit->a + me.fit->b * yr.hi, 0.25);
  }
  if (vr.empty()) vr.add(0), vr.add(1);
  const Panel p(x0, kTitleHeight, yr.ticks(), false, vr.ticks(), "clip-b");
  p.frame(s, "Gumbel probability plot", "reduced variate -ln(-ln F)", value);
  p.begin_clip(s);
  const double y0 = p.x.ticks.lo, y1 = p.x.ticks.hi;
  if (mle && has_band(*mle)) {
    std::vector<std::pair<double, double>> lower, upper;
    for (int i = 0; i <= kCurvePoints / 2; ++i) {
      const double y = y0 + (y1 - y0) * i / (kCurvePoints / 2);
      const double q = mle->a + mle->b * y, h = band(*mle, y);
      lower.push_back(p.at(y, q - h));
      upper.push_back(p.at(y, q + h));
    }
    band_polygon(s, lower, upper, "#d62728");
  }
  for (const Method& me : methods) {
    if (!usable(*me.fit)) continue;
    s.polyline({p.at(y0, me.fit->a + me.fit->b * y0), p.at(y1, me.fit->a + me.fit->b * y1)},
               stroke(me.colour, 2));
  }
  std::vector<std::pair<double, double>> points;
  for (std::size_t i : kept) points.push_back(p.at(reduced(position(i, n)), data.sorted[i]));
  dots(s, points);
  Panel::end_clip(s);
}

void return_level_panel(Svg& s, double x0, const PlotData& data, const std::vector<Method>& methods,
                        const MethodResult* mle, const std::vector<std::size_t>& kept,
                        const std::string& value) {
  const std::size_t n = data.sorted.size();
  double largest = 0;
  for (const Method& me : methods) {
    for (const ReturnLevel& rl : me.fit->return_levels) {
      if (std::isfinite(rl.period) && rl.period > largest) largest = std::min(rl.period, 1e12);
    }
  }
  if (!(largest > 1.1)) largest = 1000;
  if (n > 0) largest = std::max(largest, 1 / (1 - position(n - 1, n)));
  const double t_lo = 1.1, t_hi = nice_ceiling(largest);

  Range vr;
  if (n > 0) vr.add(data.sorted.front()), vr.add(data.sorted.back());
  for (const Method& me : methods) {
    if (!usable(*me.fit)) continue;
    const double lo = me.fit->a + me.fit->b * reduced_of_period(t_lo);
    const double hi = me.fit->a + me.fit->b * reduced_of_period(t_hi);
    if (vr.empty()) vr.add(lo), vr.add(hi);
    vr.extend(lo, 0.25);
    vr.extend(hi, 0.5);
    if (me.fit == mle && has_band(*mle)) {
      vr.extend(hi + band(*mle, reduced_of_period(t_hi)), 0.5);
    }
  }
  // The --level value, with each method's return period of it.
  double level = kUndefined;
  for (const Method& me : methods) {
    if (me.fit->level) level = *me.fit->level;
  }
  if (vr.empty()) vr.add(level);
  vr.extend(level, 0.5);
  if (vr.empty()) vr.add(0), vr.add(1);
  Ticks xt = log_ticks(1, t_hi);
  const Panel p(x0, kTitleHeight, std::move(xt), true, vr.ticks(), "clip-c");
  p.frame(s, "Return levels", "return period T", concat("return ", value));
  p.begin_clip(s);

  std::vector<double> periods;
  for (int i = 0; i <= kCurvePoints; ++i) {
    periods.push_back(t_lo * std::pow(t_hi / t_lo, static_cast<double>(i) / kCurvePoints));
  }
  if (mle && has_band(*mle)) {
    std::vector<std::pair<double, double>> lower, upper;
    for (double t : periods) {
      const double y = reduced_of_period(t);
      const double q = mle->a + mle->b * y, h = band(*mle, y);
      lower.push_back(p.at(t, q - h));
      upper.push_back(p.at(t, q + h));
    }
    band_polygon(s, lower, upper, "#d62728");
  }
  for (const Method& me : methods) {
    if (!usable(*me.fit)) continue;
    std::vector<std::pair<double, double>> curve;
    for (double t : periods) curve.push_back(p.at(t, me.fit->a + me.fit->b * reduced_of_period(t)));
    s.polyline(curve, stroke(me.colour, 2));
  }
  std::vector<std::pair<double, double>> points;
  for (std::size_t i : kept) points.push_back(p.at(1 / (1 - position(i, n)), data.sorted[i]));
  dots(s, points);
  const double ly = p.y.map(level);
  std::string label;
  if (std::isfinite(level)) {
    s.line(p.left(), ly, p.right(), ly, stroke("#666", 1, "stroke-dasharray=\"2 3\""));
    append(label, "level ", format_number(level), ": T =");
    for (const Method& me : methods) {
      if (!me.fit->level) continue;
      const double t = me.fit->level_period;
      append(label, " ", format_number(t), " (", me.name, ")");
      const auto [cx, cy] = p.at(t, level);
      if (std::isfinite(cx) && std::isfinite(cy)) {
        append(s.out, "<circle cx=\"", px(cx), "\" cy=\"", px(cy), "\" r=\"4\" fill=\"", me.colour,
               "\" stroke=\"#fff\"/>\n");
      }
    }
  }
  Panel::end_clip(s);
  if (std::isfinite(ly) && ly >= p.top() && ly <= p.bottom()) {
    const double y = ly > p.top() + 14 ? ly - 5 : ly + 14;
    s.text(p.left() + 6, y, label, concat("font-size=\"11\"", kHalo));
    s.text(p.left() + 6, y, label, "font-size=\"11\"");
  }
}

// The legend below the panels: the methods with their parameters on the
// first row, the other marks on the second.
void legend(Svg& s, const std::vector<Method>& methods, const MethodResult* mle, double prob) {
  const double y = kTitleHeight + kPanelHeight + 16;
  double x = kLeft;
  for (const Method& me : methods) {
    s.line(x, y - 4, x + 28, y - 4, stroke(me.colour, 2.5));
    const std::string label =
        concat(me.name, ": a = ", format_number(me.fit->a), ", b = ", format_number(me.fit->b));
    s.text(x + 36, y, label);
    x += 36 + 7.2 * static_cast<double>(label.size()) + 40;
  }
  const double y2 = y + 24;
  x = kLeft;
  append(s.out, "<rect x=\"", px(x), "\" y=\"", px(y2 - 12),
         "\" width=\"28\" height=\"12\" fill=\"#cfd8e3\" stroke=\"#8c9bb0\"/>\n");
  s.text(x + 36, y2, "histogram density");
  x += 200;
  s.path(concat("M", px(x + 14), " ", px(y2 - 5), "h0"),
         "stroke=\"#444\" stroke-width=\"5\" stroke-linecap=\"round\"");
  s.text(x + 36, y2, "observations, F = (i - 0.44)/(n + 0.12)");
  x += 340;
  s.line(x, y2 - 12, x, y2 + 2, stroke("#333", 1.4, "stroke-dasharray=\"6 4\""));
  s.line(x + 14, y2 - 12, x + 14, y2 + 2, stroke("#333", 1.4, "stroke-dasharray=\"6 4\""));
  s.text(x + 36, y2, concat("DPA_CUT at p = ", format_number(prob)));
  x += 220;
  if (mle && has_band(*mle)) {
    append(s.out, "<rect x=\"", px(x), "\" y=\"", px(y2 - 12),
           "\" width=\"28\" height=\"12\" fill=\"#d62728\" fill-opacity=\"0.15\"/>\n");
    s.text(x + 36, y2, "mle 95% band (delta method)");
  }
}

std::string header(double height) {
  return concat(
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"",
      px(kWidth), "\" height=\"", px(height), "\" viewBox=\"0 0 ", px(kWidth), " ", px(height),
      "\" font-family=\"sans-serif\" font-size=\"12\" fill=\"#222\">\n"
      "<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n");
}

}  // namespace

Ticks nice_ticks(double lo, double hi, int target) {
  if (!std::isfinite(lo) || !std::isfinite(hi)) lo = 0, hi = 1;
  if (lo > hi) std::swap(lo, hi);
  lo = clamp_data(lo);
  hi = clamp_data(hi);
  const double magnitude = std::max(std::fabs(lo), std::fabs(hi));
  if (hi - lo <= magnitude * 1e-12) {
    const double pad = magnitude > 0 ? magnitude * 0.1 : 1;
    lo -= pad;
    hi += pad;
  }
  Ticks t;
  const double raw = (hi - lo) / std::max(1, target - 1);
  const double decade = std::pow(10, std::floor(std::log10(raw)));
  const double f = raw / decade;
  t.step = (f < 1.5 ? 1 : f < 3 ? 2 : f < 7 ? 5 : 10) * decade;
  if (!std::isfinite(t.step) || !(t.step > 0)) {
    t.lo = lo, t.hi = hi, t.step = hi - lo;
    t.values = {lo, hi};
    return t;
  }
  const double first = std::floor(lo / t.step), last = std::ceil(hi / t.step);
  t.lo = first * t.step;
  t.hi = last * t.step;
  for (double k = first; k <= last && t.values.size() < 50; ++k) {
    const double v = k * t.step;
    t.values.push_back(std::fabs(v) < t.step * 1e-9 ? 0 : v);
  }
  return t;
}

std::vector<std::size_t> thin_indices(std::size_t n, std::size_t max_points, std::size_t ends) {
  std::vector<std::size_t> kept;
  if (n <= max_points || max_points <= 2 * ends) {
    if (n <= max_points) {
      for (std::size_t i = 0; i < n; ++i) kept.push_back(i);
      return kept;
    }
    ends = max_points / 4;
  }
  for (std::size_t i = 0; i < ends; ++i) kept.push_back(i);
  const std::size_t middle = max_points - 2 * ends, from = ends, to = n - ends;
  for (std::size_t k = 0; k < middle; ++k) {
    kept.push_back(from + static_cast<std::size_t>(static_cast<double>(k) * (to - from) / middle));
  }
  for (std::size_t i = to; i < n; ++i) kept.push_back(i);
  return kept;
}

std::string render_svg(const FitResult& r, const PlotData& data, const PictureOptions& options) {
  if (!r.ok) {
    Svg s;
    s.out = header(80);
    s.text(16, 30, shorten(printable(r.file), 160), "font-size=\"16\" font-weight=\"bold\"");
    s.text(16, 58, shorten(concat("error: ", printable(r.error)), 200), "fill=\"#b00\"");
    return concat(s.out, "</svg>\n");
  }
  std::vector<Method> methods;
  if (r.ls.present) methods.push_back({"ls", "#1f77b4", &r.ls});
  if (r.mle.present) methods.push_back({"mle", "#d62728", &r.mle});
  if (r.lmom.present) methods.push_back({"lmom", "#2ca02c", &r.lmom});
  const MethodResult* mle = r.mle.present ? &r.mle : nullptr;
  double prob = kUndefined;
  for (const Method& me : methods) {
    if (std::isfinite(me.fit->prob)) prob = me.fit->prob;
  }

  Svg s;
  s.out = header(kHeight);
  const std::string title = options.title.empty() ? base_name(r.file) : options.title;
  const std::string value =
      options.units.empty() ? std::string("level") : concat("level (", options.units, ")");
  s.text(16, 24,
         concat(shorten(printable(title), 120), "   (n = ", std::to_string(r.n),
                ", bins = ", std::to_string(r.bins), ", cells = ", std::to_string(r.m), ")"),
         "font-size=\"15\" font-weight=\"bold\"");
  const std::vector<std::size_t> kept = thin_indices(data.sorted.size());
  histogram_panel(s, 0, data, methods, value);
  probability_panel(s, kPanelWidth, data, methods, mle, kept, value);
  return_level_panel(s, 2 * kPanelWidth, data, methods, mle, kept, value);
  legend(s, methods, mle, prob);
  return concat(s.out, "</svg>\n");
}

}  // namespace korvalinde::cli
