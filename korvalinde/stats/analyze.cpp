#include "korvalinde/stats/analyze.hpp"

#include <cmath>

#include "korvalinde/dist/gumbel.hpp"

namespace korvalinde::stats {

Estimate reduced_estimate(double a, double b, double y, const Covariance& cov) {
  Estimate e;
  e.value = a + b * y;
  if (cov.valid() && std::isfinite(e.value)) {
    const double var = cov.aa + 2 * y * cov.ab + y * y * cov.bb;
    e.se = std::sqrt(std::max(0.0, var));
    e.lower = e.value - dist::kNormal95 * e.se;
    e.upper = e.value + dist::kNormal95 * e.se;
  }
  return e;
}

double return_period(double level, double a, double b) {
  if (std::isnan(level) || !(b > 0)) return kUndefined;
  return 1 / dist::gumbel_sf(level, a, b);
}

void analyze_method(const Analysis& in, double a, double b, const Covariance& cov,
                    MethodResult& out) {
  out.a = a;
  out.b = b;
  if (cov.valid()) {
    out.se_a = std::sqrt(cov.aa);
    out.se_b = std::sqrt(cov.bb);
    out.corr_ab = cov.ab / (out.se_a * out.se_b);
  }
  out.prob = in.prob;
  out.quantile = reduced_estimate(a, b, dist::gumbel_reduced_closed(in.prob), cov);
  out.return_levels.clear();
  out.return_levels.reserve(in.periods.size());
  for (double t : in.periods)
    out.return_levels.push_back({t, reduced_estimate(a, b, dist::gumbel_period_reduced(t), cov)});
  out.level = in.level;
  out.level_period = in.level ? return_period(*in.level, a, b) : kUndefined;
  edf_statistics(in.sorted, a, b, out.gof, in.threads);
  chi_square(in.cells, in.sorted.size(), a, b, out.gof);
}

}  // namespace korvalinde::stats
