#include "korvalinde/stats/gof.hpp"

#include <algorithm>
#include <bit>
#include <boost/math/distributions/chi_squared.hpp>
#include <cmath>
#include <cstdint>
#include <limits>

#include "korvalinde/dist/gev.hpp"
#include "korvalinde/dist/gumbel.hpp"
#include "korvalinde/detail/reduce.hpp"
#include "korvalinde/detail/sum.hpp"

namespace korvalinde::stats {

std::vector<double> cell_counts(std::span<const double> x, double minimum, double dx, int m) {
  std::vector<double> counts(static_cast<std::size_t>(std::max(m, 0)), 0.0);
  if (m <= 0) return counts;
  for (double v : x) {
    const double pos = (v - minimum) / dx;
    int i = pos >= 0 ? (pos < m ? static_cast<int>(pos) : m - 1) : 0;  // NaN goes to 0
    counts[static_cast<std::size_t>(i)] += 1;
  }
  return counts;
}

namespace {

// F, ln F and ln(1 - F) at one value, the logs never below the log of the
// smallest double. The same arithmetic as dist::cdf, log_cdf and log_sf, with
// the reduced variate and t = e^-L computed once for all three.
struct CdfLogs {
  double f, log_f, log_sf;
};

CdfLogs floor_logs(double f, double log_f, double log_sf) {
  return {f, std::max(log_f, dist::kLogTiny), std::max(log_sf, dist::kLogTiny)};
}

CdfLogs cdf_logs(const dist::Gumbel& d, double x) {
  const double z = (x - d.loc) / d.scale;
  const double t = std::exp(-z);
  return floor_logs(std::exp(-t), -t, t < 1e-8 ? -z - 0.5 * t : std::log(-std::expm1(-t)));
}

CdfLogs cdf_logs(const dist::Gev& d, double x) {
  const double l = dist::detail_gev::big_l(d, x);
  if (std::isnan(l)) {
    if (std::isnan(x)) return floor_logs(l, l, l);
    constexpr double inf = std::numeric_limits<double>::infinity();
    return dist::detail_gev::below(d) ? floor_logs(0.0, -inf, 0.0) : floor_logs(1.0, 0.0, -inf);
  }
  const double t = std::exp(-l);
  return floor_logs(std::exp(-t), -t, t < 1e-8 ? -l - 0.5 * t : std::log(-std::expm1(-t)));
}

template <class D>
void edf(std::span<const double> sorted, const D& dd, Gof& gof, unsigned threads) {
  const std::size_t n = sorted.size();
  const auto nd = static_cast<double>(n);
  struct Acc {
    double d = 0;
    detail::Sum w2, ad;
    void merge(const Acc& o) {
      d = std::max(d, o.d);
      w2.add(o.w2);
      ad.add(o.ad);
    }
  };
  const Acc acc = detail::block_reduce<Acc>(n, threads, [&](std::size_t i, std::size_t end, Acc& r) {
    double d = 0, w2 = 0, ad = 0;
    // A value equal to the one before it (bit for bit) has its point: a
    // sample of few decimals repeats many values.
    CdfLogs p{};
    std::uint64_t last = 0;
    for (const std::size_t first = i; i < end; ++i) {
      const auto bits = std::bit_cast<std::uint64_t>(sorted[i]);
      if (i == first || bits != last) p = cdf_logs(dd, sorted[i]);
      last = bits;
      const double f = p.f;
      const auto id = static_cast<double>(i + 1);
      d = std::max({d, id / nd - f, f - (id - 1) / nd});
      const double e = f - (2 * id - 1) / (2 * nd);
      w2 += e * e;
      // sum_i (2i - 1) ln(1 - F_(n+1-i)) = sum_i (2n + 1 - 2i) ln(1 - F_i).
      ad += (2 * id - 1) * p.log_f + (2 * (nd - id) + 1) * p.log_sf;
    }
    r.d = std::max(r.d, d);
    r.w2.add(w2);
    r.ad.add(ad);
  });
  gof.ks = acc.d;
  gof.cvm = 1 / (12 * nd) + acc.w2.value();
  gof.ad = -nd - acc.ad.value() / nd;
}

template <class D>
void chi2(const Cells& cells, std::size_t n, const D& dd, int parameters, Gof& gof) {
  const std::size_t m = cells.counts.size();
  const auto nd = static_cast<double>(n);
  // Probability of [left edge, right edge): from F below the median and from
  // 1 - F above it, so that tail cells keep their digits.
  auto cdf = [&](std::size_t i) {
    return i == 0   ? 0.0
           : i == m ? 1.0
                    : dist::cdf(dd, cells.minimum + static_cast<double>(i) * cells.dx);
  };
  auto sf = [&](std::size_t i) {
    return i == 0   ? 1.0
           : i == m ? 0.0
                    : dist::sf(dd, cells.minimum + static_cast<double>(i) * cells.dx);
  };
  detail::Sum x2;
  double obs = 0, expct = 0;
  double last_obs = 0, last_exp = 0;  // the last closed group, not yet added
  int groups = 0;
  // Each edge's F and 1 - F computed once: the right edge of a cell is the
  // left edge of the next.
  double fl = cdf(0), sl = kUndefined;
  bool has_sl = false;
  for (std::size_t i = 0; i < m; ++i) {
    const double fr = cdf(i + 1);
    double p;
    if (fr <= 0.5) {
      p = fr - fl;
      has_sl = false;
    } else {
      if (!has_sl) sl = sf(i);
      const double sr = sf(i + 1);
      p = sl - sr;
      sl = sr;
      has_sl = true;
    }
    fl = fr;
    obs += cells.counts[i];
    expct += nd * p;
    if (expct >= 5) {
      if (groups > 0) x2.add((last_obs - last_exp) * (last_obs - last_exp) / last_exp);
      last_obs = obs;
      last_exp = expct;
      ++groups;
      obs = expct = 0;
    }
  }
  if (groups == 0) {
    last_obs = obs;
    last_exp = expct;
    groups = 1;
  } else {
    last_obs += obs;  // a remainder below 5 joins the last group
    last_exp += expct;
  }
  if (last_exp > 0) x2.add((last_obs - last_exp) * (last_obs - last_exp) / last_exp);
  gof.chi2 = x2.value();
  gof.chi2_df = groups - 1 - parameters;
  if (gof.chi2_df >= 1 && std::isfinite(gof.chi2)) {
    using namespace boost::math::policies;
    using Quiet = policy<domain_error<ignore_error>, overflow_error<ignore_error>,
                         evaluation_error<ignore_error>, pole_error<ignore_error>,
                         rounding_error<ignore_error>>;
    const boost::math::chi_squared_distribution<double, Quiet> dist(gof.chi2_df);
    gof.chi2_p = boost::math::cdf(boost::math::complement(dist, gof.chi2));
  }
}

bool usable(double loc, double scale) { return std::isfinite(loc) && std::isfinite(scale) && scale > 0; }

}  // namespace

void edf_statistics(std::span<const double> sorted, double a, double b, Gof& gof,
                    unsigned threads) {
  if (sorted.empty() || !usable(a, b)) {
    gof.ks = gof.cvm = gof.ad = kUndefined;
    return;
  }
  edf(sorted, dist::Gumbel{a, b}, gof, threads);
}

void edf_statistics(std::span<const double> sorted, const dist::Gev& d, Gof& gof,
                    unsigned threads) {
  if (sorted.empty() || !usable(d.loc, d.scale) || !std::isfinite(d.shape)) {
    gof.ks = gof.cvm = gof.ad = kUndefined;
    return;
  }
  edf(sorted, d, gof, threads);
}

void chi_square(const Cells& cells, std::size_t n, double a, double b, Gof& gof) {
  gof.chi2 = kUndefined;
  gof.chi2_df = 0;
  gof.chi2_p = kUndefined;
  if (cells.counts.empty() || n == 0 || !usable(a, b)) return;
  chi2(cells, n, dist::Gumbel{a, b}, 2, gof);
}

void chi_square(const Cells& cells, std::size_t n, const dist::Gev& d, Gof& gof) {
  gof.chi2 = kUndefined;
  gof.chi2_df = 0;
  gof.chi2_p = kUndefined;
  if (cells.counts.empty() || n == 0 || !usable(d.loc, d.scale) || !std::isfinite(d.shape)) return;
  chi2(cells, n, d, 3, gof);
}

}  // namespace korvalinde::stats
