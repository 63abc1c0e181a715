#include "korvalinde/cli/html.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "korvalinde/cli/report.hpp"
#include "korvalinde/cli/text.hpp"

namespace korvalinde::cli {

std::string inline_svg(const std::string& svg) {
  const std::size_t start = svg.find("<svg");
  return start == std::string::npos ? std::string() : svg.substr(start);
}

// Text of several lines made safe for HTML, its line ends kept.
std::string escape_lines(std::string_view text) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    append(out, escape_xml(text.substr(at, end - at)), end < text.size() ? "\n" : "");
    at = end + 1;
  }
  return out;
}

namespace {

std::string num(double v) { return format_number(v, 6); }

std::string cell(std::string_view text, std::string_view cls = {}) {
  return concat(cls.empty() ? "<td>" : concat("<td class=\"", cls, "\">"), text, "</td>");
}

// A value over its interval (which may wrap below it in a narrow column).
std::string over(const std::string& value, const std::string& interval) {
  return concat(value, "<br><span class=\"ci\">", interval, "</span>");
}

// The periods of the first successful file, for the summary's columns.
std::vector<double> summary_periods(std::span<const HtmlSection> sections) {
  for (const HtmlSection& s : sections) {
    if (!s.result.ok) continue;
    std::vector<double> periods;
    if (const FitView h = headline_view(s.result); !h.name.empty()) {
      for (const ReturnLevel& rl : h.levels()) periods.push_back(rl.period);
    } else if (s.result.pot) {
      for (const PotLevel& l : s.result.pot->mle.ok ? s.result.pot->mle.return_levels
                                                   : s.result.pot->lmom.return_levels)
        periods.push_back(l.period);
    }
    if (!periods.empty()) return periods;
  }
  return {};
}

// The fit's name in a cell: the family and the method.
std::string fit_name(const FitView& h) {
  if (h.family) {
    const std::size_t space = h.name.find(' ');
    return concat(family_name(h.name.substr(0, space)), " ", h.name.substr(space + 1));
  }
  return h.gev ? concat("GEV ", h.name.substr(4)) : concat("Gumbel ", h.name);
}

std::string parameters(const FitView& h) {
  if (h.gumbel) return concat("a ", num(h.gumbel->a), "<br>b ", num(h.gumbel->b));
  if (h.family) {
    std::string out;
    for (const FamilyParameter& p : h.family->params)
      append(out, out.empty() ? "" : "<br>", p.name, " ", num(p.value));
    return out;
  }
  return concat("loc ", num(h.gev->loc), "<br>scale ", num(h.gev->scale), "<br>shape ",
                format_number(h.gev->shape, 3));
}

// The summary's cells of a peaks-over-threshold fit: its first GPD method
// with a result, its levels with their profile intervals where they exist.
std::string pot_cells(const PotResult& p, const std::vector<double>& periods) {
  const GpdResult& g = p.mle.ok ? p.mle : p.lmom;
  std::string out = cell(concat("POT, GPD ", &g == &p.mle ? "mle" : "lmom", "<br>u ", num(p.threshold)));
  if (!g.ok) return concat(out, "<td class=\"error\" colspan=\"", std::to_string(periods.size() + 6),
                           "\">", escape_xml(g.error), "</td>");
  append(out, cell(concat("scale ", num(g.scale), "<br>shape ", format_number(g.shape, 3)), "num"));
  for (double t : periods) {
    const auto l = std::find_if(g.return_levels.begin(), g.return_levels.end(),
                                [&](const PotLevel& x) { return x.period == t; });
    if (l == g.return_levels.end()) {
      append(out, cell("-", "num"));
      continue;
    }
    const bool profile = std::isfinite(l->profile.lower) || std::isfinite(l->profile.upper);
    const Interval i = profile ? l->profile : Interval{l->level.lower, l->level.upper};
    append(out, cell(over(num(l->level.value), concat("[", num(i.lower), ", ", num(i.upper), "]")), "num"));
  }
  for (int k = 0; k < 5; ++k) append(out, cell("-", "num"));  // no p-values, no GEV check
  return out;
}

// The GEV shape and the likelihood-ratio p-value of the Gumbel check.
std::string gev_check(const GumbelTestResult& t) {
  if (!t.present) return "-";
  if (!t.error.empty()) return escape_xml(t.error);
  return concat("shape ", format_number(t.shape.value, 3), ", p ", format_number(t.p, 2));
}

// The file's name, with its group's in brackets for a grouped record.
std::string section_name(const FitResult& r) {
  return r.dated && r.dated->grouped ? concat(r.file, " [", r.dated->group, "]") : r.file;
}


std::string anchor(std::size_t i) { return "file-" + std::to_string(i + 1); }

constexpr const char* kStyle = R"(
body{font-family:sans-serif;margin:1.5em;color:#222;max-width:1240px}
table{border-collapse:collapse;margin:0.5em 0 1.5em;font-size:0.85em}
th,td{border:1px solid #ccc;padding:0.2em 0.35em;text-align:left;vertical-align:top}
th{background:#eef1f5}
td:first-child{overflow-wrap:anywhere;min-width:7em}
td.num{text-align:right}
.scroll{max-width:100%;overflow-x:auto}
.ci{font-size:0.85em;color:#555}
td.error{color:#b00}
pre{background:#f7f7f7;padding:0.6em;overflow-x:auto;font-size:0.85em}
svg{max-width:100%;height:auto;display:block}
dt{font-weight:bold;margin-top:0.4em}
)";

constexpr const char* kExplanation = R"(<section id="quantities">
<h2>What the numbers mean</h2>
<dl>
<dt>file</dt><dd>The input, with its group in brackets for a record read by groups (--by).</dd>
<dt>n</dt><dd>The number of values fitted from the file.</dd>
<dt>Gumbel</dt><dd>The extreme-value distribution of type I, F(x) = exp(-exp(-(x - a)/b)).</dd>
<dt>GEV</dt><dd>The generalized extreme-value distribution, F(x) = exp(-(1 + &xi; (x -
&mu;)/&sigma;)<sup>-1/&xi;</sup>), the Gumbel at &xi; = 0.</dd>
<dt>POT, GPD, u</dt><dd>Peaks over threshold: the exceedances of the threshold u (declustered
into clusters, --run) follow the generalized Pareto distribution (GPD) of the excess over u,
its scale and shape as the GEV's; their rate per year turns its quantiles into return
levels.</dd>
<dt>a, b</dt><dd>Location and scale of the fitted Gumbel distribution, with their standard
errors (&plusmn;).</dd>
<dt>loc, scale, shape</dt><dd>Location &mu;, scale &sigma; and shape &xi; of the fitted GEV (scale
and shape also of the GPD): &xi; &gt; 0 is a heavier tail, &xi; &lt; 0 a bounded one.</dd>
<dt>mle, lmom, ls</dt><dd>The methods: maximum likelihood, L-moments, and the least-squares
fit of the histogram (on request, --methods ls), which depends on the number of bins.</dd>
<dt>headline, parameters</dt><dd>The family and method whose numbers lead, and their
parameters: the families in the order --dist gives them (the GEV first when the Gumbel check
rejects the Gumbel), maximum likelihood when it ran, else L-moments, else ls.</dd>
<dt>level T, return level</dt><dd>The level exceeded on average once in T periods (years for
annual maxima), with its interval at the chosen confidence (--confidence, 95% by default):
profile likelihood where maximum likelihood has one, else from the standard errors
(delta).</dd>
<dt>DPA_CUT</dt><dd>The quantile of the chosen probability p (0.99 by default): the level not
exceeded with probability p.</dd>
<dt>KS p, CvM p, AD p</dt><dd>p-values of the Kolmogorov-Smirnov (D), Cram&eacute;r-von Mises
(W&sup2;) and Anderson-Darling (A&sup2;) statistics: by parametric bootstrap, which allows for
the estimated parameters, or (--gof-p asymptotic) from the limit laws of known parameters,
which run high; a small p-value (below 0.05, say) speaks against the fitted family.</dd>
<dt>chi2 p</dt><dd>p-value of the binned chi-square test on the histogram cells.</dd>
<dt>GEV check, p</dt><dd>The shape &xi; of the generalized extreme-value distribution fitted by
maximum likelihood, with its profile-likelihood interval, and the p-value p of the
likelihood-ratio test of &xi; = 0 (the Gumbel distribution, 1 degree of freedom): a small
p-value says the Gumbel tail does not fit.</dd>
</dl>
</section>
)";

}  // namespace

std::string html_run_block(const RunMeta& run) {
  std::string options;
  for (const auto& [name, value] : run.options)
    append(options, options.empty() ? "" : " ", name, value.empty() ? "" : " ", value);
  std::string out = "<section id=\"run\">\n<table>\n";
  for (const auto& [key, value] :
       {std::pair<const char*, std::string>{"program", run.version}, {"run (UTC)", run.time},
        {"command", run.command}, {"options", options},
        {"units", run.units.empty() ? std::string("not given (--units)") : run.units}})
    append(out, "<tr><th>", key, "</th><td><code>", escape_xml(value), "</code></td></tr>\n");
  append(out, "</table>\n</section>\n");
  return out;
}

std::string render_html(std::span<const HtmlSection> sections, const RunMeta* run) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<title>korvalinde report</title>\n<style>";
  append(out, kStyle, "</style>\n</head>\n<body>\n<h1>Extreme-value fits</h1>\n");
  if (run != nullptr) append(out, html_run_block(*run));

  const std::vector<double> periods = summary_periods(sections);
  append(out, "<section id=\"summary\">\n<h2>Summary</h2>\n<div class=\"scroll\">\n<table>\n"
              "<tr><th>file</th><th>n</th><th>headline</th><th>parameters</th>");
  for (double t : periods) {
    const std::string unit = sections.empty() ? "" : period_unit(sections[0].result);
    append(out, "<th>level T=", num(t), unit.empty() ? "" : " ", unit, "</th>");
  }
  append(out, "<th>KS p</th><th>CvM p</th><th>AD p</th><th>chi2 p</th><th>GEV check</th></tr>\n");
  const std::size_t columns = 9 + periods.size();
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const FitResult& r = sections[i].result;
    append(out, "<tr>", cell(concat("<a href=\"#", anchor(i), "\">", escape_xml(section_name(r)), "</a>")));
    const FitView h = headline_view(r);
    if (r.ok && h.name.empty() && r.pot) {
      append(out, cell(std::to_string(r.n), "num"), pot_cells(*r.pot, periods), "</tr>\n");
      continue;
    }
    if (!r.ok || h.name.empty()) {
      const std::string why = r.ok ? "no distribution fitted" : escape_xml(r.error);
      append(out, "<td class=\"error\" colspan=\"", std::to_string(columns - 1), "\">", why,
             "</td></tr>\n");
      continue;
    }
    append(out, cell(std::to_string(r.n), "num"), cell(fit_name(h)), cell(parameters(h), "num"));
    const bool nonnegative = nonnegative_levels(r);
    for (double t : periods) {
      const auto rl = std::find_if(h.levels().begin(), h.levels().end(),
                                   [&](const ReturnLevel& x) { return x.period == t; });
      if (rl == h.levels().end() || !std::isfinite(rl->level.value)) {
        append(out, cell("-", "num"));
        continue;
      }
      append(out, cell(over(num(rl->level.value), escape_xml(headline_interval(rl->level, nonnegative))), "num"));
    }
    const Gof& g = h.gof();
    for (double p : {g.ks_p, g.cvm_p, g.ad_p, g.chi2_p}) append(out, cell(format_number(p, 3), "num"));
    append(out, cell(gev_check(r.gumbel_test), "num"), "</tr>\n");
  }
  append(out, "</table>\n</div>\n<p>Levels of the headline fit with their ", 
         format_number(100 * (sections.empty() ? 0.95 : sections[0].result.confidence), 4),
         "% intervals: profile likelihood where the fit has one, else from the standard errors "
         "(a lower bound marked * is below zero: a normal approximation).</p>\n</section>\n");

  for (std::size_t i = 0; i < sections.size(); ++i) {
    const HtmlSection& s = sections[i];
    append(out, "<section id=\"", anchor(i), "\">\n<h2>", escape_xml(section_name(s.result)), "</h2>\n");
    if (run != nullptr) append(out, "<p class=\"input\">", escape_xml(input_text(s.input)), "</p>\n");
    if (s.result.ok) {
      append(out, "<pre>", escape_lines(format_report(s.result)), "</pre>\n", inline_svg(s.svg));
    } else {
      append(out, "<p class=\"error\">", escape_xml(s.result.error), "</p>\n");
    }
    append(out, "</section>\n");
  }
  append(out, kExplanation, "</body>\n</html>\n");
  return out;
}

}  // namespace korvalinde::cli
