#include "korvalinde/cli/region_render.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "korvalinde/cli/svg.hpp"
#include "korvalinde/cli/svg_lmoments.hpp"
#include "korvalinde/cli/text.hpp"

namespace korvalinde::cli {

namespace {

using Json = nlohmann::ordered_json;

Json number(double v) { return std::isfinite(v) ? Json(v) : Json(nullptr); }

Json quantiles_json(const std::vector<RegionQuantile>& qs) {
  Json a = Json::array();
  for (const RegionQuantile& q : qs) {
    Json j;
    j["period"] = q.period;
    j["value"] = number(q.value);
    j["rmse"] = number(q.rmse);
    j["lower"] = number(q.lower);
    j["upper"] = number(q.upper);
    a.push_back(std::move(j));
  }
  return a;
}

Json triple(const std::array<double, 3>& v) { return Json::array({number(v[0]), number(v[1]), number(v[2])}); }

// Right-aligned in a field of `w` characters.
std::string pad(const std::string& s, std::size_t w) { return s.size() >= w ? s : std::string(w - s.size(), ' ') + s; }
std::string left(const std::string& s, std::size_t w) { return s.size() >= w ? s : s + std::string(w - s.size(), ' '); }

std::string num(double v, int decimals = 4) { return std::isfinite(v) ? format_fixed(v, decimals) : "-"; }

const char* reading(double h) {
  if (!std::isfinite(h)) return "undefined";
  if (h < 1) return "acceptably homogeneous";
  if (h < 2) return "possibly heterogeneous";
  return "definitely heterogeneous";
}

std::string upper_name(const std::string& family) {
  std::string s = family;
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s == "WAKEBY" ? "Wakeby" : s;
}

std::string period_text(double t) { return format_number(t, 6) + " yr"; }

}  // namespace

Json region_json(const RegionResult& r) {
  Json j;
  Json sites = Json::array();
  for (const RegionSite& s : r.sites) {
    Json o;
    o["site"] = s.name;
    o["n"] = s.n;
    o["mean"] = number(s.mean);
    o["t"] = number(s.t);
    o["t3"] = number(s.t3);
    o["t4"] = number(s.t4);
    o["t5"] = number(s.t5);
    o["D"] = number(s.D);
    o["discordant"] = s.discordant;
    sites.push_back(std::move(o));
  }
  j["sites"] = std::move(sites);
  j["left_out"] = r.left_out;
  j["D_critical"] = number(r.D_critical);
  j["regional"] = {{"t", number(r.t)}, {"t3", number(r.t3)}, {"t4", number(r.t4)}, {"t5", number(r.t5)}};
  if (r.kappa_fitted) {
    j["kappa"] = {{"loc", r.kappa_loc}, {"scale", r.kappa_scale}, {"k", r.kappa_k}, {"h", r.kappa_h}};
  } else {
    j["kappa"] = nullptr;
  }
  j["kappa_fallback"] = r.kappa_fallback.empty() ? Json(nullptr) : Json(r.kappa_fallback);
  j["heterogeneity"] = {{"V", triple(r.V)},           {"sim_mean", triple(r.sim_mean)},
                        {"sim_sd", triple(r.sim_sd)}, {"H", triple(r.H)},
                        {"nsim", r.nsim}};
  Json good = Json::object();
  for (const RegionGoodness& g : r.goodness)
    good[g.family] = {{"tau4", number(g.tau4)}, {"Z", number(g.Z)}, {"accepted", g.accepted}};
  j["goodness"] = {{"B4", number(r.B4)}, {"sigma4", number(r.sigma4)}};
  for (auto& [k, v] : good.items()) j["goodness"][k] = v;
  j["chosen"] = r.chosen.empty() ? Json(nullptr) : Json(r.chosen);
  Json growth = Json::object();
  for (const RegionGrowth& g : r.growth) {
    Json params = Json::object();
    for (const auto& [name, v] : g.params) params[name] = number(v);
    growth[g.family] = {{"params", std::move(params)}, {"quantiles", quantiles_json(g.quantiles)}};
  }
  j["growth"] = std::move(growth);
  Json at = Json::array();
  for (const RegionAtSite& a : r.at_site) at.push_back({{"site", a.site}, {"quantiles", quantiles_json(a.quantiles)}});
  j["at_site"] = std::move(at);
  j["accuracy"] = {{"nsim", r.accuracy_nsim}, {"failed", r.accuracy_failed}, {"correlation", r.correlation}};
  j["warnings"] = r.warnings;
  return j;
}

std::string region_report(const RegionResult& r, const RunMeta* run, std::span<const InputMeta> inputs) {
  std::string out;
  if (run != nullptr) append(out, meta_text(*run), inputs_text(inputs), "\n");
  std::size_t wname = 4;
  for (const RegionSite& s : r.sites) wname = std::max(wname, printable(s.name).size());
  append(out, "Regional frequency analysis of ", std::to_string(r.sites.size()), " site",
         r.sites.size() == 1 ? "" : "s", "\n");
  for (const std::string& s : r.left_out) append(out, "  left out (too short): ", printable(s), "\n");
  append(out, "\n", left("site", wname), "      n        mean       t      t3      t4      t5       D\n");
  for (const RegionSite& s : r.sites) {
    append(out, left(printable(s.name), wname), pad(std::to_string(s.n), 7), pad(format_number(s.mean, 6), 12),
           pad(num(s.t), 8), pad(num(s.t3), 8), pad(num(s.t4), 8), pad(num(s.t5), 8), pad(num(s.D, 2), 8),
           s.discordant ? "  discordant" : "", "\n");
  }
  append(out, left("region", wname), pad("", 19), pad(num(r.t), 8), pad(num(r.t3), 8), pad(num(r.t4), 8),
         pad(num(r.t5), 8), "\n");
  if (std::isfinite(r.D_critical)) {
    std::string flagged;
    for (const RegionSite& s : r.sites)
      if (s.discordant) flagged += (flagged.empty() ? "" : ", ") + printable(s.name);
    append(out, "Discordancy: critical value ", format_fixed(r.D_critical, 3), "; ",
           flagged.empty() ? "no site is discordant" : "discordant: " + flagged, "\n");
  } else {
    append(out, "Discordancy: undefined for fewer than 4 sites\n");
  }
  if (r.kappa_fitted) {
    append(out, "\nKappa of the regional ratios: loc ", num(r.kappa_loc), ", scale ", num(r.kappa_scale), ", k ",
           num(r.kappa_k), ", h ", num(r.kappa_h), "\n");
  } else if (r.kappa_fallback == "glo") {
    append(out, "\nThe regional ratios lie above the GLO line: regions simulated from the GLO\n");
  }
  if (r.nsim > 0) {
    append(out, "\nHeterogeneity (", std::to_string(r.nsim), " simulated regions)\n");
    append(out, "          V   sim mean    sim sd       H\n");
    for (int j = 0; j < 3; ++j)
      append(out, "  H", std::to_string(j + 1), pad(num(r.V[j]), 9), pad(num(r.sim_mean[j]), 11),
             pad(num(r.sim_sd[j]), 10), pad(num(r.H[j], 2), 8), "  ", reading(r.H[j]), "\n");
    append(out, "\nGoodness of fit (B4 ", num(r.B4), ", sigma4 ", num(r.sigma4), ")\n");
    append(out, "  family    tau4       Z\n");
    for (const RegionGoodness& g : r.goodness)
      append(out, "  ", left(upper_name(g.family), 6), pad(num(g.tau4), 8), pad(num(g.Z, 2), 8),
             g.accepted ? "  accepted" : "", g.family == r.chosen ? "  chosen" : "", "\n");
  }
  for (const RegionGrowth& g : r.growth) {
    append(out, "\nGrowth curve ", upper_name(g.family), g.family == r.chosen ? " (chosen):" : ":");
    for (const auto& [name, v] : g.params) append(out, " ", name, " ", num(v));
    append(out, "\n  period       value");
    const bool bounds = !g.quantiles.empty() && std::isfinite(g.quantiles[0].rmse);
    if (bounds) append(out, "    rmse   90% bounds");
    append(out, "\n");
    for (const RegionQuantile& q : g.quantiles) {
      append(out, pad(period_text(q.period), 9), pad(num(q.value), 12));
      if (bounds) append(out, pad(num(q.rmse, 3), 8), "   ", num(q.lower), " to ", num(q.upper));
      append(out, "\n");
    }
  }
  if (!r.at_site.empty()) {
    append(out, "\nAt-site quantiles (site mean x the ", upper_name(r.chosen), " growth curve)\n");
    append(out, left("site", wname));
    for (const RegionQuantile& q : r.at_site[0].quantiles) append(out, pad(period_text(q.period), 12));
    append(out, "\n");
    for (const RegionAtSite& a : r.at_site) {
      append(out, left(printable(a.site), wname));
      for (const RegionQuantile& q : a.quantiles) append(out, pad(format_number(q.value, 6), 12));
      append(out, "\n");
      if (!a.quantiles.empty() && std::isfinite(a.quantiles[0].lower)) {
        append(out, left("  90%", wname));
        for (const RegionQuantile& q : a.quantiles)
          append(out, pad(format_number(q.lower, 4) + "-" + format_number(q.upper, 4), 12));
        append(out, "\n");
      }
    }
    if (r.accuracy_nsim > 0)
      append(out, "Accuracy: ", std::to_string(r.accuracy_nsim), " simulated regions, correlation ",
             format_number(r.correlation, 4),
             r.accuracy_failed ? ", " + std::to_string(r.accuracy_failed) + " not refitted and left out" : "",
             "\n");
  }
  if (!r.warnings.empty()) append(out, "\n");
  for (const std::string& w : r.warnings) append(out, "warning: ", w, "\n");
  return out;
}

namespace {

// A chart of 560 x 360 with its axes: maps data to pixels.
struct Chart {
  Ticks x, y;
  static constexpr double kLeft = 60, kTop = 20, kWidth = 480, kHeight = 300;
  double px(double v) const { return kLeft + (v - x.lo) / (x.hi - x.lo) * kWidth; }
  double py(double v) const { return kTop + kHeight - (v - y.lo) / (y.hi - y.lo) * kHeight; }
  bool inside(double a, double b) const { return a >= x.lo && a <= x.hi && b >= y.lo && b <= y.hi; }
};

std::string f1(double v) { return format_fixed(v, 1); }

std::string chart_open(const Chart& c, const std::string& xlabel, const std::string& ylabel) {
  std::string s = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"600\" height=\"380\" font-size=\"11\">\n";
  append(s, "<rect x=\"60\" y=\"20\" width=\"480\" height=\"300\" fill=\"none\" stroke=\"#444\"/>\n");
  for (double v : c.x.values)
    append(s, "<text x=\"", f1(c.px(v)), "\" y=\"335\" text-anchor=\"middle\">", format_number(v, 4), "</text>\n");
  for (double v : c.y.values)
    append(s, "<text x=\"55\" y=\"", f1(c.py(v) + 4), "\" text-anchor=\"end\">", format_number(v, 4), "</text>\n");
  append(s, "<text x=\"300\" y=\"355\" text-anchor=\"middle\">", xlabel, "</text>\n");
  append(s, "<text x=\"14\" y=\"170\" transform=\"rotate(-90 14 170)\" text-anchor=\"middle\">", ylabel,
         "</text>\n");
  return s;
}

// A polyline through the points inside the chart, broken where one is not.
std::string polyline(const Chart& c, const std::vector<double>& xs, const std::vector<double>& ys,
                     const std::string& style) {
  std::string s, points;
  auto flush = [&] {
    if (!points.empty())
      append(s, "<polyline fill=\"none\" ", style, " points=\"", points, "\"/>\n");
    points.clear();
  };
  for (std::size_t i = 0; i < xs.size(); ++i) {
    if (std::isfinite(xs[i]) && std::isfinite(ys[i]) && c.inside(xs[i], ys[i])) {
      append(points, points.empty() ? "" : " ", f1(c.px(xs[i])), ",", f1(c.py(ys[i])));
    } else {
      flush();
    }
  }
  flush();
  return s;
}

constexpr const char* kColours[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#9467bd", "#8c564b", "#7f7f7f"};

// Growth against the Gumbel reduced variate -ln(-ln(1 - 1/T)).
std::string growth_chart(const RegionResult& r) {
  double lo = 1e300, hi = -1e300, ylo = 1e300, yhi = -1e300;
  auto reduced = [](double t) { return -std::log(-std::log1p(-1 / t)); };
  for (const RegionGrowth& g : r.growth) {
    for (const RegionQuantile& q : g.quantiles) {
      lo = std::min(lo, reduced(q.period)), hi = std::max(hi, reduced(q.period));
      for (double v : {q.value, q.lower, q.upper})
        if (std::isfinite(v)) ylo = std::min(ylo, v), yhi = std::max(yhi, v);
    }
  }
  if (!(lo < hi) || !(ylo < yhi)) return "";
  Chart c{nice_ticks(lo, hi), nice_ticks(ylo, yhi)};
  std::string s = chart_open(c, "Gumbel reduced variate -ln(-ln(1 - 1/T))", "growth (quantile / site mean)");
  for (std::size_t i = 0; i < r.growth.size(); ++i) {
    const RegionGrowth& g = r.growth[i];
    std::vector<double> xs, ys, lower, upper;
    for (const RegionQuantile& q : g.quantiles) {
      xs.push_back(reduced(q.period));
      ys.push_back(q.value);
      lower.push_back(q.lower);
      upper.push_back(q.upper);
    }
    const char* colour = kColours[std::min<std::size_t>(i, 5)];
    append(s, polyline(c, xs, ys, concat("stroke=\"", colour, "\"", g.family == r.chosen ? " stroke-width=\"2.5\"" : "")));
    if (g.family == r.chosen) {
      for (const auto* b : {&lower, &upper})
        append(s, polyline(c, xs, *b, concat("stroke=\"", colour, "\" stroke-dasharray=\"4 3\"")));
    }
    append(s, "<text x=\"70\" y=\"", f1(35 + 14 * static_cast<double>(i)), "\" fill=\"", colour, "\">",
           upper_name(g.family), g.family == r.chosen ? " (chosen)" : "", "</text>\n");
  }
  return s + "</svg>\n";
}

}  // namespace

std::string region_html(const RegionResult& r, const RunMeta* run, std::span<const InputMeta> inputs) {
  std::string s =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Regional frequency "
      "analysis</title>\n<style>body{font-family:sans-serif;margin:2em}table{border-collapse:collapse}"
      "td,th{padding:2px 8px;text-align:right}th{border-bottom:1px solid #444}.bad{color:#d62728}"
      "pre{background:#f6f6f6;padding:1em}</style></head><body>\n<h1>Regional frequency analysis</h1>\n";
  std::vector<RatioPoint> points;
  for (const RegionSite& site : r.sites) points.push_back({site.t3, site.t4, site.name, false});
  points.push_back({r.t3, r.t4, "regional average", true});
  RatioDiagramOptions diagram;
  diagram.document = true;
  const std::string svg = lmoment_ratio_diagram_svg(points, diagram);
  append(s, "<h2>L-moment ratio diagram</h2>\n", svg.substr(std::min(svg.find("<svg"), svg.size())));
  append(s, "<h2>Growth curves</h2>\n", growth_chart(r));
  append(s, "<h2>Report</h2>\n<pre>", escape_xml(region_report(r, run, inputs)), "</pre>\n</body></html>\n");
  return s;
}

}  // namespace korvalinde::cli
