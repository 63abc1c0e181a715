#include "korvalinde/stats/analyze.hpp"

#include <cmath>

#include "korvalinde/dist/gumbel.hpp"

namespace korvalinde::stats {

Estimate reduced_estimate(double a, double b, double y, const Covariance& cov, double z) {
  Estimate e;
  e.value = a + b * y;
  if (cov.valid() && std::isfinite(e.value)) {
    const double var = cov.aa + 2 * y * cov.ab + y * y * cov.bb;
    e.se = std::sqrt(std::max(0.0, var));
    e.lower = e.value - z * e.se;
    e.upper = e.value + z * e.se;
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
  out.quantile = reduced_estimate(a, b, dist::gumbel_reduced_closed(in.prob), cov, in.z);
  out.return_levels.clear();
  out.return_levels.reserve(in.periods.size());
  for (double t : in.periods)
    out.return_levels.push_back({t, reduced_estimate(a, b, dist::gumbel_period_reduced(t), cov, in.z)});
  out.level = in.level;
  out.level_period = in.level ? return_period(*in.level, a, b) : kUndefined;
  edf_statistics(in.sorted, a, b, out.gof, in.threads);
  chi_square(in.cells, in.sorted.size(), a, b, out.gof);
}

void add_gumbel_profiles(const Analysis& in, double loglik, double crit, MethodResult& out) {
  auto profile = [&](Estimate& e, double y0) {
    if (std::isfinite(e.value))
      e.profile = gumbel_quantile_profile(in.sorted, out.a, out.b, loglik, y0, crit, in.threads);
  };
  profile(out.quantile, dist::gumbel_reduced_closed(in.prob));
  for (ReturnLevel& rl : out.return_levels) profile(rl.level, dist::gumbel_period_reduced(rl.period));
}

void analyze_gev(const Analysis& in, const GevEstimate& e, double crit, GevMethodResult& out) {
  out = GevMethodResult{};
  out.present = true;
  if (!e.ok) {
    out.error = e.error;
    return;
  }
  out.loc = e.d.loc;
  out.scale = e.d.scale;
  out.shape = e.d.shape;
  out.loglik = e.loglik;
  out.iterations = e.iterations;
  if (std::isfinite(e.cov[0][0])) {
    out.cov = e.cov;
    out.se_loc = std::sqrt(e.cov[0][0]);
    out.se_scale = std::sqrt(e.cov[1][1]);
    out.se_shape = std::sqrt(e.cov[2][2]);
  }
  const bool profiles = crit > 0;
  auto level = [&](double y0) {
    Estimate q = gev_quantile(e, y0, in.z);
    if (profiles && std::isfinite(q.value)) q.profile = gev_quantile_profile(e, y0, crit);
    return q;
  };
  out.quantile = level(dist::gumbel_reduced_closed(in.prob));
  out.return_levels.reserve(in.periods.size());
  for (double t : in.periods) out.return_levels.push_back({t, level(dist::gumbel_period_reduced(t))});
  out.shape_interval.value = out.shape;
  out.shape_interval.se = out.se_shape;
  if (std::isfinite(out.se_shape)) {
    out.shape_interval.lower = out.shape - in.z * out.se_shape;
    out.shape_interval.upper = out.shape + in.z * out.se_shape;
  }
  if (profiles) out.shape_interval.profile = gev_shape_profile(e, crit);
  edf_statistics(in.sorted, e.d, out.gof, in.threads);
  chi_square(in.cells, in.sorted.size(), e.d, out.gof);
}

}  // namespace korvalinde::stats
