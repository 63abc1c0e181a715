#include "korvalinde/cli/report.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "korvalinde/cli/dated_render.hpp"
#include "korvalinde/cli/text.hpp"
#include "korvalinde/detail/utf8.hpp"

namespace korvalinde::cli {

namespace {

// An infinite quantile (probability 1) reads as the classic run writes it.
std::string num(double v) {
  if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
  return format_number(v, 6);
}

std::string plus_minus(double value, double se) {
  if (!std::isfinite(value)) return "-";
  return num(value) + " +- " + format_number(se, 3, "n/a");
}

std::string bounds(double lower, double upper) {
  if (!std::isfinite(lower) && !std::isfinite(upper)) return "[n/a]";
  return concat("[", num(lower), ", ", num(upper), "]");
}

const ReturnLevel* find_period(const std::vector<ReturnLevel>& levels, double period) {
  for (const ReturnLevel& rl : levels) {
    if (rl.period == period) return &rl;
  }
  return nullptr;
}

// Rows of cells under a header row, left-aligned in columns.
class Table {
 public:
  void add(std::string label, std::vector<std::string> cells) {
    rows_.push_back({std::move(label), std::move(cells)});
  }
  std::string render(const std::vector<std::string_view>& columns) const {
    std::size_t label_width = 0;
    std::vector<std::size_t> widths(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) widths[i] = columns[i].size();
    for (const Row& r : rows_) {
      label_width = std::max(label_width, r.label.size());
      for (std::size_t i = 0; i < r.cells.size(); ++i) {
        widths[i] = std::max(widths[i], r.cells[i].size());
      }
    }
    std::string out;
    auto line = [&](std::string_view label, auto cell) {
      std::string s = "  " + std::string(label);
      s.resize(2 + label_width, ' ');
      for (std::size_t i = 0; i < columns.size(); ++i) {
        s += "   ";
        const std::string text(cell(i));
        s += text;
        s.append(widths[i] - text.size(), ' ');
      }
      while (!s.empty() && s.back() == ' ') s.pop_back();
      out += s + "\n";
    };
    line("", [&](std::size_t i) { return columns[i]; });
    for (const Row& r : rows_) line(r.label, [&](std::size_t i) { return r.cells[i]; });
    return out;
  }

 private:
  struct Row {
    std::string label;
    std::vector<std::string> cells;
  };
  std::vector<Row> rows_;
};

std::string failure(const FitResult& r) {
  if (r.input_error) {
    InputError e = *r.input_error;
    e.message = "error: " + e.message;
    return printable(e.text()) + "\n";
  }
  const std::string file = printable(r.file);
  const std::string error = printable(r.error);
  // "NAME:LINE: text" becomes "NAME:LINE: error: text".
  if (!r.file.empty() && error.starts_with(file + ":")) {
    const std::size_t end = error.find(": ", file.size());
    if (end != std::string::npos && end > file.size()) {
      return error.substr(0, end) + ": error: " + error.substr(end + 2) + "\n";
    }
    if (error.starts_with(file + ": ")) {
      return file + ": error: " + error.substr(file.size() + 2) + "\n";
    }
  }
  return file + ": error: " + error + "\n";
}

// How the methods' GOF p-values were computed, said once when they agree.
std::string gof_p_method(const std::vector<const Gof*>& gofs) {
  std::string said;
  for (const Gof* g : gofs) {
    const std::string& m = g->p_method;
    if (m.empty() || said.find(m) != std::string::npos) continue;
    append(said, said.empty() ? "" : "; ", m);
  }
  return said.empty() ? "none" : said;
}

}  // namespace

std::string_view info_meaning(int info) {
  switch (info) {
    case 0:
      return "invalid input";
    case 1:
      return "sum of squares converged";
    case 2:
      return "parameters converged";
    case 3:
      return "sum of squares and parameters converged";
    case 4:
      return "residuals orthogonal to the Jacobian";
    case 5:
      return "too many residual evaluations";
    case 6:
      return "sum-of-squares tolerance too small";
    case 7:
      return "parameter tolerance too small";
    default:
      return "unknown code";
  }
}

std::vector<MethodView> ranked_methods(const FitResult& r) {
  std::vector<MethodView> v;
  if (r.mle.present) v.push_back({"mle", "maximum likelihood", &r.mle});
  if (r.lmom.present) v.push_back({"lmom", "L-moments", &r.lmom});
  if (r.ls.present) v.push_back({"ls", "histogram least squares", &r.ls});
  return v;
}

double values_per_bin(const FitResult& r) {
  return r.bins > 0 ? static_cast<double>(r.n) / r.bins : kUndefined;
}

std::string dpa_cut_label(double prob) { return concat("DPA_CUT (", num(prob), " quantile)"); }

// A profile-likelihood interval; a bound that does not exist reads "none".
std::string profile_bounds(const ProfileInterval& p, int digits = 6) {
  auto end = [&](const ProfileLimit& l) {
    return l.reason.empty() ? format_number(l.value, digits) : std::string("none");
  };
  return concat("[", end(p.lower), ", ", end(p.upper), "]");
}

// The Gumbel check; a GEV fit that failed says why (the others are columns
// of the table).
std::string gev_report(const FitResult& r) {
  std::string out;
  const GumbelTestResult& t = r.gumbel_test;
  if (t.present) {
    if (!t.error.empty()) {
      out += "  GEV check: " + t.error + "\n";
    } else {
      out += "  GEV check: shape " + format_number(t.shape.value, 2);
      if (t.shape.profile) out += " " + profile_bounds(*t.shape.profile, 2);
      out += ", likelihood ratio " + format_number(t.statistic, 3) + ", p = " +
             format_number(t.p, 2) + ": Gumbel is " + (t.p < 0.05 ? "rejected" : "not rejected") +
             " at the 5% level";
      if (t.p < 0.05)
        out += r.headline.dist == "gev" ? ": the GEV leads" : r.gev.mle.present ? "" : " (--dist gev fits the GEV)";
      out += "\n";
    }
  }
  for (const auto& [name, g] : {std::pair{"mle", &r.gev.mle}, std::pair{"lmom", &r.gev.lmom}}) {
    if (g->present && !g->error.empty()) append(out, "  gev ", name, ": ", g->error, "\n");
    if (g->present && g->error.empty() && g->outside_support > 0)
      append(out, "  gev ", name, ": ", outside_support_note(g->outside_support), ": it neither leads nor ranks\n");
  }
  return out;
}

const FamilyMethodResult* family_method(const FitResult& r, std::string_view dist, std::string_view method) {
  if (!r.families) return nullptr;
  for (const FamilyResult& f : r.families->fits) {
    if (f.dist == dist) return method == "mle" ? &f.mle : method == "lmom" ? &f.lmom : nullptr;
  }
  return nullptr;
}

std::string family_name(std::string_view dist) {
  static constexpr std::pair<std::string_view, std::string_view> kTitles[] = {
      {"glo", "GLO"},     {"gno", "GNO"},         {"pe3", "Pearson III"},  {"lp3", "log-Pearson III"},
      {"gpa", "GPA"},     {"weibull", "Weibull"}, {"kappa", "Kappa"},      {"wakeby", "Wakeby"},
      {"exp", "exponential"}, {"normal", "normal"}, {"lognormal", "lognormal"},
      {"gumbel", "Gumbel"}, {"gev", "GEV"}};
  for (const auto& [key, title] : kTitles) {
    if (key == dist) return std::string(title);
  }
  return std::string(dist);
}

std::string outside_support_note(int n) {
  return concat(std::to_string(n), n == 1 ? " observation" : " observations", " outside the fitted support");
}

// Cells of estimates with their intervals: the profile interval where there
// is one (the delta interval on a row of its own), else the delta interval,
// marked where it reaches below zero for levels that can not.
struct IntervalCells {
  bool nonnegative = false;
  bool below_zero = false;  // a delta lower bound below zero was shown

  std::string leading(const Estimate& e) {
    if (std::isnan(e.value)) return "-";
    if (std::isinf(e.value)) return num(e.value);
    below_zero |= !e.profile && nonnegative && e.lower < 0;
    return num(e.value) + " " + headline_interval(e, nonnegative);
  }
  std::string delta(const Estimate* e) {
    if (e == nullptr || !e->profile) return "-";
    below_zero |= nonnegative && e->lower < 0;
    return headline_interval(Estimate{e->value, e->se, e->lower, e->upper}, nonnegative);
  }
  std::string footnote() const {
    return below_zero ? "  * below zero: the delta interval is a normal approximation; the level can not be negative\n"
                      : "";
  }
};

// The further families: a column per fit with a result, the sample's
// L-moments and the comparison of every family fitted.
static std::string families_report(const FitResult& r) {
  if (!r.families) return {};
  const FamiliesResult& f = *r.families;
  std::string out;
  struct Column {
    std::string name;
    const FamilyMethodResult* m;
  };
  std::vector<Column> columns;
  for (const FamilyResult& fam : f.fits) {
    for (const auto& [method, m] : {std::pair{"mle", &fam.mle}, std::pair{"lmom", &fam.lmom}}) {
      if (!m->present) continue;
      if (m->error.empty()) {
        columns.push_back({concat(fam.dist, " ", method), m});
        if (m->outside_support > 0)
          append(out, "  ", fam.dist, " ", method, ": ", outside_support_note(m->outside_support),
                 ": no goodness of fit; it neither leads nor ranks\n");
      } else
        append(out, "  ", fam.dist, " ", method, ": ", m->error, "\n");
    }
  }
  if (!columns.empty()) {
    std::vector<std::string> names;  // every free parameter's name, in order
    for (const Column& c : columns) {
      for (const std::string& n : c.m->free) {
        if (std::find(names.begin(), names.end(), n) == names.end()) names.push_back(n);
      }
    }
    auto all = [&](auto cell) {
      std::vector<std::string> v;
      for (const Column& c : columns) v.push_back(cell(*c.m));
      return v;
    };
    Table t;
    for (const std::string& n : names) {
      t.add(n, all([&](const FamilyMethodResult& m) {
              if (std::find(m.free.begin(), m.free.end(), n) == m.free.end()) return std::string("-");
              for (const FamilyParameter& p : m.params) {
                if (p.name == n) return std::isfinite(p.se) ? plus_minus(p.value, p.se) : num(p.value);
              }
              return std::string("-");
            }));
    }
    // Levels as in the first table: with the profile interval where there
    // is one and the delta interval under it, else with the delta interval.
    IntervalCells iv{nonnegative_levels(r)};
    auto leading = [&](const Estimate& e) { return iv.leading(e); };
    auto delta = [&](const Estimate* e) { return iv.delta(e); };
    bool any_profile = false;
    for (const Column& c : columns) {
      any_profile |= c.m->quantile.profile.has_value();
      for (const ReturnLevel& rl : c.m->return_levels) any_profile |= rl.level.profile.has_value();
    }
    t.add(dpa_cut_label(columns.front().m->prob), all([&](const FamilyMethodResult& m) { return leading(m.quantile); }));
    if (any_profile) t.add("  delta", all([&](const FamilyMethodResult& m) { return delta(&m.quantile); }));
    for (std::size_t i = 0; i < columns.front().m->return_levels.size(); ++i) {
      const double period = columns.front().m->return_levels[i].period;
      t.add("level " + period_label(period, r), all([&](const FamilyMethodResult& m) {
              const ReturnLevel* rl = find_period(m.return_levels, period);
              return rl ? leading(rl->level) : std::string("-");
            }));
      if (any_profile)
        t.add("  delta", all([&](const FamilyMethodResult& m) {
                const ReturnLevel* rl = find_period(m.return_levels, period);
                return delta(rl ? &rl->level : nullptr);
              }));
    }
    if (columns.front().m->level)
      t.add("period of x=" + num(*columns.front().m->level),
            all([](const FamilyMethodResult& m) { return num(m.level_period); }));
    t.add("log-likelihood", all([](const FamilyMethodResult& m) { return num(m.loglik); }));
    t.add("KS D", all([](const FamilyMethodResult& m) { return num(m.gof.ks); }));
    t.add("CvM W^2", all([](const FamilyMethodResult& m) { return num(m.gof.cvm); }));
    t.add("AD A^2", all([](const FamilyMethodResult& m) {
            return std::isfinite(m.gof.ad_p) ? concat(num(m.gof.ad), " (p ", format_number(m.gof.ad_p, 3), ")")
                                             : num(m.gof.ad);
          }));
    if (std::any_of(columns.begin(), columns.end(), [](const Column& c) { return c.m->boot.has_value(); })) {
      const std::string pct = format_number(100 * r.confidence, 4) + "%";
      auto boot = [&](auto cell) {
        return all([&](const FamilyMethodResult& m) { return m.boot ? cell(m, *m.boot) : std::string("-"); });
      };
      t.add("bootstrap", boot([](const FamilyMethodResult&, const FamilyBoot& b) {
              return concat(std::to_string(b.replicates), " (", std::to_string(b.failed), " failed)");
            }));
      for (const std::string& n : names) {
        t.add(concat("  ", n, " ", pct), boot([&](const FamilyMethodResult& m, const FamilyBoot& b) {
                for (std::size_t i = 0; i < m.free.size() && i < b.params.size(); ++i) {
                  if (m.free[i] == n) return bounds(b.params[i].lower, b.params[i].upper);
                }
                return std::string("-");
              }));
      }
      t.add("  DPA_CUT " + pct, boot([](const FamilyMethodResult&, const FamilyBoot& b) {
              return bounds(b.quantile.lower, b.quantile.upper);
            }));
      for (std::size_t i = 0; i < columns.front().m->return_levels.size(); ++i) {
        const double period = columns.front().m->return_levels[i].period;
        t.add(concat("  level T=", num(period), " ", pct), boot([&](const FamilyMethodResult& m, const FamilyBoot& b) {
                for (std::size_t j = 0; j < m.return_levels.size() && j < b.return_levels.size(); ++j) {
                  if (m.return_levels[j].period == period)
                    return bounds(b.return_levels[j].lower, b.return_levels[j].upper);
                }
                return std::string("-");
              }));
      }
      t.add("  KS p", boot([](const FamilyMethodResult&, const FamilyBoot& b) { return format_number(b.ks_p, 4); }));
      t.add("  CvM p", boot([](const FamilyMethodResult&, const FamilyBoot& b) { return format_number(b.cvm_p, 4); }));
      t.add("  AD p", boot([](const FamilyMethodResult&, const FamilyBoot& b) { return format_number(b.ad_p, 4); }));
    }
    std::vector<std::string_view> heads;
    for (const Column& c : columns) heads.push_back(c.name);
    out += t.render(heads);
    out += iv.footnote();
  }
  const LmomentsRecord& l = f.lmoments;
  append(out, "  sample L-moments: l1 ", num(l.l1), "   l2 ", num(l.l2), "   t ", num(l.t), "   t3 ",
         num(l.t3), "   t4 ", num(l.t4), "   t5 ", num(l.t5), "\n");
  if (!f.comparison.rows.empty()) {
    Table t;
    for (const ComparisonRow& c : f.comparison.rows) {
      t.add(concat(c.dist, " ", c.method),
            {num(c.aic), num(c.lmom_distance),
             std::isfinite(c.ad_p) ? concat(num(c.ad), " (p ", format_number(c.ad_p, 3), ")") : num(c.ad)});
    }
    out += t.render({"AIC", "L-moment distance", "AD A^2"});
  }
  auto best = [](const std::string& d) { return d.empty() ? std::string("none") : concat(family_name(d), " (", d, ")"); };
  append(out, "  best by AIC: ", best(f.comparison.best_aic), "; best by L-moment distance: ",
         best(f.comparison.best_lmom), "\n");
  return out;
}

std::vector<FitView> fit_views(const FitResult& r) {
  std::vector<FitView> gumbel, gev;
  for (const MethodView& m : ranked_methods(r)) gumbel.push_back({std::string(m.name), m.fit});
  for (const auto& [name, g] : {std::pair{"gev mle", &r.gev.mle}, std::pair{"gev lmom", &r.gev.lmom}}) {
    if (g->present && g->error.empty()) gev.push_back({name, nullptr, g});
  }
  const Headline& h = r.headline;
  std::vector<FitView> v = h.dist == "gev" ? gev : gumbel;
  const std::string head = h.dist == "gev" ? "gev " + h.method : h.dist == "gumbel" ? h.method : "";
  std::stable_partition(v.begin(), v.end(), [&](const FitView& f) { return f.name == head; });
  for (const FitView& f : h.dist == "gev" ? gumbel : gev) v.push_back(f);
  return v;
}

FitView headline_view(const FitResult& r) {
  if (r.headline.dist.empty()) return {};
  if (const FamilyMethodResult* m = family_method(r, r.headline.dist, r.headline.method))
    return {concat(r.headline.dist, " ", r.headline.method), nullptr, nullptr, m};
  const std::vector<FitView> v = fit_views(r);
  return v.empty() ? FitView{} : v.front();
}

std::string headline_title(const FitResult& r) {
  const Headline& h = r.headline;
  if (h.dist.empty()) return {};
  const std::string_view how = h.method == "mle"    ? "maximum likelihood"
                               : h.method == "lmom" ? "L-moments"
                                                    : "histogram least squares";
  const std::string name = h.dist == "gumbel" ? h.method : h.dist + " " + h.method;
  const std::string family = h.dist == "gumbel" ? "Gumbel" : h.dist == "gev" ? "GEV" : family_name(h.dist);
  return concat(family, ", ", how, " (", name, ")");
}

std::string period_unit(const FitResult& r) {
  if (r.pot) return "years";
  if (!r.dated || r.dated->blocks.empty()) return {};
  return r.dated->blocks == "month" ? "months" : "years";
}

std::string period_label(double period, const FitResult& r) {
  const std::string unit = period_unit(r);
  return concat("T=", num(period), unit.empty() ? "" : " ", unit);
}

std::vector<std::string> small_sample_warnings(const FitResult& r) {
  std::vector<std::string> w;
  const char* why = ": return levels of periods much longer than the record are extrapolations";
  if (r.ok && !r.headline.dist.empty() && r.n < kFewMaxima)
    w.push_back(concat("only ", std::to_string(r.n), " maxima (fewer than ",
                       std::to_string(kFewMaxima), ")", why));
  if (r.ok && r.pot && r.pot->n_clusters < kFewClusters)
    w.push_back(concat("only ", std::to_string(r.pot->n_clusters), " clusters over the threshold (fewer than ",
                       std::to_string(kFewClusters), ")", why));
  return w;
}

bool nonnegative_levels(const FitResult& r) { return r.n > 0 && r.min >= 0; }

std::string headline_interval(const Estimate& e, bool nonnegative, int digits) {
  if (e.profile) return profile_bounds(*e.profile, digits);
  if (!std::isfinite(e.lower) && !std::isfinite(e.upper)) return "[n/a]";
  const bool below = nonnegative && e.lower < 0;
  return concat("[", format_number(e.lower, digits), below ? "*" : "", ", ",
                format_number(e.upper, digits), "]");
}

std::string format_report(const FitResult& r) {
  if (!r.ok) return failure(r);

  std::string out = printable(r.file);
  if (r.dated && r.dated->grouped) out += " [" + detail::escape_bytes(r.dated->group, true) + "]";
  out += "\n";
  out += "  n " + std::to_string(r.n) + "   min " + num(r.min) + "   max " + num(r.max) + "\n";
  out += dated_report_lines(r);
  for (const std::string& w : small_sample_warnings(r)) append(out, "  warning: ", w, "\n");
  if (r.bins > 0 && r.ls.present) {
    out += "  bins " + std::to_string(r.bins) + "   width " + num(r.width) + "   cells " +
           std::to_string(r.m) + "\n";
  }

  const std::vector<MethodView> ranked = ranked_methods(r);
  if (ranked.empty() || r.headline.dist.empty()) return out + pot_report(r);
  append(out, "  headline: ", headline_title(r),
         r.headline.reason.empty() ? "" : ": " + r.headline.reason, "\n");

  using Column = FitView;
  const std::vector<Column> columns = fit_views(r);
  const bool gev = columns.size() > ranked.size();
  IntervalCells iv{nonnegative_levels(r)};
  auto leading = [&](const Estimate& e) { return iv.leading(e); };
  auto delta = [&](const Estimate* e) { return iv.delta(e); };
  bool any_profile = false;
  for (const Column& c : columns) {
    any_profile |= c.quantile().profile.has_value();
    for (const ReturnLevel& rl : c.levels()) any_profile |= rl.level.profile.has_value();
  }
  // A row of the Gumbel columns; the GEV ones show "-".
  auto cells = [&](auto cell) {
    std::vector<std::string> v;
    for (const Column& c : columns) v.push_back(c.gumbel ? cell(*c.gumbel) : std::string("-"));
    return v;
  };
  // A row of every column.
  auto all = [&](auto cell) {
    std::vector<std::string> v;
    for (const Column& c : columns) v.push_back(cell(c));
    return v;
  };
  Table t;
  if (gev) {
    // The Gumbel a and b are the GEV's location and scale at shape 0.
    t.add("a, loc", all([](const Column& c) {
            return c.gumbel ? plus_minus(c.gumbel->a, c.gumbel->se_a) : plus_minus(c.gev->loc, c.gev->se_loc);
          }));
    t.add("b, scale", all([](const Column& c) {
            return c.gumbel ? plus_minus(c.gumbel->b, c.gumbel->se_b)
                            : plus_minus(c.gev->scale, c.gev->se_scale);
          }));
    t.add("shape", all([](const Column& c) {
            return c.gumbel ? std::string("0") : plus_minus(c.gev->shape, c.gev->se_shape);
          }));
  } else {
    t.add("a", cells([](const MethodResult& m) { return plus_minus(m.a, m.se_a); }));
    t.add("b", cells([](const MethodResult& m) { return plus_minus(m.b, m.se_b); }));
  }

  // The DPA_CUT probability is the same for every method; label it once.
  double prob = kUndefined;
  for (const MethodView& c : ranked) {
    if (std::isfinite(c.fit->prob)) prob = c.fit->prob;
  }
  t.add(dpa_cut_label(prob), all([&](const Column& c) { return leading(c.quantile()); }));
  if (std::any_of(columns.begin(), columns.end(), [](const Column& c) { return c.quantile().profile.has_value(); }))
    t.add("  delta", all([&](const Column& c) { return delta(&c.quantile()); }));

  // Every period of any method, in the order given, with its interval; with
  // the GEV, the maximum-likelihood profile intervals under it.
  std::vector<double> periods;
  for (const Column& c : columns) {
    for (const ReturnLevel& rl : c.levels()) {
      if (std::find(periods.begin(), periods.end(), rl.period) == periods.end())
        periods.push_back(rl.period);
    }
  }
  for (double period : periods) {
    auto level = [&](const Column& c) { return find_period(c.levels(), period); };
    t.add("level " + period_label(period, r), all([&](const Column& c) {
            const ReturnLevel* rl = level(c);
            return rl ? leading(rl->level) : std::string("-");
          }));
    if (!any_profile) continue;
    t.add("  delta", all([&](const Column& c) {
            const ReturnLevel* rl = level(c);
            return delta(rl ? &rl->level : nullptr);
          }));
  }
  for (const MethodView& c : ranked) {
    if (c.fit->level) {
      t.add("period of x=" + num(*c.fit->level),
            all([](const Column& c) { return num(c.level_period()); }));
      break;
    }
  }
  auto statistic = [&](double Gof::*value, double Gof::*p) {
    return all([=](const Column& c) {
      return concat(num(c.gof().*value), " (p ", format_number(c.gof().*p, 3), ")");
    });
  };
  t.add("KS D", statistic(&Gof::ks, &Gof::ks_p));
  t.add("CvM W^2", statistic(&Gof::cvm, &Gof::cvm_p));
  t.add("AD A^2", statistic(&Gof::ad, &Gof::ad_p));
  t.add("chi2 p", all([](const Column& c) {
          const Gof& g = c.gof();
          if (!std::isfinite(g.chi2_p)) return std::string("-");
          return format_number(g.chi2_p, 4) + " (df " + std::to_string(g.chi2_df) + ")";
        }));

  const std::string pct = format_number(100 * r.confidence, 4) + "%";
  const bool any_boot =
      std::any_of(columns.begin(), columns.end(), [](const Column& c) { return c.boot() != nullptr; });
  const bool gev_boot = std::any_of(columns.begin(), columns.end(),
                                    [](const Column& c) { return c.gev && c.gev->boot.has_value(); });
  if (any_boot) {
    // A row of every column with a bootstrap.
    auto boot = [&](auto cell) {
      return all([&](const Column& c) { return c.boot() ? cell(*c.boot()) : std::string("-"); });
    };
    // A row of the Gumbel columns only, or of the GEV ones only.
    auto gumbel_boot = [&](auto cell) {
      return cells([&](const MethodResult& m) { return m.boot ? cell(*m.boot) : std::string("-"); });
    };
    auto gev_only = [&](auto cell) {
      return all([&](const Column& c) { return c.gev && c.gev->boot ? cell(*c.gev->boot) : std::string("-"); });
    };
    t.add("bootstrap", boot([](const BootSummary& b) {
            return std::to_string(b.replicates) + " (" + std::to_string(b.failed) + " failed)";
          }));
    t.add("  a " + pct, gumbel_boot([](const Boot& b) { return bounds(b.a.lower, b.a.upper); }));
    t.add("  b " + pct, gumbel_boot([](const Boot& b) { return bounds(b.b.lower, b.b.upper); }));
    if (gev_boot) {
      t.add("  loc " + pct, gev_only([](const GevBoot& b) { return bounds(b.loc.lower, b.loc.upper); }));
      t.add("  scale " + pct,
            gev_only([](const GevBoot& b) { return bounds(b.scale.lower, b.scale.upper); }));
      t.add("  shape " + pct,
            gev_only([](const GevBoot& b) { return bounds(b.shape.lower, b.shape.upper); }));
    }
    t.add("  DPA_CUT " + pct,
          boot([](const BootSummary& b) { return bounds(b.quantile.lower, b.quantile.upper); }));
    for (double period : periods) {
      t.add("  level T=" + num(period) + " " + pct, all([&](const Column& c) {
              const auto& levels = c.levels();
              if (!c.boot()) return std::string("-");
              const std::vector<Interval>& intervals = c.boot()->return_levels;
              for (std::size_t i = 0; i < levels.size(); ++i) {
                if (levels[i].period == period && i < intervals.size())
                  return bounds(intervals[i].lower, intervals[i].upper);
              }
              return std::string("-");
            }));
    }
    t.add("  KS p", boot([](const BootSummary& b) { return format_number(b.ks_p, 4); }));
    t.add("  CvM p", boot([](const BootSummary& b) { return format_number(b.cvm_p, 4); }));
    t.add("  AD p", boot([](const BootSummary& b) { return format_number(b.ad_p, 4); }));
  }
  std::vector<std::string_view> names;
  std::vector<const Gof*> gofs;
  for (const Column& c : columns) names.push_back(c.name), gofs.push_back(&c.gof());
  out += t.render(names);
  append(out, "  ", pct, " intervals: ",
         any_profile ? "profile likelihood where a method has one, else from the standard errors"
                     : "from the standard errors",
         any_profile ? " (the delta rows)" : "", "; p-values: ", gof_p_method(gofs), "\n");
  out += iv.footnote();

  if (r.ls.present) {
    out += "  ls:   SERROR " + num(r.ls.serror) + "   RERROR " + num(r.ls.rerror) + "   L2 norm " +
           num(r.ls.l2) + "\n";
    out += "        INFO " + std::to_string(r.ls.info) + " (" +
           std::string(info_meaning(r.ls.info)) + "), " + std::to_string(r.ls.nfev) +
           " residual evaluations\n";
    const double per_bin = values_per_bin(r);
    if (per_bin < kLsValuesPerBin) {
      append(out, "        warning: ", format_number(per_bin, 3),
             " values per bin on average: the ls result depends strongly on --bins\n");
    }
  }
  if (r.mle.present) {
    out += "  mle:  log-likelihood " + num(r.mle.loglik) + ", " + std::to_string(r.mle.iterations) +
           " iterations\n";
  }
  out += gev_report(r);
  out += families_report(r);
  return out + pot_report(r);
}

}  // namespace korvalinde::cli
