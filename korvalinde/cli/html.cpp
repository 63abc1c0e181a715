#include "korvalinde/cli/html.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "korvalinde/cli/report.hpp"
#include "korvalinde/cli/text.hpp"

namespace korvalinde::cli {

namespace {

std::string num(double v) { return format_number(v, 6); }

std::string cell(std::string_view text, std::string_view cls = {}) {
  return concat(cls.empty() ? "<td>" : concat("<td class=\"", cls, "\">"), text, "</td>");
}

std::string with_se(double value, double se) {
  if (!std::isfinite(value)) return "-";
  return concat(num(value), " &plusmn; ", format_number(se, 3, "n/a"));
}

std::string with_interval(const Estimate& e) {
  if (!std::isfinite(e.value)) return "-";
  if (!std::isfinite(e.lower) || !std::isfinite(e.upper)) return num(e.value);
  return concat(num(e.value), " [", num(e.lower), ", ", num(e.upper), "]");
}

// The picture inline: the SVG document without its XML declaration.
std::string inline_svg(const std::string& svg) {
  const std::size_t start = svg.find("<svg");
  return start == std::string::npos ? std::string() : svg.substr(start);
}

// The periods of the first successful file, for the summary's columns.
std::vector<double> summary_periods(std::span<const HtmlSection> sections) {
  for (const HtmlSection& s : sections) {
    const auto methods = ranked_methods(s.result);
    if (!s.result.ok || methods.empty()) continue;
    std::vector<double> periods;
    for (const ReturnLevel& rl : methods[0].fit->return_levels) periods.push_back(rl.period);
    return periods;
  }
  return {};
}

// The GEV shape and the likelihood-ratio p-value of the Gumbel check.
std::string gev_check(const GumbelTestResult& t) {
  if (!t.present) return "-";
  if (!t.error.empty()) return escape_xml(t.error);
  return concat("shape ", format_number(t.shape.value, 3), ", p ", format_number(t.p, 2));
}

std::string anchor(std::size_t i) { return "file-" + std::to_string(i + 1); }

constexpr const char* kStyle = R"(
body{font-family:sans-serif;margin:1.5em;color:#222;max-width:1240px}
table{border-collapse:collapse;margin:0.5em 0 1.5em}
th,td{border:1px solid #ccc;padding:0.25em 0.5em;text-align:left;vertical-align:top}
th{background:#eef1f5}
td.num{text-align:right;white-space:nowrap}
td.error{color:#b00}
pre{background:#f7f7f7;padding:0.6em;overflow-x:auto;font-size:0.85em}
svg{max-width:100%;height:auto;display:block}
dt{font-weight:bold;margin-top:0.4em}
)";

constexpr const char* kExplanation = R"(<section id="quantities">
<h2>What the numbers mean</h2>
<dl>
<dt>a, b</dt><dd>Location and scale of the fitted Gumbel distribution,
F(x) = exp(-exp(-(x - a)/b)), with their standard errors (&plusmn;).</dd>
<dt>Headline method</dt><dd>The method whose numbers lead: maximum likelihood (mle) when it ran,
else L-moments (lmom), else the histogram least-squares fit (ls), which depends on the number of
bins.</dd>
<dt>Return level, T</dt><dd>The level exceeded on average once in T periods (years for annual
maxima): x<sub>T</sub> = a - b ln(-ln(1 - 1/T)), with its interval from the standard errors at
the chosen confidence (--confidence, 95% by default); "profile" rows give the profile-likelihood
interval of maximum likelihood.</dd>
<dt>DPA_CUT</dt><dd>The quantile of the chosen probability p (0.99 by default): the level not
exceeded with probability p.</dd>
<dt>KS, CvM, AD p</dt><dd>p-values of the Kolmogorov-Smirnov, Cram&eacute;r-von Mises and
Anderson-Darling statistics that allow for the estimated parameters (parametric bootstrap); a
small p-value (below 0.05, say) speaks against the Gumbel distribution.</dd>
<dt>chi2 p</dt><dd>p-value of the binned chi-square test on the histogram cells.</dd>
<dt>GEV check</dt><dd>The shape &xi; of the generalized extreme-value distribution fitted by
maximum likelihood, with its profile-likelihood interval, and the p-value of the likelihood-ratio
test of &xi; = 0 (the Gumbel distribution, 1 degree of freedom): a small p-value says the Gumbel
tail does not fit; &xi; &gt; 0 is a heavier tail, &xi; &lt; 0 a bounded one.</dd>
<dt>n</dt><dd>The number of values in the file.</dd>
</dl>
</section>
)";

}  // namespace

std::string render_html(std::span<const HtmlSection> sections) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<title>korvalinde report</title>\n<style>";
  append(out, kStyle, "</style>\n</head>\n<body>\n<h1>Extreme-value fits</h1>\n");

  const std::vector<double> periods = summary_periods(sections);
  append(out, "<section id=\"summary\">\n<h2>Summary</h2>\n<table>\n<tr><th>file</th><th>n</th>"
              "<th>method</th><th>a</th><th>b</th>");
  for (double t : periods) append(out, "<th>level T=", num(t), "</th>");
  append(out, "<th>KS p</th><th>CvM p</th><th>AD p</th><th>chi2 p</th><th>GEV check</th></tr>\n");
  const std::size_t columns = 10 + periods.size();
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const FitResult& r = sections[i].result;
    append(out, "<tr>", cell(concat("<a href=\"#", anchor(i), "\">", escape_xml(r.file), "</a>")));
    const auto methods = ranked_methods(r);
    if (!r.ok || methods.empty()) {
      const std::string why = r.ok ? "no method ran" : escape_xml(r.error);
      append(out, "<td class=\"error\" colspan=\"", std::to_string(columns - 1), "\">", why,
             "</td></tr>\n");
      continue;
    }
    const MethodResult& m = *methods[0].fit;
    append(out, cell(std::to_string(r.n), "num"), cell(methods[0].name),
           cell(with_se(m.a, m.se_a), "num"), cell(with_se(m.b, m.se_b), "num"));
    for (double t : periods) {
      const auto rl = std::find_if(m.return_levels.begin(), m.return_levels.end(),
                                   [&](const ReturnLevel& x) { return x.period == t; });
      append(out, cell(rl == m.return_levels.end() ? "-" : with_interval(rl->level), "num"));
    }
    for (double p : {m.gof.ks_p, m.gof.cvm_p, m.gof.ad_p, m.gof.chi2_p})
      append(out, cell(format_number(p, 3), "num"));
    append(out, cell(gev_check(r.gumbel_test), "num"), "</tr>\n");
  }
  append(out, "</table>\n</section>\n");

  for (std::size_t i = 0; i < sections.size(); ++i) {
    const HtmlSection& s = sections[i];
    append(out, "<section id=\"", anchor(i), "\">\n<h2>", escape_xml(s.result.file), "</h2>\n");
    if (s.result.ok) {
      append(out, "<pre>", escape_xml(format_report(s.result)), "</pre>\n", inline_svg(s.svg));
    } else {
      append(out, "<p class=\"error\">", escape_xml(s.result.error), "</p>\n");
    }
    append(out, "</section>\n");
  }
  append(out, kExplanation, "</body>\n</html>\n");
  return out;
}

}  // namespace korvalinde::cli
