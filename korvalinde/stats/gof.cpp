#include "korvalinde/stats/gof.hpp"

#include <algorithm>
#include <array>
#include <boost/math/distributions/chi_squared.hpp>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "korvalinde/dist/gev.hpp"
#include "korvalinde/dist/gumbel.hpp"
#include "korvalinde/detail/reduce.hpp"
#include "korvalinde/detail/sum.hpp"
#include "korvalinde/detail/vmath.hpp"

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

// The sums of the three statistics over some of the sorted values: the
// largest distance for KS, and the terms of CvM and AD.
struct EdfTerms {
  double d = 0, w2 = 0, ad = 0;
};

struct EdfScale {
  double inv_n, inv_2n, n;  // 1 / n, 1 / 2n, n
};

// Adds the terms of the value of rank `id` (from 1) whose F, ln F and
// ln(1 - F) are given.
[[gnu::always_inline]] inline void add_terms(EdfTerms& t, double id, double f, double log_f,
                                             double log_sf, const EdfScale& s) {
  const double above = id * s.inv_n - f, below = f - (id - 1) * s.inv_n;
  t.d = t.d < above ? above : t.d;
  t.d = t.d < below ? below : t.d;
  const double e = f - (2 * id - 1) * s.inv_2n;
  t.w2 += e * e;
  // sum_i (2i - 1) ln(1 - F_(n+1-i)) = sum_i (2n + 1 - 2i) ln(1 - F_i).
  t.ad += (2 * id - 1) * log_f + (2 * (s.n - id) + 1) * log_sf;
}

// (1 - e^-t) / t - 1 = sum_j>=1 (-t)^j / (j + 1)! for 0 <= t < ln 2, by its
// first 17 terms (the rest below 1e-19 relative): ln(1 - F) = -z + ln(1 +
// this), with no cancellation where F is near 1.
constexpr std::array<double, 17> kOneMinusExp = [] {
  std::array<double, 17> c{};
  double factorial = 1;
  for (int j = 1; j <= 17; ++j) {
    factorial *= j + 1;
    c[static_cast<std::size_t>(j - 1)] = (j % 2 == 0 ? 1 : -1) / factorial;
  }
  return c;
}();

EdfTerms in_lanes(const double* d, const double* w2, const double* ad, std::size_t n);

// The GEV's L = z ln(1 + xi z) / (xi z) (z where xi z = 0) at the reduced
// value z, without branches; `inside` is all ones where 1 + xi z > 0 (L is
// then 0 outside).
[[gnu::always_inline]] inline double gev_big_l(double z, double xi, std::uint64_t& inside) {
  const double u = xi * z;
  inside = detail::less_mask(-1.0, u);
  const double us = detail::pick(inside, u, 0.0);
  const double ratio =
      detail::pick(detail::less_mask(std::fabs(us), 1e-300), 1.0, detail::vlog1p(us) / us);
  return detail::pick(inside, z, 0.0) * ratio;
}

// The Gumbel's terms of n <= kBlock finite sorted values, the first of rank
// `first_id`: F = e^-t, ln F = -t, and ln(1 - F) from ln(1 - F) itself where
// F <= 1/2, from the series above where F > 1/2. Each value's terms in a loop
// that vectorises, then added in eight fixed lanes combined in a fixed order:
// the same bits at every vector width.
KORVALINDE_HOT_CLONES EdfTerms gumbel_terms(const double* x, std::size_t n, double first_id,
                                            double loc, double scale, const EdfScale& s) {
  constexpr double kLn2 = std::numbers::ln2;
  std::array<double, detail::kBlock> d, w2, ad;
  const EdfScale sc = s;
  const int m = static_cast<int>(n);  // an int index converts to double in vector registers
  for (int i = 0; i < m; ++i) {
    const double z = (x[i] - loc) / scale;
    const double e = detail::vexp(-z);
    const double f = detail::vexp(-e);
    const std::uint64_t near = detail::less_mask(e, kLn2);
    const double r = detail::vlog1p(detail::pick(near, e * detail::poly(kOneMinusExp, e), -f));
    const double log_sf = detail::pick(near, -z + r, r);
    EdfTerms t;
    add_terms(t, first_id + i, f, -e < dist::kLogTiny ? dist::kLogTiny : -e,
              log_sf < dist::kLogTiny ? dist::kLogTiny : log_sf, sc);
    d[i] = t.d;
    w2[i] = t.w2;
    ad[i] = t.ad;
  }
  return in_lanes(d.data(), w2.data(), ad.data(), n);
}

// The GEV's terms, as gumbel_terms does them, in L: F = e^-t with t = e^-L. A value outside the support has F = 0 below it
// (xi > 0) and 1 above it (xi < 0).
KORVALINDE_HOT_CLONES EdfTerms gev_terms(const double* x, std::size_t n, double first_id,
                                         const dist::Gev& g, const EdfScale& s) {
  constexpr double kLn2 = std::numbers::ln2;
  std::array<double, detail::kBlock> d, w2, ad;
  const EdfScale sc = s;
  const double loc = g.loc, scale = g.scale, xi = g.shape;
  // Outside the support: F, and the masks of ln F and ln(1 - F) floored.
  const double f_out = xi > 0 ? 0.0 : 1.0;
  const std::uint64_t log_f_out = xi > 0 ? ~std::uint64_t{0} : 0;
  const int m = static_cast<int>(n);
  for (int i = 0; i < m; ++i) {
    std::uint64_t inside;
    const double l = gev_big_l((x[i] - loc) / scale, xi, inside);
    const double e = detail::vexp(-l);
    const double f = detail::vexp(-e);
    const std::uint64_t near = detail::less_mask(e, kLn2);
    const double r = detail::vlog1p(detail::pick(near, e * detail::poly(kOneMinusExp, e), -f));
    double log_sf = detail::pick(near, -l + r, r);
    double log_f = -e;
    log_f = log_f < dist::kLogTiny ? dist::kLogTiny : log_f;
    log_sf = log_sf < dist::kLogTiny ? dist::kLogTiny : log_sf;
    EdfTerms t;
    add_terms(t, first_id + i, detail::pick(inside, f, f_out),
              detail::pick(inside, log_f, detail::pick(log_f_out, dist::kLogTiny, 0.0)),
              detail::pick(inside, log_sf, detail::pick(log_f_out, 0.0, dist::kLogTiny)), sc);
    d[i] = t.d;
    w2[i] = t.w2;
    ad[i] = t.ad;
  }
  return in_lanes(d.data(), w2.data(), ad.data(), n);
}

// The sums of n terms (the largest d) in eight fixed lanes combined in a
// fixed order: the same bits at every vector width.
EdfTerms in_lanes(const double* d, const double* w2, const double* ad, std::size_t n) {
  constexpr std::size_t kLanes = 8;
  std::array<double, kLanes> ld{}, lw2{}, lad{};
  std::size_t i = 0;
  for (; i + kLanes <= n; i += kLanes) {
    for (std::size_t l = 0; l < kLanes; ++l) {
      ld[l] = ld[l] < d[i + l] ? d[i + l] : ld[l];
      lw2[l] += w2[i + l];
      lad[l] += ad[i + l];
    }
  }
  for (std::size_t l = 0; i < n; ++i, ++l) {
    ld[l] = ld[l] < d[i] ? d[i] : ld[l];
    lw2[l] += w2[i];
    lad[l] += ad[i];
  }
  EdfTerms t{ld[0], lw2[0], lad[0]};
  for (std::size_t l = 1; l < kLanes; ++l) {
    t.d = std::max(t.d, ld[l]);
    t.w2 += lw2[l];
    t.ad += lad[l];
  }
  return t;
}

// terms(x, m, first_id, scale) gives the terms of m sorted values.
template <class Terms>
void edf(std::span<const double> sorted, const Terms& terms, Gof& gof, unsigned threads) {
  const std::size_t n = sorted.size();
  const auto nd = static_cast<double>(n);
  const EdfScale scale{1 / nd, 1 / (2 * nd), nd};
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
    const EdfTerms t = terms(sorted.data() + i, end - i, static_cast<double>(i + 1), scale);
    r.d = std::max(r.d, t.d);
    r.w2.add(t.w2);
    r.ad.add(t.ad);
  });
  gof.ks = acc.d;
  gof.cvm = 1 / (12 * nd) + acc.w2.value();
  gof.ad = -nd - acc.ad.value() / nd;
}

// F and 1 - F of the GEV g at the edges minimum + i dx, i = 1 to m - 1 (0
// and 1 at the ends), in a loop that vectorises: 1 - F from t (1 + t P(t))
// where t < ln 2 (F > 1/2), P the series of kOneMinusExp, so that the upper
// tail keeps its digits.
KORVALINDE_HOT_CLONES void edge_laws(double minimum, double dx, std::size_t m, const dist::Gev& g,
                                     double* cdf, double* sf) {
  constexpr double kLn2 = std::numbers::ln2;
  const double loc = g.loc, scale = g.scale, xi = g.shape;
  const double f_out = xi > 0 ? 0.0 : 1.0;  // outside the support
  const int edges = static_cast<int>(m);  // an int converts to double in vector registers
  for (int i = 1; i < edges; ++i) {
    const double z = ((minimum + static_cast<double>(i) * dx) - loc) / scale;
    std::uint64_t inside;
    const double t = detail::vexp(-gev_big_l(z, xi, inside));
    const double f = detail::vexp(-t);
    const double series = t + t * (t * detail::poly(kOneMinusExp, t));
    const double s = detail::pick(detail::less_mask(t, kLn2), series, 1 - f);
    cdf[i] = detail::pick(inside, f, f_out);
    sf[i] = detail::pick(inside, s, 1 - f_out);
  }
  cdf[0] = sf[m] = 0;
  cdf[m] = sf[0] = 1;
}

void chi2(const Cells& cells, std::size_t n, const dist::Gev& dd, int parameters, Gof& gof) {
  const std::size_t m = cells.counts.size();
  const auto nd = static_cast<double>(n);
  // Probability of [left edge, right edge): from F below the median and from
  // 1 - F above it, so that tail cells keep their digits.
  std::vector<double> f_edges(m + 1), s_edges(m + 1);
  edge_laws(cells.minimum, cells.dx, m, dd, f_edges.data(), s_edges.data());
  auto cdf = [&](std::size_t i) { return f_edges[i]; };
  auto sf = [&](std::size_t i) { return s_edges[i]; };
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
  if (!std::isfinite(sorted.front()) || !std::isfinite(sorted.back())) {
    gof.ks = gof.cvm = gof.ad = kUndefined;
    return;
  }
  edf(
      sorted,
      [&](const double* x, std::size_t m, double first_id, const EdfScale& s) {
        return gumbel_terms(x, m, first_id, a, b, s);
      },
      gof, threads);
}

void edf_statistics(std::span<const double> sorted, const dist::Gev& d, Gof& gof,
                    unsigned threads) {
  if (sorted.empty() || !usable(d.loc, d.scale) || !std::isfinite(d.shape)) {
    gof.ks = gof.cvm = gof.ad = kUndefined;
    return;
  }
  edf(
      sorted,
      [&](const double* x, std::size_t m, double first_id, const EdfScale& s) {
        return gev_terms(x, m, first_id, d, s);
      },
      gof, threads);
}

void chi_square(const Cells& cells, std::size_t n, double a, double b, Gof& gof) {
  gof.chi2 = kUndefined;
  gof.chi2_df = 0;
  gof.chi2_p = kUndefined;
  if (cells.counts.empty() || n == 0 || !usable(a, b)) return;
  chi2(cells, n, dist::Gev{a, b, 0}, 2, gof);
}

void chi_square(const Cells& cells, std::size_t n, const dist::Gev& d, Gof& gof) {
  gof.chi2 = kUndefined;
  gof.chi2_df = 0;
  gof.chi2_p = kUndefined;
  if (cells.counts.empty() || n == 0 || !usable(d.loc, d.scale) || !std::isfinite(d.shape)) return;
  chi2(cells, n, d, 3, gof);
}

}  // namespace korvalinde::stats
