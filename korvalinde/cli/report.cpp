#include "korvalinde/cli/report.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "korvalinde/cli/dated_render.hpp"
#include "korvalinde/cli/text.hpp"

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

std::string with_interval(const Estimate& e) {
  if (std::isnan(e.value)) return "-";
  if (std::isinf(e.value)) return num(e.value);
  return num(e.value) + " " + bounds(e.lower, e.upper);
}

const ReturnLevel* find_period(const MethodResult& m, double period) {
  for (const ReturnLevel& rl : m.return_levels) {
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
std::string gof_p_method(const std::vector<MethodView>& columns) {
  std::string said;
  for (const MethodView& c : columns) {
    const std::string& m = c.fit->gof.p_method;
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

// The Gumbel check and, when asked for, the GEV fits with the level of the
// table's period.
std::string gev_report(const FitResult& r, double period) {
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
             " at the 5% level\n";
    }
  }
  auto line = [&](const char* name, const GevMethodResult& g) {
    if (!g.present) return;
    out += concat("  gev ", name, ": ");
    if (!g.error.empty()) {
      out += g.error + "\n";
      return;
    }
    out += "loc " + plus_minus(g.loc, g.se_loc) + "   scale " + plus_minus(g.scale, g.se_scale) +
           "   shape " + plus_minus(g.shape, g.se_shape) + "\n";
    for (const ReturnLevel& rl : g.return_levels) {
      if (rl.period != period) continue;
      out += "        level T=" + num(period) + " " + with_interval(rl.level);
      if (rl.level.profile) out += ", profile " + profile_bounds(*rl.level.profile);
      out += "\n";
    }
  };
  line("mle", r.gev.mle);
  line("lmom", r.gev.lmom);
  return out;
}

std::string format_report(const FitResult& r) {
  if (!r.ok) return failure(r);

  std::string out = printable(r.file);
  if (r.dated && r.dated->grouped) out += " [" + printable(r.dated->group) + "]";
  out += "\n";
  out += "  n " + std::to_string(r.n) + "   min " + num(r.min) + "   max " + num(r.max) + "\n";
  out += dated_report_lines(r);
  if (r.bins > 0) {
    out += "  bins " + std::to_string(r.bins) + "   width " + num(r.width) + "   cells " +
           std::to_string(r.m) + "\n";
  }

  const std::vector<MethodView> columns = ranked_methods(r);
  if (columns.empty()) return out + pot_report(r);
  append(out, "  headline: ", columns[0].title, " (", columns[0].name, ")\n");

  auto cells = [&](auto cell) {
    std::vector<std::string> v;
    for (const MethodView& c : columns) v.push_back(cell(*c.fit));
    return v;
  };
  Table t;
  t.add("a", cells([](const MethodResult& m) { return plus_minus(m.a, m.se_a); }));
  t.add("b", cells([](const MethodResult& m) { return plus_minus(m.b, m.se_b); }));

  // The DPA_CUT probability is the same for every method; label it once.
  double prob = kUndefined;
  for (const MethodView& c : columns) {
    if (std::isfinite(c.fit->prob)) prob = c.fit->prob;
  }
  t.add(dpa_cut_label(prob), cells([](const MethodResult& m) { return with_interval(m.quantile); }));

  // Every period of any method, in the order given, with its 95% interval.
  std::vector<double> periods;
  for (const MethodView& c : columns) {
    for (const ReturnLevel& rl : c.fit->return_levels) {
      if (std::find(periods.begin(), periods.end(), rl.period) == periods.end())
        periods.push_back(rl.period);
    }
  }
  for (double period : periods) {
    t.add("level T=" + num(period), cells([&](const MethodResult& m) {
            const ReturnLevel* rl = find_period(m, period);
            return rl ? with_interval(rl->level) : std::string("-");
          }));
  }
  for (const MethodView& c : columns) {
    if (c.fit->level) {
      t.add("period of x=" + num(*c.fit->level),
            cells([](const MethodResult& m) { return num(m.level_period); }));
      break;
    }
  }
  auto p_value = [](double p) { return format_number(p, 3); };
  t.add("KS D", cells([&](const MethodResult& m) {
          return concat(num(m.gof.ks), " (p ", p_value(m.gof.ks_p), ")");
        }));
  t.add("CvM W^2", cells([&](const MethodResult& m) {
          return concat(num(m.gof.cvm), " (p ", p_value(m.gof.cvm_p), ")");
        }));
  t.add("AD A^2", cells([&](const MethodResult& m) {
          return concat(num(m.gof.ad), " (p ", p_value(m.gof.ad_p), ")");
        }));
  t.add("chi2 p", cells([](const MethodResult& m) {
          if (!std::isfinite(m.gof.chi2_p)) return std::string("-");
          return format_number(m.gof.chi2_p, 4) + " (df " + std::to_string(m.gof.chi2_df) + ")";
        }));

  const bool any_boot = std::any_of(columns.begin(), columns.end(),
                                    [](const MethodView& c) { return c.fit->boot.has_value(); });
  if (any_boot) {
    auto boot = [&](auto cell) {
      return cells(
          [&](const MethodResult& m) { return m.boot ? cell(*m.boot) : std::string("-"); });
    };
    t.add("bootstrap", boot([](const Boot& b) {
            return std::to_string(b.replicates) + " (" + std::to_string(b.failed) + " failed)";
          }));
    t.add("  a 95%", boot([](const Boot& b) { return bounds(b.a.lower, b.a.upper); }));
    t.add("  b 95%", boot([](const Boot& b) { return bounds(b.b.lower, b.b.upper); }));
    t.add("  DPA_CUT 95%",
          boot([](const Boot& b) { return bounds(b.quantile.lower, b.quantile.upper); }));
    for (double period : periods) {
      t.add("  level T=" + num(period) + " 95%", cells([&](const MethodResult& m) {
              if (!m.boot) return std::string("-");
              for (std::size_t i = 0; i < m.return_levels.size(); ++i) {
                if (m.return_levels[i].period == period && i < m.boot->return_levels.size()) {
                  return bounds(m.boot->return_levels[i].lower, m.boot->return_levels[i].upper);
                }
              }
              return std::string("-");
            }));
    }
    t.add("  KS p", boot([](const Boot& b) { return format_number(b.ks_p, 4); }));
    t.add("  CvM p", boot([](const Boot& b) { return format_number(b.cvm_p, 4); }));
    t.add("  AD p", boot([](const Boot& b) { return format_number(b.ad_p, 4); }));
  }
  std::vector<std::string_view> names;
  for (const MethodView& c : columns) names.push_back(c.name);
  out += t.render(names);
  append(out, "  95% intervals from the standard errors; p-values: ", gof_p_method(columns), "\n");

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
  // The GEV lines give one period: 100 when asked for, else the largest.
  double gev_period = kUndefined;
  for (double t : periods) {
    if (t == 100 || !(t <= gev_period)) gev_period = t;
    if (t == 100) break;
  }
  out += gev_report(r, gev_period);
  return out + pot_report(r);
}

}  // namespace korvalinde::cli
