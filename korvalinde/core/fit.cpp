#include "korvalinde/core/fit.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "korvalinde/core/histogram.hpp"
#include "korvalinde/core/lsfit.hpp"
#include "korvalinde/core/model.hpp"

namespace korvalinde {
namespace {

FitResult failure(FitResult r, std::string message) {
  r.ok = false;
  r.error = std::move(message);
  return r;
}

}  // namespace

std::string check_options(const FitOptions& o) {
  if (o.bins < 1 || o.bins > kMaxBinsFit) return "bins must be 1 to 1000000";
  if (!(o.prob > 0 && o.prob < 1)) return "probability must be in (0, 1)";
  for (const double t : o.periods) {
    if (!(t > 1) || !std::isfinite(t)) return "return periods must be finite and greater than 1";
  }
  if (o.level && !std::isfinite(*o.level)) return "the level must be finite";
  if (o.bootstrap < 0) return "bootstrap replicates must not be negative";
  if (!o.ls && !o.mle && !o.lmom) return "no method chosen";
  return {};
}

FitResult fit_sample(std::span<const double> values, const FitOptions& options,
                     std::string_view name, FitDetail* detail) {
  FitResult r;
  r.file = std::string(name);
  r.n = values.size();
  r.bins = options.bins;
  if (std::string why = check_options(options); !why.empty()) return failure(r, why);
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!std::isfinite(values[i]))
      return failure(r, "value " + std::to_string(i + 1) + " is not finite");
  }
  if (values.size() < 2) {
    return failure(r, "too few values: " + std::to_string(values.size()) +
                          " (at least 2 are needed)");
  }
  extremes(values, r.min, r.max);

  LsWorkspace ws;
  const LsFit ls = fit_ls(values, options.bins, ws);
  if (ls.status == LsFit::Status::NoRange) {
    return failure(r, r.min == r.max ? "all values are equal: no distribution to fit"
                                     : "the values have no usable range for " +
                                           std::to_string(options.bins) + " bins");
  }
  if (ls.status == LsFit::Status::SolverFailed && options.ls) {
    return failure(r, "least-squares fit failed: solver code " + std::to_string(ls.info));
  }
  r.width = ls.dx;
  r.m = ls.m;
  if (options.ls) {
    MethodResult& m = r.ls;
    m.present = true;
    m.a = ls.a;
    m.b = ls.b;
    m.info = ls.info;
    m.nfev = ls.nfev;
    m.sum_sq = ls.sum_sq;
    m.l2 = ls.l2;
    m.serror = ls.serror;
    m.rerror = ls.rerror;
    m.prob = options.prob;
    quantile(options.prob, m.a, m.b, m.quantile.value);
    for (const double t : options.periods) {
      ReturnLevel rl;
      rl.period = t;
      quantile(1 - 1 / t, m.a, m.b, rl.level.value);
      m.return_levels.push_back(rl);
    }
  }
  if (detail != nullptr) {
    detail->centres.assign(ws.x.begin(), ws.x.begin() + ls.m);
    detail->densities.assign(ws.y.begin(), ws.y.begin() + ls.m);
    detail->minimum = ls.minimum;
    detail->dx = ls.dx;
    detail->sorted.assign(values.begin(), values.end());
    std::sort(detail->sorted.begin(), detail->sorted.end());
  }
  r.ok = true;
  return r;
}

}  // namespace korvalinde
