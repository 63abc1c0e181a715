#include "korvalinde/cli/nonstationary_render.hpp"

#include <charconv>
#include <cmath>

#include "korvalinde/cli/report.hpp"
#include "korvalinde/cli/text.hpp"
#include "korvalinde/core/covariates.hpp"
#include "korvalinde/detail/utf8.hpp"

namespace korvalinde::cli {

using Json = nlohmann::ordered_json;

namespace {

Json number(double v) { return std::isfinite(v) ? Json(v) : Json(nullptr); }

std::string num(double v) { return format_number(v, 6); }

// A profile bound, or null with why.
void add_profile(Json& j, const ProfileInterval& p) {
  j["profile_lower"] = number(p.lower.value);
  j["profile_upper"] = number(p.upper.value);
  if (!p.lower.reason.empty()) j["profile_lower_reason"] = p.lower.reason;
  if (!p.upper.reason.empty()) j["profile_upper_reason"] = p.upper.reason;
}

Json level_json(const stats::NsLevel& l, bool change) {
  Json j{{"period", number(l.period)}, {"value", number(l.value)}};
  if (change) j["percent"] = number(l.percent);
  j["se"] = number(l.se);
  j["lower"] = number(l.lower);
  j["upper"] = number(l.upper);
  add_profile(j, l.profile);
  return j;
}

Json estimate_json(const Estimate& e) {
  return Json{{"value", number(e.value)}, {"se", number(e.se)}, {"lower", number(e.lower)},
              {"upper", number(e.upper)}};
}

// {"NAME": value, ...} of a covariate point.
Json point_json(const NonstationaryResult& ns, const std::vector<double>& c) {
  Json j = Json::object();
  for (std::size_t k = 0; k < ns.names.size() && k < c.size(); ++k) j[ns.names[k]] = number(c[k]);
  return j;
}

std::string point_text(const NonstationaryResult& ns, const std::vector<double>& c) {
  std::string s;
  for (std::size_t k = 0; k < ns.names.size() && k < c.size(); ++k)
    append(s, k == 0 ? "" : ",", printable(ns.names[k]), "=", num(c[k]));
  return s;
}

// Text in a column of `width`.
std::string padded(std::string s, std::size_t width = 18) {
  if (s.size() < width) s.resize(width, ' ');
  return s;
}

std::string bounds(double lo, double hi) { return concat("[", num(lo), ", ", num(hi), "]"); }

std::string profile_text(const ProfileInterval& p) {
  return bounds(p.lower.value, p.upper.value);
}

Json trend_json(const NonstationaryResult& ns) {
  const stats::MannKendall& m = ns.mann_kendall;
  const stats::SenSlope& s = ns.sen;
  return Json{{"n", m.n},
              {"mann_kendall",
               {{"s", number(m.s)}, {"var_s", number(m.var_s)}, {"z", number(m.z)}, {"p", number(m.p)},
                {"tau", number(m.tau)}}},
              {"sen_slope",
               {{"slope", number(s.slope)}, {"lower", number(s.lower)}, {"upper", number(s.upper)},
                {"confidence", number(s.confidence)}, {"unit", "per year"}}}};
}

Json fit_json(const NonstationaryResult& ns) {
  const stats::NsAnalysis& a = ns.analysis;
  const stats::NsFit& f = a.fit;
  Json j;
  j["vary"] = ns.vary;
  Json range = Json::array();
  for (std::size_t k = 0; k < ns.names.size(); ++k)
    range.push_back(Json::array({number(ns.lower[k]), number(ns.upper[k])}));
  j["covariates"] = Json{{"names", ns.names}, {"centring", f.mean}, {"scaling", f.spread},
                         {"range", std::move(range)}};
  j["n"] = ns.x.size();
  if (!ns.error.empty()) {
    j["error"] = ns.error;
    return j;
  }
  Json coef = Json::object(), se = Json::object(), cov = Json::array(), profile = Json::object();
  const std::size_t k = f.coef.size();
  for (std::size_t i = 0; i < k; ++i) {
    coef[f.names[i]] = number(f.coef[i]);
    se[f.names[i]] = number(f.se[i]);
    Json row = Json::array();
    for (std::size_t m = 0; m < k; ++m) row.push_back(number(f.cov[i * k + m]));
    cov.push_back(std::move(row));
    if (i < a.coef_profiles.size() && a.coef_profiles[i].lower.reason != "not profiled") {
      Json p = Json::object();
      add_profile(p, a.coef_profiles[i]);
      profile[f.names[i]] = std::move(p);
    }
  }
  j["coef"] = std::move(coef);
  j["se"] = std::move(se);
  j["cov"] = std::move(cov);
  j["coef_profile"] = std::move(profile);
  j["reference"] = Json{{"at", point_json(ns, a.reference)}, {"mu", estimate_json(a.mu_ref)},
                        {"sigma", estimate_json(a.sigma_ref)}};
  j["loglik"] = number(f.loglik);
  j["aic"] = number(f.aic);
  j["bic"] = number(f.bic);
  j["iterations"] = f.iterations;
  Json tests = Json::array();
  for (const stats::NsLrTest& t : a.lr_tests)
    tests.push_back(Json{{"against", t.against}, {"statistic", number(t.statistic)}, {"df", t.df},
                         {"p", number(t.p)}});
  j["lr_tests"] = std::move(tests);
  Json at = Json::array();
  for (const stats::NsPoint& p : a.at) {
    Json levels = Json::array();
    for (const stats::NsLevel& l : p.levels) levels.push_back(level_json(l, false));
    at.push_back(Json{{"covariates", point_json(ns, p.c)}, {"extrapolated", p.extrapolated},
                      {"return_levels", std::move(levels)}});
  }
  j["at"] = std::move(at);
  Json change = Json::array();
  for (const stats::NsLevel& l : a.change) change.push_back(level_json(l, true));
  j["change"] = std::move(change);
  const stats::NsProbabilityRatio& r = a.probability_ratio;
  if (a.at.size() >= 2) {
    const bool prof = std::isfinite(r.profile.lower.value) || std::isfinite(r.profile.upper.value);
    Json pr{{"level", number(r.level)},
            {"pr", number(r.pr)},
            {"lower", number(std::exp(prof ? r.profile.lower.value : r.lower))},
            {"upper", number(std::exp(prof ? r.profile.upper.value : r.upper))},
            {"far", number(r.far)},
            {"ln_pr", number(r.ln_pr)},
            {"se_ln_pr", number(r.se_ln_pr)},
            {"delta_lower", number(r.lower)},
            {"delta_upper", number(r.upper)}};
    add_profile(pr, r.profile);
    if (!r.error.empty()) pr["error"] = r.error;
    j["probability_ratio"] = std::move(pr);
  }
  const Gof& g = a.residual_gof;
  j["residual_gof"] = Json{{"residuals", f.model.family == stats::NsFamily::gpd ? "exponential" : "gumbel"},
                           {"ks", number(g.ks)}, {"cvm", number(g.cvm)}, {"ad", number(g.ad)}};
  return j;
}

}  // namespace

std::string nonstationary_error(const FitResult& r) {
  return r.nonstationary ? r.nonstationary->error : std::string();
}

void add_nonstationary_json(Json& j, const FitResult& r) {
  if (!r.nonstationary) return;
  const NonstationaryResult& ns = *r.nonstationary;
  if (ns.fitted && ns.analysis.fit.model.family == stats::NsFamily::gpd) {
    Json g = fit_json(ns);
    // The cluster rate is not modelled: the levels use the observed one.
    g["rate_per_year"] = number(ns.rate);
    g["rate_constant"] = true;
    g["threshold"] = number(ns.threshold);
    j["gpd"]["mle"]["nonstationary"] = std::move(g);
  } else if (ns.fitted) {
    j["gev"]["mle"]["nonstationary"] = fit_json(ns);
  }
  j["trend"] = trend_json(ns);
}

std::string nonstationary_report(const FitResult& r) {
  if (!r.ok || !r.nonstationary) return "";
  const NonstationaryResult& ns = *r.nonstationary;
  std::string out;
  if (ns.fitted) {
    std::string names;
    for (const std::string& n : ns.names) append(names, names.empty() ? "" : ", ", printable(n));
    if (ns.vary == "dispersion")
      append(out, "  non-stationary GEV, maximum likelihood: fixed dispersion, mu and sigma times exp(a ",
             names, " / mu0) (", std::to_string(ns.x.size()), " maxima)\n");
    else if (ns.analysis.fit.model.family == stats::NsFamily::gpd)
      append(out, "  non-stationary GPD, maximum likelihood: log-scale linear in ", names, " (",
             std::to_string(ns.x.size()), " peaks over ", num(ns.threshold), ", the rate ", num(ns.rate),
             " a year held constant)\n");
    else
      append(out, "  non-stationary GEV, maximum likelihood: ", ns.vary, " linear in ", names, " (",
             std::to_string(ns.x.size()), " maxima)\n");
    if (!ns.error.empty()) return out + "    error: " + ns.error + "\n";
    const stats::NsAnalysis& a = ns.analysis;
    const stats::NsFit& f = a.fit;
    for (std::size_t i = 0; i < f.coef.size(); ++i) {
      append(out, "    ", concat(f.names[i], "                ").substr(0, 16), num(f.coef[i]), " +- ",
             format_number(f.se[i], 3));
      if (i < a.coef_profiles.size() && a.coef_profiles[i].lower.reason != "not profiled")
        append(out, "   profile ", profile_text(a.coef_profiles[i]));
      out += "\n";
    }
    if (f.model.family == stats::NsFamily::gpd)
      append(out, "    at ", point_text(ns, a.reference), ": scale ", num(a.sigma_ref.value), " +- ",
             format_number(a.sigma_ref.se, 3), "\n");
    else
    append(out, "    at ", point_text(ns, a.reference), ": loc ", num(a.mu_ref.value), " +- ",
           format_number(a.mu_ref.se, 3), "   scale ", num(a.sigma_ref.value), " +- ",
           format_number(a.sigma_ref.se, 3), "\n");
    append(out, "    loglik ", num(f.loglik), "   AIC ", num(f.aic), "   BIC ", num(f.bic), "\n");
    for (const stats::NsLrTest& t : a.lr_tests)
      append(out, "    LR test against ", t.against == "loc" ? "the location trend alone" : t.against, ": ",
             num(t.statistic), " (df ", std::to_string(t.df), ", p ", format_number(t.p, 3), ")\n");
    for (const stats::NsPoint& p : a.at) {
      append(out, "    effective levels at ", point_text(ns, p.c),
             p.extrapolated ? " (outside the observed range)" : "", ":\n");
      for (const stats::NsLevel& l : p.levels)
        append(out, "      ", padded(period_label(l.period, r)), padded(num(l.value), 10), " profile ",
               profile_text(l.profile), "   delta ", bounds(l.lower, l.upper), "\n");
    }
    if (a.at.size() >= 2) {
      append(out, "    change from ", point_text(ns, a.at[0].c), " to ", point_text(ns, a.at[1].c), ":\n");
      for (const stats::NsLevel& l : a.change)
        append(out, "      ", padded(period_label(l.period, r)), padded(num(l.value), 10),
               padded(concat("(", format_number(l.percent, 3), "%)"), 10), " profile ", profile_text(l.profile), "\n");
      const stats::NsProbabilityRatio& pr = a.probability_ratio;
      const bool prof = std::isfinite(pr.profile.lower.value) || std::isfinite(pr.profile.upper.value);
      if (pr.error.empty())
        append(out, "    probability ratio of exceeding ", num(pr.level), ": ", num(pr.pr),
               prof ? " profile " : " delta ",
               prof ? bounds(std::exp(pr.profile.lower.value), std::exp(pr.profile.upper.value))
                    : bounds(std::exp(pr.lower), std::exp(pr.upper)),
               "   FAR ", format_number(pr.far, 3), "\n");
      else
        append(out, "    probability ratio: ", pr.error, "\n");
    }
    const Gof& g = a.residual_gof;
    append(out, "    residuals on the standard ",
           a.fit.model.family == stats::NsFamily::gpd ? "exponential" : "Gumbel", ": KS D ", num(g.ks), "   AD A^2 ", num(g.ad), "\n");
  }
  const stats::MannKendall& m = ns.mann_kendall;
  const stats::SenSlope& s = ns.sen;
  append(out, "  trend: Mann-Kendall S ", num(m.s), "  Z ", format_number(m.z, 4), "  p ",
         format_number(m.p, 3), "   Sen's slope ", num(s.slope), " per year ", bounds(s.lower, s.upper), "\n");
  return out;
}

void append_effective_levels(std::string& out, const FitResult& r, bool grouped) {
  if (!r.ok || !r.nonstationary || !r.nonstationary->error.empty() || !r.nonstationary->fitted) return;
  const NonstationaryResult& ns = *r.nonstationary;
  if (ns.levels.empty()) return;
  auto field = [](std::string_view s) {
    if (s.find_first_of(",\"\n\r") == std::string_view::npos) return std::string(s);
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
  };
  auto shortest = [](double v) {
    if (!std::isfinite(v)) return std::string();
    char buf[32];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
  };
  if (out.empty()) {
    if (grouped) out += "group,";
    out += "observation,time";
    for (const std::string& n : ns.names) {
      if (n != kTimeCovariate) append(out, ",", field(n));  // the time has its column
    }
    out += ",value";
    for (const double t : ns.periods) {
      const std::string p = shortest(t);
      append(out, ",level_", p, ",lower_", p, ",upper_", p);
    }
    out += "\n";
  }
  const std::string group = grouped && r.dated ? field(r.dated->group) + "," : "";
  const std::size_t np = ns.periods.size();
  for (std::size_t i = 0; i < ns.x.size(); ++i) {
    append(out, group, field(ns.labels[i]), ",", shortest(ns.time[i]));
    for (std::size_t j = 0; j < ns.c.size(); ++j) {
      if (ns.names[j] != kTimeCovariate) append(out, ",", shortest(ns.c[j][i]));
    }
    append(out, ",", shortest(ns.x[i]));
    for (std::size_t j = 0; j < np; ++j) {
      const stats::NsLevel& l = ns.levels[i * np + j];
      append(out, ",", shortest(l.value), ",", shortest(l.lower), ",", shortest(l.upper));
    }
    out += "\n";
  }
}

}  // namespace korvalinde::cli
