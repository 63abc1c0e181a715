#include "korvalinde/stats/analyze.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "korvalinde/dist/gev.hpp"
#include "korvalinde/dist/gumbel.hpp"

namespace korvalinde::stats {

Estimate reduced_estimate(double a, double b, double y, const Covariance& cov, double z) {
  Estimate e;
  e.value = a + b * y;
  if (cov.valid() && std::isfinite(e.value)) {
    const double var = cov.aa + 2 * y * cov.ab + y * y * cov.bb;
    e.se = cov.unit * std::sqrt(std::max(0.0, var));
    e.lower = e.value - z * e.se;
    e.upper = e.value + z * e.se;
  }
  return e;
}

double return_period(double level, double a, double b) {
  if (std::isnan(level) || !(b > 0)) return kUndefined;
  return 1 / dist::sf(dist::Gumbel{a, b}, level);
}

namespace {

// Gives the levels with a finite value their profile intervals, found in one
// call of `profiles` on the reduced variates y0 of those levels.
template <class Profiles>
void profile_finite(const std::vector<Estimate*>& levels, const std::vector<double>& y0,
                    Profiles profiles) {
  std::vector<double> wanted;
  for (std::size_t i = 0; i < y0.size(); ++i)
    if (std::isfinite(levels[i]->value)) wanted.push_back(y0[i]);
  const std::vector<ProfileInterval> p = profiles(wanted);
  for (std::size_t i = 0, k = 0; i < y0.size(); ++i)
    if (std::isfinite(levels[i]->value)) levels[i]->profile = p[k++];
}

}  // namespace

void analyze_method(const Analysis& in, double a, double b, const Covariance& cov,
                    MethodResult& out) {
  out.a = a;
  out.b = b;
  if (cov.valid()) {
    out.se_a = cov.unit * std::sqrt(cov.aa);
    out.se_b = cov.unit * std::sqrt(cov.bb);
    out.corr_ab = cov.ab / (std::sqrt(cov.aa) * std::sqrt(cov.bb));
  }
  out.prob = in.prob;
  out.quantile = reduced_estimate(a, b, dist::gumbel_reduced_closed(in.prob), cov, in.z);
  out.return_levels.clear();
  out.return_levels.reserve(in.periods.size());
  for (double t : in.periods)
    out.return_levels.push_back({t, reduced_estimate(a, b, dist::gumbel_period_reduced(t), cov, in.z)});
  out.level = in.level;
  out.level_period = in.level ? return_period(*in.level, a, b) : kUndefined;
  if (!in.gof) return;
  edf_statistics(in.sorted, a, b, out.gof, in.threads);
  chi_square(in.cells, in.sorted.size(), a, b, out.gof);
}

void add_gumbel_profiles(const Analysis& in, double loglik, double crit, MethodResult& out) {
  if (!std::isfinite(loglik)) return;
  std::vector<Estimate*> levels{&out.quantile};
  std::vector<double> y0{dist::gumbel_reduced_closed(in.prob)};
  for (ReturnLevel& rl : out.return_levels) {
    levels.push_back(&rl.level);
    y0.push_back(dist::gumbel_period_reduced(rl.period));
  }
  profile_finite(levels, y0, [&](const std::vector<double>& wanted) {
    return gumbel_quantile_profiles(in.sorted, out.a, out.b, wanted, crit, in.threads);
  });
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
  // The quantile first, then the return levels; their profiles in one pass.
  std::vector<double> y0{dist::gumbel_reduced_closed(in.prob)};
  for (double t : in.periods) y0.push_back(dist::gumbel_period_reduced(t));
  std::vector<Estimate> q;
  for (const double y : y0) q.push_back(gev_quantile(e, y, in.z));
  if (profiles) {
    std::vector<Estimate*> levels;
    for (Estimate& x : q) levels.push_back(&x);
    profile_finite(levels, y0, [&](const std::vector<double>& wanted) {
      return gev_quantile_profiles(e, wanted, crit);
    });
  }
  out.quantile = q[0];
  out.return_levels.reserve(in.periods.size());
  for (std::size_t i = 0; i < in.periods.size(); ++i) out.return_levels.push_back({in.periods[i], q[i + 1]});
  out.shape_interval.value = out.shape;
  out.shape_interval.se = out.se_shape;
  if (std::isfinite(out.se_shape)) {
    out.shape_interval.lower = out.shape - in.z * out.se_shape;
    out.shape_interval.upper = out.shape + in.z * out.se_shape;
  }
  if (profiles) out.shape_interval.profile = gev_shape_profile(e, crit);
  const dist::Support sup = support(e.d);
  out.outside_support = static_cast<int>(std::count_if(
      in.sorted.begin(), in.sorted.end(), [&](double x) { return x < sup.lower || x > sup.upper; }));
  if (!in.gof) return;
  edf_statistics(in.sorted, e.d, out.gof, in.threads);
  chi_square(in.cells, in.sorted.size(), e.d, out.gof);
}

}  // namespace korvalinde::stats
