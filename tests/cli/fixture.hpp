// Hand-made fit results and plot data for the renderer tests.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "korvalinde/cli/svg.hpp"
#include "korvalinde/records/result.hpp"

namespace clitest {

using namespace korvalinde;

// A complete result of a Gumbel(10, 2) sample of n values, with all three
// methods and, on request, a bootstrap and a --level.
inline FitResult full_result(std::size_t n = 3000, bool boot = false) {
  FitResult r;
  r.file = "sample.txt";
  r.ok = true;
  r.n = n;
  r.min = 4.1024;
  r.max = 30.6471;
  r.bins = 50;
  r.width = (r.max - r.min) / 50;
  r.m = 51;
  const double periods[] = {2, 5, 10, 20, 50, 100, 200, 500, 1000};
  auto fill = [&](MethodResult& m, double a, double b) {
    m.present = true;
    m.a = a;
    m.b = b;
    m.se_a = 0.04;
    m.se_b = 0.03;
    m.corr_ab = 0.31;
    m.prob = 0.99;
    const double y99 = -std::log(-std::log(0.99));
    m.quantile = {a + b * y99, 0.12, a + b * y99 - 0.24, a + b * y99 + 0.24};
    for (double t : periods) {
      const double x = a - b * std::log(-std::log1p(-1 / t));
      m.return_levels.push_back({t, {x, 0.1, x - 0.2, x + 0.2}});
    }
    m.gof = {0.0123, 0.081, 0.52, 41.2, 45, 0.63, 0.21, 0.25, 0.3, "parametric bootstrap, B = 199"};
    if (boot) {
      Boot bt;
      bt.replicates = 200;
      bt.failed = 1;
      bt.a = {a - 0.08, a + 0.08};
      bt.b = {b - 0.06, b + 0.06};
      bt.quantile = {m.quantile.lower, m.quantile.upper};
      for (const ReturnLevel& rl : m.return_levels) {
        bt.return_levels.push_back({rl.level.lower, rl.level.upper});
      }
      bt.ks_p = 0.41;
      bt.cvm_p = 0.38;
      bt.ad_p = 0.35;
      m.boot = bt;
    }
  };
  fill(r.ls, 9.99745, 2.06093);
  r.ls.info = 1;
  r.ls.nfev = 26;
  r.ls.sum_sq = 0.0014889;
  r.ls.l2 = 0.0385861;
  r.ls.serror = 0.0054569;
  r.ls.rerror = 0.9959551;
  fill(r.mle, 10.0213, 1.98876);
  r.mle.loglik = -7012.345;
  r.mle.iterations = 6;
  fill(r.lmom, 10.0102, 2.00417);
  r.mle.level = 35.0;
  r.mle.level_period = 1523.4;
  r.headline = {"gumbel", "mle", ""};
  return r;
}

// A sorted Gumbel(10, 2) sample at its exact plotting-position quantiles,
// and its histogram in `cells` cells.
struct Sample {
  std::vector<double> sorted, centres, densities;
  double minimum = 0, dx = 0;

  explicit Sample(std::size_t n, int cells = 51) {
    for (std::size_t i = 0; i < n; ++i) {
      const double f = (static_cast<double>(i) + 0.5) / static_cast<double>(n);
      sorted.push_back(10 - 2 * std::log(-std::log(f)));
    }
    minimum = sorted.front();
    dx = (sorted.back() - minimum) / (cells - 1);
    std::vector<double> count(static_cast<std::size_t>(cells));
    for (double x : sorted) {
      count[std::min<std::size_t>(static_cast<std::size_t>((x - minimum) / dx), cells - 1)] += 1;
    }
    for (int i = 0; i < cells; ++i) {
      centres.push_back(minimum + (i + 0.5) * dx);
      densities.push_back(count[static_cast<std::size_t>(i)] / static_cast<double>(n) / dx);
    }
  }
  cli::PlotData plot() const { return {centres, densities, minimum, dx, sorted}; }
};

}  // namespace clitest
