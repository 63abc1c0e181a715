// The statistics fit_many gives for each slice, named after the keys of the
// record that fit gives (nested keys joined by "_": mle_quantile_lower,
// gev_mle_rl_profile_upper, gumbel_test_shape_se, ...). One description
// serves both to lay out the output arrays and to fill them, so the two
// cannot drift apart. Which statistics there are depends on the options only;
// a slice or a method without a result gives NaN for all of its own.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "korvalinde/core/family_fit.hpp"
#include "korvalinde/core/fit.hpp"
#include "korvalinde/records/result.hpp"

namespace korvalinde::python {

// The trailing axis of a statistic: none, the return periods, or the 3 x 3
// covariance of the GEV's (loc, scale, shape).
enum class Axis { none, periods, matrix };

// Calls out.column(prefix, name, suffix, axis, value) for every statistic in
// order; value(k) is the k-th number along its axis.
template <class Out>
void each_statistic(const FitResult& r, const FitOptions& o, std::span<const Method> methods,
                    Out& out) {
  using std::string_view;
  auto scalar = [&](string_view prefix, string_view name, bool have, double v) {
    out.column(prefix, name, "", Axis::none, [&](std::size_t) { return have ? v : kUndefined; });
  };
  // An estimate's value and standard error (with `point`), normal bounds, and
  // (with `profile`) profile-likelihood bounds; at(k) is null where none is.
  auto estimate = [&](string_view prefix, string_view name, Axis axis, auto at, bool point,
                      bool profile) {
    auto part = [&](string_view suffix, auto field) {
      out.column(prefix, name, suffix, axis, [&](std::size_t k) {
        const Estimate* e = at(k);
        return e ? field(*e) : kUndefined;
      });
    };
    if (point) {
      part("", [](const Estimate& e) { return e.value; });
      part("_se", [](const Estimate& e) { return e.se; });
    }
    part("_lower", [](const Estimate& e) { return e.lower; });
    part("_upper", [](const Estimate& e) { return e.upper; });
    if (profile) {
      part("_profile_lower",
           [](const Estimate& e) { return e.profile ? e.profile->lower.value : kUndefined; });
      part("_profile_upper",
           [](const Estimate& e) { return e.profile ? e.profile->upper.value : kUndefined; });
    }
  };
  auto one = [](bool have, const Estimate& e) {
    return [at = have ? &e : nullptr](std::size_t) { return at; };
  };
  auto levels = [&](string_view prefix, bool have, const std::vector<ReturnLevel>& l,
                    bool profile) {
    estimate(prefix, "rl", Axis::periods, [&l, have](std::size_t k) {
      return have && k < l.size() ? &l[k].level : nullptr;
    }, true, profile);
  };
  auto gof = [&](string_view prefix, bool have, const Gof& g, bool p_values) {
    scalar(prefix, "ks", have, g.ks);
    scalar(prefix, "cvm", have, g.cvm);
    scalar(prefix, "ad", have, g.ad);
    scalar(prefix, "chi2", have, g.chi2);
    scalar(prefix, "chi2_df", have, g.chi2_df);
    scalar(prefix, "chi2_p", have, g.chi2_p);
    if (p_values) {
      scalar(prefix, "ks_p", have, g.ks_p);
      scalar(prefix, "cvm_p", have, g.cvm_p);
      scalar(prefix, "ad_p", have, g.ad_p);
    }
  };

  scalar("", "min", r.ok, r.min);
  scalar("", "max", r.ok, r.max);
  scalar("", "width", r.ok, r.width);
  scalar("", "m", r.ok, r.m);
  for (const Method method : methods) {
    static constexpr string_view kPrefix[] = {"ls_", "mle_", "lmom_"};
    static constexpr string_view kGevPrefix[] = {"gev_ls_", "gev_mle_", "gev_lmom_"};
    const string_view p = kPrefix[static_cast<int>(method)];
    const bool mle = method == Method::mle;
    const bool profile = mle && o.profiles;  // profile-likelihood bounds
    const bool gumbel_profile = profile && o.gumbel;
    const MethodResult& m = result_of(r, method);
    const bool have = r.ok && m.present && m.error.empty();
    scalar(p, "a", have, m.a);
    scalar(p, "b", have, m.b);
    scalar(p, "se_a", have, m.se_a);
    scalar(p, "se_b", have, m.se_b);
    scalar(p, "corr_ab", have, m.corr_ab);
    if (method == Method::ls) {
      scalar(p, "info", have, m.info);
      scalar(p, "nfev", have, m.nfev);
      scalar(p, "sum_sq", have, m.sum_sq);
      scalar(p, "l2", have, m.l2);
      scalar(p, "serror", have, m.serror);
      scalar(p, "rerror", have, m.rerror);
    }
    if (mle) {
      scalar(p, "loglik", have, m.loglik);
      scalar(p, "iterations", have, m.iterations);
    }
    estimate(p, "quantile", Axis::none, one(have, m.quantile), true, gumbel_profile);
    levels(p, have, m.return_levels, gumbel_profile);
    if (o.level) scalar(p, "level_period", have, m.level_period);
    gof(p, have, m.gof, true);

    if (mle) {  // the Gumbel check, with maximum likelihood
      const GumbelTestResult& t = r.gumbel_test;
      const bool test = r.ok && t.present;
      scalar("gumbel_test_", "statistic", test, t.statistic);
      scalar("gumbel_test_", "df", test, t.df);
      scalar("gumbel_test_", "p", test, t.p);
      estimate("gumbel_test_", "shape", Axis::none, one(test, t.shape), true, profile);
    }
    if (o.gev && method != Method::ls) {
      const string_view g = kGevPrefix[static_cast<int>(method)];
      const GevMethodResult& e = mle ? r.gev.mle : r.gev.lmom;
      const bool fitted = r.ok && e.present && e.error.empty();
      scalar(g, "loc", fitted, e.loc);
      scalar(g, "scale", fitted, e.scale);
      scalar(g, "shape", fitted, e.shape);
      scalar(g, "se_loc", fitted, e.se_loc);
      scalar(g, "se_scale", fitted, e.se_scale);
      scalar(g, "se_shape", fitted, e.se_shape);
      out.column(g, "cov", "", Axis::matrix, [&](std::size_t k) {
        return fitted ? e.cov[k / 3][k % 3] : kUndefined;
      });
      if (mle) {
        scalar(g, "loglik", fitted, e.loglik);
        scalar(g, "iterations", fitted, e.iterations);
      }
      estimate(g, "quantile", Axis::none, one(fitted, e.quantile), true, profile);
      levels(g, fitted, e.return_levels, profile);
      estimate(g, "shape", Axis::none, one(fitted, e.shape_interval), false, profile);
      if (o.level) scalar(g, "level_period", fitted, e.level_period);
      gof(g, fitted, e.gof, false);
    }
  }
  // The further families in the order asked for: {dist}_{method}_{name} of
  // every parameter name, its se_, the quantile, levels and EDF statistics;
  // {dist}_lmom_distance; and the sample's lmoments_l1 ... lmoments_t5.
  bool further = false;
  for (const std::string& d : o.order) {
    if (!is_family(d)) continue;
    further = true;
    const FamilyResult* f = nullptr;
    if (r.ok && r.families) {
      for (const FamilyResult& x : r.families->fits) {
        if (x.dist == d) f = &x;
      }
    }
    const std::vector<std::string>& names = family_parameter_names(d);
    for (const Method method : methods) {
      if (method == Method::ls) continue;
      const bool mle = method == Method::mle;
      const std::string p = d + (mle ? "_mle_" : "_lmom_");
      static const FamilyMethodResult kNone;
      const FamilyMethodResult& m = f ? (mle ? f->mle : f->lmom) : kNone;
      const bool have = f && m.present && m.error.empty() && m.params.size() == names.size();
      for (std::size_t k = 0; k < names.size(); ++k) scalar(p, names[k], have, have ? m.params[k].value : kUndefined);
      for (std::size_t k = 0; k < names.size(); ++k)
        scalar(p, "se_" + names[k], have, have ? m.params[k].se : kUndefined);
      if (mle) scalar(p, "loglik", have, m.loglik);
      estimate(p, "quantile", Axis::none, one(have, m.quantile), true, false);
      levels(p, have, m.return_levels, false);
      if (o.level) scalar(p, "level_period", have, m.level_period);
      scalar(p, "ks", have, m.gof.ks);
      scalar(p, "cvm", have, m.gof.cvm);
      scalar(p, "ad", have, m.gof.ad);
      scalar(p, "ad_p", have, m.gof.ad_p);
    }
    scalar(d + "_", "lmom_distance", f != nullptr, f ? f->lmom_distance : kUndefined);
  }
  if (further) {
    const bool have = r.ok && r.families;
    const LmomentsRecord& l = have ? r.families->lmoments : LmomentsRecord{};
    scalar("lmoments_", "l1", have, l.l1);
    scalar("lmoments_", "l2", have, l.l2);
    scalar("lmoments_", "t", have, l.t);
    scalar("lmoments_", "t3", have, l.t3);
    scalar("lmoments_", "t4", have, l.t4);
    scalar("lmoments_", "t5", have, l.t5);
  }
}

}  // namespace korvalinde::python
