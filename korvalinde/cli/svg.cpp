#include "korvalinde/cli/svg.hpp"

#include <algorithm>
#include <boost/math/special_functions/beta.hpp>
#include <cmath>
#include <optional>
#include <utility>

#include "korvalinde/cli/report.hpp"
#include "korvalinde/cli/nonstationary_svg.hpp"
#include "korvalinde/cli/svg_lmoments.hpp"
#include "korvalinde/cli/svg_threshold.hpp"
#include "korvalinde/cli/text.hpp"
#include "korvalinde/dist/gev.hpp"
#include "korvalinde/dist/gumbel.hpp"
#include "korvalinde/dist/normal.hpp"
#include "korvalinde/records/family_result.hpp"

namespace korvalinde::cli {

namespace {

constexpr double kHuge = 1e307;             // data beyond this are clamped
constexpr double kPixelLimit = 1e5;         // coordinates far off the canvas are clamped
constexpr std::size_t kMaxBars = 600;       // cells are merged beyond this
constexpr int kCurvePoints = 240;

// Layout in pixels: three panels side by side under a title, a legend below.
// The legend's rows wrap, so the height follows its last row.
constexpr double kPanelWidth = 400, kPanelHeight = 440, kTitleHeight = 36, kLegendRow = 24;
constexpr double kWidth = 3 * kPanelWidth;
constexpr double kLeft = 70, kRight = 20, kTop = 30, kBottom = 48;
// A white outline drawn under a label keeps it readable over lines.
constexpr const char* kHalo = " fill=\"none\" stroke=\"#fff\" stroke-width=\"3\"";
constexpr double kCharWidth = 0.58;  // average advance of a character, in font sizes
constexpr std::size_t kLevelLabelChars = 44;  // a line of the level label fits a panel

// One fitted curve: a Gumbel method (shape 0) or a GEV one.
struct Method {
  std::string name;  // "mle", "lmom", "ls", "gev mle", "gev lmom"
  const char* colour = "#000";
  bool headline = false;
  bool ok = false;                      // the fit has usable parameters
  dist::Gev d;                          // loc a, scale b, shape 0 for the Gumbel
  const MethodResult* gumbel = nullptr;  // the Gumbel fit; null for the GEV
  const Estimate* quantile = nullptr;    // DPA_CUT
  const std::vector<ReturnLevel>* levels = nullptr;
  std::optional<double> level;           // --level X
  double level_period = kUndefined;      // its return period
};

Method gumbel_method(std::string_view name, const char* colour, const MethodResult& m,
                     bool headline) {
  Method me;
  me.name = name;
  me.colour = colour;
  me.headline = headline;
  me.ok = m.present && std::isfinite(m.a) && std::isfinite(m.b) && m.b > 0;
  me.d = {m.a, m.b, 0};
  me.gumbel = &m;
  me.quantile = &m.quantile;
  me.levels = &m.return_levels;
  me.level = m.level;
  me.level_period = m.level_period;
  return me;
}

Method gev_method(std::string_view name, const char* colour, const GevMethodResult& g) {
  Method me;
  me.name = concat("gev ", name);
  me.colour = colour;
  me.ok = g.present && g.error.empty() && std::isfinite(g.loc) && std::isfinite(g.scale) &&
          g.scale > 0 && std::isfinite(g.shape);
  me.d = {g.loc, g.scale, g.shape};
  me.quantile = &g.quantile;
  me.levels = &g.return_levels;
  me.level = g.level;
  me.level_period = g.level_period;
  return me;
}

// The headline method's curve is bold; the other Gumbel curves recede, dashed;
// the GEV ones are dotted.
std::string curve_style(const Method& me) {
  if (me.headline)
    return concat("fill=\"none\" stroke=\"", me.colour, "\" stroke-width=\"3\"");
  return concat("fill=\"none\" stroke=\"", me.colour, "\" stroke-width=\"",
                me.gumbel ? "1.5\" stroke-opacity=\"0.6\" stroke-dasharray=\"7 4\""
                          : "2\" stroke-opacity=\"0.85\" stroke-dasharray=\"2 3\"");
}

// The Gumbel reduced variate y = -ln(-ln F) of a non-exceedance probability,
// and the one of a return period T, F = 1 - 1/T.
double reduced(double f) { return dist::gumbel_reduced_closed(f); }
double reduced_of_period(double t) { return dist::gumbel_period_reduced(t); }

// The fitted quantile at Gumbel reduced variate y.
double level_at(const Method& me, double y) {
  return me.gumbel ? me.d.loc + me.d.scale * y
                   : me.d.loc + me.d.scale * dist::gev_reduced(me.d.shape, y);
}

double density(const Method& me, double x) {
  return me.gumbel ? dist::pdf(dist::Gumbel{me.d.loc, me.d.scale}, x) : dist::pdf(me.d, x);
}

// Half-width of the delta-method band of a Gumbel line at y, critical value z.
double band(const MethodResult& m, double y, double z) {
  const double var =
      m.se_a * m.se_a + y * y * m.se_b * m.se_b + 2 * y * m.corr_ab * m.se_a * m.se_b;
  return z * std::sqrt(std::max(0.0, var));
}

bool has_band(const Method& me) {
  const MethodResult* m = me.gumbel;
  return me.ok && m && std::isfinite(m->se_a) && std::isfinite(m->se_b) &&
         std::isfinite(m->corr_ab);
}

// Whether the return levels have profile-likelihood intervals to draw.
bool has_profile(const Method& me) {
  return me.ok && std::any_of(me.levels->begin(), me.levels->end(), [](const ReturnLevel& rl) {
           return rl.level.profile.has_value();
         });
}

std::string percent(double c) { return concat(format_number(100 * c, 4, ""), "%"); }

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
  std::vector<std::string> names;  // labels of ticks.values, when not the values themselves
  double p0 = 0, p1 = 1;  // pixels of ticks.lo and ticks.hi
  double map(double v) const {
    double lo = ticks.lo, hi = ticks.hi;
    if (log) v = std::log10(v), lo = std::log10(lo), hi = std::log10(hi);
    const double p = p0 + (v - lo) / (hi - lo) * (p1 - p0);
    return std::isfinite(p) ? std::clamp(p, -kPixelLimit, kPixelLimit) : NAN;
  }
};

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

// How many characters of a font size surely fit a width in pixels (bold
// Latin text averages under 0.66 of the size).
std::size_t chars_within(double pixels, double font_size) {
  return static_cast<std::size_t>(std::max(10.0, pixels / (0.66 * font_size)));
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
    double last_right = -kPixelLimit;
    for (std::size_t i = 0; i < x.ticks.values.size(); ++i) {
      const double v = x.ticks.values[i];
      const double p = x.map(v);
      s.line(p, top(), p, bottom(), "stroke=\"#e6e6e6\"");
      s.line(p, bottom(), p, bottom() + 5, "stroke=\"#333\"");
      const std::string label = i < x.names.size() ? x.names[i]
                                : x.log            ? format_number(v, 6, "")
                                                   : tick_label(v, x.ticks.step, largest);
      // A label that would run into the one before it is left out.
      const double half = 6 * kCharWidth * static_cast<double>(label.size()) + 3;
      if (p - half < last_right) continue;
      last_right = p + half;
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

// Bars of the picture's own histogram: from the raw sample with the
// Freedman-Diaconis width 2 IQR n^(-1/3) (at most kMaxBars of them), so an
// empty stretch of the data shows as empty; the fit's cells only without a
// sample.
struct Bars {
  double left = 0, width = 0;
  std::vector<double> heights;  // densities
};

Bars sample_bars(const PlotData& data) {
  Bars bars;
  const std::size_t n = data.sorted.size();
  if (n >= 2 && std::isfinite(data.sorted.front()) && std::isfinite(data.sorted.back()) &&
      data.sorted.back() > data.sorted.front()) {
    const double lo = data.sorted.front(), hi = data.sorted.back(), range = hi - lo;
    const double nd = static_cast<double>(n);
    const double iqr = data.sorted[(3 * n) / 4] - data.sorted[n / 4];
    double width = 2 * iqr / std::cbrt(nd);
    if (!(width > 0) || !std::isfinite(width)) width = range / std::ceil(std::sqrt(nd));
    const auto count = static_cast<std::size_t>(
        std::clamp(std::ceil(range / width), 1.0, static_cast<double>(kMaxBars)));
    bars.left = lo;
    bars.width = range / static_cast<double>(count);
    bars.heights.assign(count, 0);
    for (double v : data.sorted) {
      const auto i = std::min(count - 1, static_cast<std::size_t>((v - lo) / bars.width));
      bars.heights[i] += 1;
    }
    for (double& h : bars.heights) h /= nd * bars.width;
    return bars;
  }
  const std::size_t m = std::min(data.centres.size(), data.densities.size());
  if (m >= 1 && std::isfinite(data.minimum) && data.dx > 0) {
    const std::size_t group = (m + kMaxBars - 1) / kMaxBars;  // merged, keeping the area
    bars.left = data.minimum;
    bars.width = data.dx * static_cast<double>(group);
    for (std::size_t i = 0; i < m; i += group) {
      const std::size_t end = std::min(m, i + group);
      double sum = 0;
      for (std::size_t k = i; k < end; ++k) sum += data.densities[k];
      bars.heights.push_back(sum / static_cast<double>(group));
    }
  }
  return bars;
}

void histogram_panel(Svg& s, double x0, const PlotData& data, const std::vector<Method>& methods,
                     const std::string& value) {
  const Bars bars = sample_bars(data);
  Range xr, yr;
  yr.add(0);
  if (!bars.heights.empty()) {
    xr.add(bars.left);
    xr.add(bars.left + bars.width * static_cast<double>(bars.heights.size()));
  }
  for (const Method& me : methods) {
    if (xr.empty() && me.ok && me.gumbel) {
      xr.add(me.d.loc - 2 * me.d.scale);
      xr.add(me.d.loc + 5 * me.d.scale);
    }
  }
  for (const Method& me : methods) {
    if (me.gumbel) xr.extend(me.quantile->value, 0.5);
  }
  double top = 0;
  for (double h : bars.heights) {
    if (std::isfinite(h)) top = std::max(top, h);
  }
  yr.add(top);
  double peak = 0;
  for (const Method& me : methods) {
    if (me.ok && me.gumbel) peak = std::max(peak, 1 / (std::exp(1.0) * me.d.scale));
  }
  yr.add(top > 0 ? std::min(peak, 3 * top) : peak);
  if (xr.empty()) xr.add(0), xr.add(1);
  // Head room above the bars for the DPA_CUT labels.
  const double labels = 1 + 0.06 * static_cast<double>(std::count_if(
                                     methods.begin(), methods.end(),
                                     [](const Method& me) { return me.gumbel != nullptr; }));
  const Panel p(x0, kTitleHeight, nice_ticks(xr.lo, xr.hi), false,
                nice_ticks(0, std::max(yr.hi * 1.05 * labels, 0.0)), "clip-a");
  p.frame(s, "Histogram and fitted densities", value, "density");
  p.begin_clip(s);

  std::string d;
  for (std::size_t g = 0; g < bars.heights.size(); ++g) {
    if (!(bars.heights[g] > 0)) continue;
    const double left = p.x.map(bars.left + static_cast<double>(g) * bars.width);
    const double right = p.x.map(bars.left + static_cast<double>(g + 1) * bars.width);
    const double base = p.y.map(0), height = p.y.map(bars.heights[g]);
    if (!std::isfinite(left) || !std::isfinite(right) || !std::isfinite(height)) continue;
    append(d, "M", px(left), " ", px(base), "V", px(height), "H", px(right), "V", px(base), "Z");
  }
  // Outlines only where the bars are wide enough for them to show.
  const bool outlined = bars.width * (p.x.p1 - p.x.p0) / (p.x.ticks.hi - p.x.ticks.lo) > 3;
  s.path(d, outlined ? "fill=\"#cfd8e3\" stroke=\"#8c9bb0\" stroke-width=\"0.6\""
                     : "fill=\"#cfd8e3\" stroke=\"none\"");

  for (auto it = methods.rbegin(); it != methods.rend(); ++it) {  // the headline on top
    const Method& me = *it;
    if (!me.ok) continue;
    std::vector<std::pair<double, double>> curve;
    for (int i = 0; i <= kCurvePoints; ++i) {
      const double x = p.x.ticks.lo + (p.x.ticks.hi - p.x.ticks.lo) * i / kCurvePoints;
      curve.push_back(p.at(x, density(me, x)));
    }
    s.polyline(curve, curve_style(me));
  }
  Panel::end_clip(s);

  // DPA_CUT lines, each labelled on a row of its own at the top of the panel,
  // beside its line on the side with room.
  double row = p.top() + 14;
  for (const Method& me : methods) {
    if (!me.gumbel) continue;
    const double cut = me.quantile->value;
    const double x = p.x.map(cut);
    if (!std::isfinite(cut) || !(x >= p.left() && x <= p.right())) continue;
    s.line(x, row + 3, x, p.bottom(),
           stroke(me.colour, me.headline ? 1.6 : 1, "stroke-dasharray=\"6 4\""));
    const std::string label = concat("DPA_CUT ", me.name, " ", format_number(cut));
    const bool left_side = x > (p.left() + p.right()) / 2;
    const std::string at = concat("font-size=\"11\" text-anchor=\"", left_side ? "end" : "start",
                                  "\"");
    const double tx = left_side ? x - 4 : x + 4;
    s.text(tx, row, label, concat(at, kHalo));
    s.text(tx, row, label, concat(at, " fill=\"", me.colour, "\""));
    row += 14;
  }
}


// Observed against fitted quantiles of the headline fit, with the pointwise
// envelope of the order statistics under that fit at the fit's confidence
// (exact, from the Beta law of uniform order statistics); the other methods
// as lines (curves for the GEV) at the same probabilities.
void qq_panel(Svg& s, double x0, const PlotData& data, const std::vector<Method>& methods,
              const std::vector<std::size_t>& kept, const std::string& value, double confidence) {
  const std::size_t n = data.sorted.size();
  const Method* head = !methods.empty() && methods[0].ok ? &methods[0] : nullptr;
  Range r;
  if (n > 0) r.add(data.sorted.front()), r.add(data.sorted.back());
  auto fitted = [&](double y) { return level_at(*head, y); };
  if (head && n > 0) {
    r.extend(fitted(reduced(position(0, n))), 0.25);
    r.extend(fitted(reduced(position(n - 1, n))), 0.25);
  }
  if (r.empty()) r.add(0), r.add(1);
  const Ticks t = r.ticks();
  const Panel p(x0, kTitleHeight, t, false, t, "clip-b");
  const std::string head_name = head ? concat(" (", head->name, ")") : std::string();
  p.frame(s, concat("Q-Q plot with ", percent(confidence), " envelope"),
          concat("fitted ", value, head_name), concat("observed ", value));
  p.begin_clip(s);
  if (head && n > 0) {
    std::vector<std::pair<double, double>> lower, upper;
    for (std::size_t i : kept) {
      const double x = fitted(reduced(position(i, n)));
      lower.push_back(p.at(x, fitted(reduced(uniform_order_quantile(i, n, (1 - confidence) / 2)))));
      upper.push_back(p.at(x, fitted(reduced(uniform_order_quantile(i, n, (1 + confidence) / 2)))));
    }
    band_polygon(s, lower, upper, head->colour);
  }
  for (auto it = methods.rbegin(); it != methods.rend(); ++it) {
    const Method& me = *it;
    if (!head || !me.ok) continue;
    // At the same probability: x = a_h + b_h y, the method's quantile at y.
    std::vector<std::pair<double, double>> curve;
    const int points = me.gumbel ? 1 : kCurvePoints;
    for (int i = 0; i <= points; ++i) {
      const double x = t.lo + (t.hi - t.lo) * i / points;
      curve.push_back(p.at(x, level_at(me, (x - head->d.loc) / head->d.scale)));
    }
    s.polyline(curve, curve_style(me));
  }
  std::vector<std::pair<double, double>> points;
  if (head) {
    for (std::size_t i : kept) points.push_back(p.at(fitted(reduced(position(i, n))), data.sorted[i]));
  }
  dots(s, points);
  Panel::end_clip(s);
}

// The band of a method's profile-likelihood intervals across its return
// periods; a bound that does not exist runs off the panel.
void profile_band(Svg& s, const Panel& p, const Method& me) {
  std::vector<std::pair<double, double>> lower, upper;
  const double above = p.top() - 20, below = p.bottom() + 20;
  for (const ReturnLevel& rl : *me.levels) {
    if (!rl.level.profile || !std::isfinite(rl.period)) continue;
    const double x = p.x.map(reduced_of_period(rl.period));
    const ProfileInterval& pi = *rl.level.profile;
    auto y = [&](const ProfileLimit& l, double missing) {
      return l.reason.empty() && std::isfinite(l.value) ? p.y.map(l.value) : missing;
    };
    lower.emplace_back(x, y(pi.lower, below));
    upper.emplace_back(x, y(pi.upper, above));
  }
  band_polygon(s, lower, upper, me.colour);
}

// Return levels against the Gumbel reduced variate -ln(-ln(1 - 1/T)), on
// which a Gumbel fit is a straight line, labelled in return periods T. The
// headline method's band: its profile-likelihood intervals when it has them,
// else the delta-method band; the GEV mle's profile band too when drawn.
void return_level_panel(Svg& s, double x0, const PlotData& data, const std::vector<Method>& methods,
                        const std::vector<std::size_t>& kept, const std::string& value,
                        double confidence) {
  const std::size_t n = data.sorted.size();
  const Method* head = !methods.empty() && methods[0].ok ? &methods[0] : nullptr;
  const double z = dist::normal_two_sided(confidence);
  double largest = 0;
  for (const Method& me : methods) {
    for (const ReturnLevel& rl : *me.levels) {
      if (std::isfinite(rl.period) && rl.period > largest) largest = std::min(rl.period, 1e12);
    }
  }
  if (!(largest > 1.1)) largest = 1000;
  if (n > 0) largest = std::max(largest, 1 / (1 - position(n - 1, n)));
  const double t_hi = nice_ceiling(largest);
  double y_lo = reduced_of_period(1.1);
  if (n > 0) y_lo = std::min(y_lo, reduced(position(0, n)));
  const double y_hi = reduced_of_period(t_hi);

  Range vr;
  if (n > 0) vr.add(data.sorted.front()), vr.add(data.sorted.back());
  for (const Method& me : methods) {
    if (!me.ok) continue;
    const double lo = level_at(me, y_lo), hi = level_at(me, y_hi);
    if (vr.empty()) vr.add(lo), vr.add(hi);
    vr.extend(lo, 0.25);
    vr.extend(hi, 0.5);
  }
  if (head && has_band(*head)) vr.extend(level_at(*head, y_hi) + band(*head->gumbel, y_hi, z), 0.5);
  // The --level value, with each method's return period of it.
  double level = kUndefined;
  for (const Method& me : methods) {
    if (me.level) level = *me.level;
  }
  if (vr.empty()) vr.add(level);
  vr.extend(level, 0.5);
  if (vr.empty()) vr.add(0), vr.add(1);

  Ticks xt;
  xt.lo = y_lo;
  xt.hi = y_hi;
  std::vector<std::string> names;
  for (double decade = 1; decade <= t_hi * 1.0001; decade *= 10) {
    for (double f : {1.0, 2.0, 5.0}) {
      const double period = f * decade;
      if (period < 2 || period > t_hi * 1.0001) continue;
      // Labels 2-5-10 over few decades, only the decades over many.
      if (f != 1 && t_hi > 1e4) continue;
      xt.values.push_back(reduced_of_period(period));
      names.push_back(format_number(period, 6, ""));
    }
  }
  Panel p(x0, kTitleHeight, std::move(xt), false, vr.ticks(), "clip-c");
  p.x.names = std::move(names);
  p.frame(s, "Return levels", "return period T (Gumbel reduced-variate scale)",
          concat("return ", value));
  p.begin_clip(s);

  if (head && has_profile(*head)) {
    profile_band(s, p, *head);
  } else if (head && has_band(*head)) {
    std::vector<std::pair<double, double>> lower, upper;
    for (int i = 0; i <= kCurvePoints / 4; ++i) {
      const double y = y_lo + (y_hi - y_lo) * i / (kCurvePoints / 4);
      const double q = level_at(*head, y), h = band(*head->gumbel, y, z);
      lower.push_back(p.at(y, q - h));
      upper.push_back(p.at(y, q + h));
    }
    band_polygon(s, lower, upper, head->colour);
  }
  for (const Method& me : methods) {
    if (!me.gumbel && !me.headline && has_profile(me)) profile_band(s, p, me);
  }
  for (auto it = methods.rbegin(); it != methods.rend(); ++it) {
    const Method& me = *it;
    if (!me.ok) continue;
    std::vector<std::pair<double, double>> curve;
    const int points = me.gumbel ? 1 : kCurvePoints;
    for (int i = 0; i <= points; ++i) {
      const double y = y_lo + (y_hi - y_lo) * i / points;
      curve.push_back(p.at(y, level_at(me, y)));
    }
    s.polyline(curve, curve_style(me));
  }
  std::vector<std::pair<double, double>> points;
  for (std::size_t i : kept) points.push_back(p.at(reduced(position(i, n)), data.sorted[i]));
  dots(s, points);
  const double ly = p.y.map(level);
  // The label's lines: a new one before an entry would make a line too long
  // for the panel.
  std::vector<std::string> label;
  if (std::isfinite(level)) {
    s.line(p.left(), ly, p.right(), ly, stroke("#666", 1, "stroke-dasharray=\"2 3\""));
    label.push_back(concat("level ", format_number(level), ": T ="));
    for (const Method& me : methods) {
      if (!me.level) continue;
      const double t = me.level_period;
      const std::string entry = concat(" ", format_number(t), " (", me.name, ")");
      if (label.back().size() + entry.size() > kLevelLabelChars && label.back().back() == ')')
        label.push_back(" ");
      label.back() += entry;
      const auto [cx, cy] = p.at(reduced_of_period(t), level);
      if (std::isfinite(cx) && std::isfinite(cy)) {
        append(s.out, "<circle cx=\"", px(cx), "\" cy=\"", px(cy), "\" r=\"4\" fill=\"", me.colour,
               "\" stroke=\"#fff\"/>\n");
      }
    }
  }
  Panel::end_clip(s);
  if (std::isfinite(ly) && ly >= p.top() && ly <= p.bottom() && !label.empty()) {
    // Above the level's line where there is room for every line, else below it.
    const double rows = static_cast<double>(label.size());
    const bool above = ly > p.top() + 14 * rows;
    for (std::size_t k = 0; k < label.size(); ++k) {
      const double y = above ? ly - 5 - 13 * (rows - 1 - static_cast<double>(k)) : ly + 14 + 13 * static_cast<double>(k);
      s.text(p.left() + 6, y, label[k], concat("font-size=\"11\"", kHalo));
      s.text(p.left() + 6, y, label[k], "font-size=\"11\"");
    }
  }
}

// Lays out legend entries left to right, wrapping to a new row before an
// entry would pass the right margin.
class LegendFlow {
 public:
  explicit LegendFlow(double top) : y_(top) {}
  // The left edge of an entry `width` pixels wide, after the rows it wrapped.
  double place(double width) {
    if (x_ > kLeft && x_ + width > kWidth - kRight) x_ = kLeft, y_ += kLegendRow;
    const double at = x_;
    x_ += width + 30;
    return at;
  }
  double y() const { return y_; }
  void new_row() {
    if (x_ > kLeft) x_ = kLeft, y_ += kLegendRow;
  }

 private:
  double x_ = kLeft, y_;
};

double label_width(const std::string& label) {
  return 7.2 * static_cast<double>(label.size());
}

// The legend below the panels: the fits with their parameters first, the
// other marks after them. Returns the baseline of its last row.
double legend(Svg& s, const std::vector<Method>& methods, double prob, double confidence) {
  LegendFlow flow(kTitleHeight + kPanelHeight + 16);
  for (const Method& me : methods) {
    std::string label = concat(me.name, me.headline ? " (headline)" : "", ": ");
    if (me.gumbel) {
      append(label, "a = ", format_number(me.d.loc), ", b = ", format_number(me.d.scale));
    } else {
      append(label, "loc ", format_number(me.d.loc), ", scale ", format_number(me.d.scale),
             ", shape ", format_number(me.d.shape, 3));
    }
    const double x = flow.place(36 + label_width(label)), y = flow.y();
    s.line(x, y - 4, x + 28, y - 4, curve_style(me));
    s.text(x + 36, y, label, me.headline ? "font-weight=\"bold\"" : "");
  }
  flow.new_row();
  auto entry = [&](const std::string& label) {
    const double x = flow.place(36 + label_width(label));
    s.text(x + 36, flow.y(), label);
    return std::pair{x, flow.y()};
  };
  auto [hx, hy] = entry("histogram (Freedman-Diaconis bins)");
  append(s.out, "<rect x=\"", px(hx), "\" y=\"", px(hy - 12),
         "\" width=\"28\" height=\"12\" fill=\"#cfd8e3\" stroke=\"#8c9bb0\"/>\n");
  auto [ox, oy] = entry("observations, F = (i - 0.44)/(n + 0.12)");
  s.path(concat("M", px(ox + 14), " ", px(oy - 5), "h0"),
         "stroke=\"#444\" stroke-width=\"5\" stroke-linecap=\"round\"");
  auto [dx, dy] = entry(concat("DPA_CUT at p = ", format_number(prob)));
  s.line(dx, dy - 12, dx, dy + 2, stroke("#333", 1.4, "stroke-dasharray=\"6 4\""));
  s.line(dx + 14, dy - 12, dx + 14, dy + 2, stroke("#333", 1.4, "stroke-dasharray=\"6 4\""));
  for (const Method& me : methods) {
    const bool head = &me == &methods.front();
    if (!me.ok || !(head || has_profile(me))) continue;
    const std::string bands =
        has_profile(me)  ? "profile-likelihood band at the periods (levels)"
        : has_band(me)   ? "delta-method band (levels)"
                         : "";
    const std::string label =
        concat(me.name, " ", percent(confidence), ": ", head ? "envelope (Q-Q)" : "",
               head && !bands.empty() ? ", " : "", bands);
    auto [x, y] = entry(label);
    append(s.out, "<rect x=\"", px(x), "\" y=\"", px(y - 12),
           "\" width=\"28\" height=\"12\" fill=\"", me.colour, "\" fill-opacity=\"0.15\"/>\n");
  }
  return flow.y();
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

double uniform_order_quantile(std::size_t i, std::size_t n, double p) {
  using namespace boost::math::policies;
  using Quiet = policy<domain_error<ignore_error>, overflow_error<ignore_error>,
                       evaluation_error<ignore_error>, pole_error<ignore_error>,
                       rounding_error<ignore_error>>;
  return boost::math::ibeta_inv(static_cast<double>(i + 1), static_cast<double>(n - i), p,
                                Quiet());
}

std::string footer_svg(const std::string& footer, double y, double width) {
  Svg s;
  s.text(16, y + 12, shorten(printable(footer), chars_within(width - 32, 10)), "font-size=\"10\" fill=\"#666\"");
  return s.out;
}

std::string render_svg(const FitResult& r, const PlotData& data, const PictureOptions& options) {
  if (!r.ok) {
    Svg s;
    s.out = header(80);
    s.text(16, 30, shorten(printable(r.file), chars_within(kWidth - 32, 16)),
           "font-size=\"16\" font-weight=\"bold\"");
    s.text(16, 58, shorten(concat("error: ", printable(r.error)), chars_within(kWidth - 32, 12)),
           "fill=\"#b00\"");
    return concat(s.out, "</svg>\n");
  }
  std::vector<Method> methods;
  double prob = kUndefined;
  for (const MethodView& v : ranked_methods(r)) {
    const char* colour = v.name == "mle" ? "#d62728" : v.name == "lmom" ? "#2ca02c" : "#1f77b4";
    methods.push_back(gumbel_method(v.name, colour, *v.fit, false));
    if (std::isfinite(v.fit->prob)) prob = v.fit->prob;
  }
  if (r.gev.mle.present) methods.push_back(gev_method("mle", "#9467bd", r.gev.mle));
  if (r.gev.lmom.present) methods.push_back(gev_method("lmom", "#8c564b", r.gev.lmom));
  // The headline fit leads: drawn bold, on top, with the envelope and band.
  const std::string head = headline_view(r).name;
  const auto lead = std::find_if(methods.begin(), methods.end(),
                                 [&](const Method& me) { return me.name == head; });
  if (lead != methods.end()) {
    lead->headline = true;
    std::rotate(methods.begin(), lead, lead + 1);
  }

  // Peaks over a threshold alone fit no distribution to the raw values
  // (bins 0): only their part is drawn, below the title.
  const bool fitted = r.bins > 0;
  Svg s;
  const std::string title = options.title.empty() ? base_name(r.file) : options.title;
  // Units short enough for the longest axis title to fit its panel.
  const std::string value = options.units.empty()
                                ? std::string("level")
                                : concat("level (", shorten(printable(options.units), 18), ")");
  const std::string counts =
      concat("   (n = ", std::to_string(r.n),
             fitted && r.ls.present ? concat(", bins = ", std::to_string(r.bins), ", cells = ", std::to_string(r.m)) : "", ")");
  s.text(16, 24,
         concat(shorten(printable(title), chars_within(kWidth - 32, 15) - counts.size()), counts),
         "font-size=\"15\" font-weight=\"bold\"");
  double bottom = kTitleHeight;
  if (fitted) {
    const std::vector<std::size_t> kept = thin_indices(data.sorted.size());
    histogram_panel(s, 0, data, methods, value);
    qq_panel(s, kPanelWidth, data, methods, kept, value, r.confidence);
    return_level_panel(s, 2 * kPanelWidth, data, methods, kept, value, r.confidence);
    bottom = legend(s, methods, prob, r.confidence) + kLegendRow;
  }
  if (r.families && fitted) {
    // The sample's (t3, t4) on the L-moment ratio diagram, below the legend.
    const LmomentsRecord& l = r.families->lmoments;
    RatioDiagramOptions diagram;
    diagram.x = (kWidth - diagram.width) / 2;
    diagram.y = bottom;
    diagram.id = "fit-lmrd";
    s.out += lmoment_ratio_diagram_svg({{l.t3, l.t4, "sample", true}}, diagram);
    bottom += diagram.height + kLegendRow;
  }
  s.out += threshold_part_svg(r, bottom, kWidth, options.units);
  double height = bottom + threshold_part_height(r);
  if (r.nonstationary) {
    const NsPicture ns = nonstationary_picture(*r.nonstationary, r.confidence, printable(options.units));
    s.out += nonstationary_part_svg(ns, height, kWidth);
    height += nonstationary_part_height(ns);
  }
  if (!options.footer.empty()) {
    s.out += footer_svg(options.footer, height, kWidth);
    height += kFooterHeight;
  }
  return concat(header(height), s.out, "</svg>\n");
}

}  // namespace korvalinde::cli
