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

struct Column {
  std::string_view name;
  const MethodResult* method;
};

// The period shown in the table: 100 when any method has it, else the largest.
double shown_period(const std::vector<Column>& columns) {
  double largest = kUndefined;
  for (const Column& c : columns) {
    for (const ReturnLevel& rl : c.method->return_levels) {
      if (rl.period == 100) return 100;
      if (std::isfinite(rl.period) && !(rl.period <= largest)) largest = rl.period;
    }
  }
  return largest;
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
  std::string render(const std::vector<Column>& columns) const {
    std::size_t label_width = 0;
    std::vector<std::size_t> widths(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) widths[i] = columns[i].name.size();
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
    line("", [&](std::size_t i) { return columns[i].name; });
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

std::string format_report(const FitResult& r) {
  if (!r.ok) return failure(r);

  std::string out = printable(r.file);
  if (r.dated && r.dated->grouped) out += " [" + printable(r.dated->group) + "]";
  out += "\n";
  out += "  n " + std::to_string(r.n) + "   min " + num(r.min) + "   max " + num(r.max) + "\n";
  out += dated_report_lines(r);
  out += "  bins " + std::to_string(r.bins) + "   width " + num(r.width) + "   cells " +
         std::to_string(r.m) + "\n";

  std::vector<Column> columns;
  if (r.ls.present) columns.push_back({"ls", &r.ls});
  if (r.mle.present) columns.push_back({"mle", &r.mle});
  if (r.lmom.present) columns.push_back({"lmom", &r.lmom});
  if (columns.empty()) return out + pot_report(r);

  auto cells = [&](auto cell) {
    std::vector<std::string> v;
    for (const Column& c : columns) v.push_back(cell(*c.method));
    return v;
  };
  Table t;
  t.add("a", cells([](const MethodResult& m) { return plus_minus(m.a, m.se_a); }));
  t.add("b", cells([](const MethodResult& m) { return plus_minus(m.b, m.se_b); }));

  // The DPA_CUT probability is the same for every method; label it once.
  double prob = kUndefined;
  for (const Column& c : columns) {
    if (std::isfinite(c.method->prob)) prob = c.method->prob;
  }
  t.add("DPA_CUT p=" + num(prob),
        cells([](const MethodResult& m) { return with_interval(m.quantile); }));

  const double period = shown_period(columns);
  if (std::isfinite(period)) {
    t.add("level T=" + num(period), cells([&](const MethodResult& m) {
            const ReturnLevel* rl = find_period(m, period);
            return rl ? with_interval(rl->level) : std::string("-");
          }));
  }
  for (const Column& c : columns) {
    if (c.method->level) {
      t.add("period of x=" + num(*c.method->level),
            cells([](const MethodResult& m) { return num(m.level_period); }));
      break;
    }
  }
  t.add("KS D", cells([](const MethodResult& m) { return num(m.gof.ks); }));
  t.add("CvM W^2", cells([](const MethodResult& m) { return num(m.gof.cvm); }));
  t.add("AD A^2", cells([](const MethodResult& m) { return num(m.gof.ad); }));
  t.add("chi2 p", cells([](const MethodResult& m) {
          if (!std::isfinite(m.gof.chi2_p)) return std::string("-");
          return format_number(m.gof.chi2_p, 4) + " (df " + std::to_string(m.gof.chi2_df) + ")";
        }));

  const bool any_boot = std::any_of(columns.begin(), columns.end(),
                                    [](const Column& c) { return c.method->boot.has_value(); });
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
    if (std::isfinite(period)) {
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
  out += t.render(columns);

  if (r.ls.present) {
    out += "  ls:   SERROR " + num(r.ls.serror) + "   RERROR " + num(r.ls.rerror) + "   L2 norm " +
           num(r.ls.l2) + "\n";
    out += "        INFO " + std::to_string(r.ls.info) + " (" +
           std::string(info_meaning(r.ls.info)) + "), " + std::to_string(r.ls.nfev) +
           " residual evaluations\n";
  }
  if (r.mle.present) {
    out += "  mle:  log-likelihood " + num(r.mle.loglik) + ", " + std::to_string(r.mle.iterations) +
           " iterations\n";
  }
  return out + pot_report(r);
}

}  // namespace korvalinde::cli
