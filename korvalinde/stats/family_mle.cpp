#include "korvalinde/stats/family_mle.hpp"

#include <algorithm>
#include <boost/math/special_functions/digamma.hpp>
#include <boost/math/special_functions/gamma.hpp>
#include <boost/math/special_functions/trigamma.hpp>
#include <cmath>
#include <numbers>
#include <vector>

#include "korvalinde/detail/parallel.hpp"
#include "korvalinde/detail/sum.hpp"
#include "korvalinde/dist/exponential.hpp"
#include "korvalinde/dist/glo.hpp"
#include "korvalinde/dist/gno.hpp"
#include "korvalinde/dist/lognormal.hpp"
#include "korvalinde/dist/lp3.hpp"
#include "korvalinde/dist/normal.hpp"
#include "korvalinde/dist/pe3.hpp"
#include "korvalinde/dist/ratios.hpp"
#include "korvalinde/dist/weibull.hpp"
#include "korvalinde/stats/lmoment_influence.hpp"
#include "korvalinde/stats/lmoments.hpp"
#include "korvalinde/stats/profile.hpp"

namespace korvalinde::stats {

namespace {

constexpr double kNaN = kUndefined;
constexpr double kHalfLog2Pi = 0.91893853320467274178;

// ---------------------------------------------------------------------------
// Names.

struct Names {
  Family f;
  const char* name;
  const char* title;
  std::size_t k;
  std::array<const char*, 3> params;
};
constexpr std::array<Names, 8> kNames{{
    {Family::Glo, "glo", "GLO", 3, {"loc", "scale", "shape"}},
    {Family::Gno, "gno", "GNO", 3, {"loc", "scale", "shape"}},
    {Family::Pe3, "pe3", "PE3", 3, {"mean", "sd", "skew"}},
    {Family::Lp3, "lp3", "LP3", 3, {"mean", "sd", "skew"}},
    {Family::Weibull, "weibull", "Weibull", 3, {"loc", "scale", "shape"}},
    {Family::Exponential, "exp", "exponential", 2, {"loc", "scale", ""}},
    {Family::Normal, "normal", "normal", 2, {"mean", "sd", ""}},
    {Family::Lognormal, "lognormal", "lognormal", 2, {"meanlog", "sdlog", ""}},
}};
const Names& names(Family f) { return kNames[static_cast<std::size_t>(f)]; }

FamilyFit refused(Family f, std::size_t n, const std::string& why) {
  FamilyFit r;
  r.family = f;
  r.n = n;
  r.error = std::string(names(f).title) + ": " + why;
  return r;
}

// ---------------------------------------------------------------------------
// A function of one variable with its first two derivatives.

struct F3 {
  double f, d1, d2;
};

// Sums c0 + c1 t + c2 t^2 + ... of a series in t = -u and of its first two
// derivatives in u, by Horner's rule over the first `terms` coefficients:
// fewer for small |u|, where the terms fall faster.
template <std::size_t N>
F3 series3(const std::array<double, N>& c, double u) {
  const double a = std::fabs(u);
  const std::size_t terms = a < 0.01 ? 10 : a < 0.05 ? 14 : N;
  const double t = -u;
  double f = 0, d1 = 0, d2 = 0;
  for (std::size_t k = terms; k-- > 0;) {
    d2 = d2 * t + 2 * d1;
    d1 = d1 * t + f;
    f = f * t + c[k];
  }
  return {f, -d1, d2};  // d/du = -d/dt
}

template <std::size_t N, class Term>
constexpr std::array<double, N> coefficients(Term term) {
  std::array<double, N> c{};
  for (std::size_t k = 0; k < N; ++k) c[k] = term(static_cast<double>(k));
  return c;
}

// ln(1 + u) / u = sum (-u)^k / (k + 1); the series below |u| = 0.15 (21
// terms reach 1e-18), where the closed forms of the derivatives cancel.
F3 log1p_ratio3(double u) {
  static constexpr auto c = coefficients<21>([](double k) { return 1 / (k + 1); });
  if (std::fabs(u) < 0.15) return series3(c, u);
  const double f = std::log1p(u) / u, r = 1 / (1 + u);
  const double d1 = (r - f) / u;
  return {f, d1, (-r * r - 2 * d1) / u};
}

// (ln(1 + u) - u) / u^2 = -sum (-u)^k / (k + 2).
F3 log1pmx_ratio3(double u) {
  static constexpr auto c = coefficients<21>([](double k) { return -1 / (k + 2); });
  if (std::fabs(u) < 0.15) return series3(c, u);
  const double f = (std::log1p(u) - u) / (u * u);
  const double d1 = -1 / (u * (1 + u)) - 2 * f / u;
  const double d2 = (1 + 2 * u) / (u * u * (1 + u) * (1 + u)) - 2 * d1 / u + 2 * f / (u * u);
  return {f, d1, d2};
}

// (e^v - 1) / v = sum v^k / (k + 1)!.
F3 expm1_ratio3(double v) {
  if (std::fabs(v) < 0.5) {
    double f = 0, d1 = 0, d2 = 0, t = 1;  // t = v^k / (k + 1)!
    for (int k = 0; k < 24; ++k) {
      f += t;
      t *= v / (k + 2);
    }
    // d1 = sum_{k>=1} k v^(k-1) / (k+1)!, d2 = sum_{k>=2} k (k-1) v^(k-2) / (k+1)!.
    double c = 1.0 / 2;  // 1 / (k + 1)! at k = 1
    double pw = 1;       // v^(k - 1)
    for (int k = 1; k < 24; ++k) {
      d1 += k * pw * c;
      c /= k + 2;
      pw *= v;
    }
    c = 1.0 / 6;
    pw = 1;
    for (int k = 2; k < 24; ++k) {
      d2 += k * (k - 1) * pw * c;
      c /= k + 2;
      pw *= v;
    }
    return {f, d1, d2};
  }
  const double e = std::exp(v), f = std::expm1(v) / v, d1 = (e - f) / v;
  return {f, d1, (e - 2 * d1) / v};
}

// T(s) = ln Gamma(a) - (a - 1/2) ln a + a - ln(2 pi) / 2 at a = 4 / s^2, the
// Stirling remainder of the Pearson III's gamma shape, in the skew s: the
// asymptotic series in 1/a = s^2 / 4 for |s| <= 0.6 (a >= 11, the eighth
// term below 1e-17), Boost's log-gamma and polygamma functions above.
F3 stirling_of_skew(double s) {
  if (std::fabs(s) <= 0.6) {
    static constexpr std::array<double, 8> c{1.0 / 12,    -1.0 / 360,  1.0 / 1260,         -1.0 / 1680,
                                             1.0 / 1188,  -691.0 / 360360, 1.0 / 156, -3617.0 / 122400};
    const double v = s * s / 4, dv = s / 2;  // v'' = 1/2
    double t = 0, tv = 0, tvv = 0;           // T and its derivatives in v
    for (std::size_t k = 0; k < c.size(); ++k) {
      const double e = static_cast<double>(2 * k + 1);  // T = sum c_k v^e
      t += c[k] * std::pow(v, e);
      tv += c[k] * e * std::pow(v, e - 1);
      if (k > 0) tvv += c[k] * e * (e - 1) * std::pow(v, e - 2);
    }
    return {t, tv * dv, tvv * dv * dv + tv / 2};
  }
  const double a = 4 / (s * s), la = std::log(a);
  const double t = boost::math::lgamma(a, dist::special::Policy()) - (a - 0.5) * la + a - kHalfLog2Pi;
  const double ta = boost::math::digamma(a, dist::special::Policy()) - la + 1 / (2 * a);
  const double taa = boost::math::trigamma(a, dist::special::Policy()) - 1 / a - 1 / (2 * a * a);
  const double as = -8 / (s * s * s), ass = 24 / (s * s * s * s);
  return {t, ta * as, taa * as * as + ta * ass};
}

// ---------------------------------------------------------------------------
// The log-density of one standardised value z = (x - loc) / scale, without
// the -ln scale and the per-sample constant, and its derivatives in z and
// the shape s; false outside the support.

struct Point {
  double v, z, s, zz, zs, ss;
};

// GLO and GNO: q = G(y, s) with the reduced variate y = z ln(1 + s z)/(s z).
// y_z = 1 / (1 + u), y_s = z^2 phi'(u), y_zz = -s / (1 + u)^2,
// y_zs = -z / (1 + u)^2, y_ss = z^3 phi''(u), u = s z.
template <bool kLogistic>
bool point_shape(double z, double s, Point& q) {
  const double u = s * z;
  if (!(u > -1)) return false;
  const F3 ph = log1p_ratio3(u);
  const double y = z * ph.f, r = 1 / (1 + u);
  const double yz = r, ys = z * z * ph.d1, yzz = -s * r * r, yzs = -z * r * r, yss = z * z * z * ph.d2;
  double g, gy, gyy;
  if constexpr (kLogistic) {
    // ln F + ln(1 - F) = -|y| - 2 ln(1 + e^-|y|), derivative -tanh(y / 2),
    // second derivative -2 F (1 - F).
    const double e = std::exp(-std::fabs(y));
    g = -std::fabs(y) - 2 * std::log1p(e) - s * y;
    gy = -std::copysign((1 - e) / (1 + e), y) - s;
    gyy = -2 * e / ((1 + e) * (1 + e));
  } else {
    g = -s * y - 0.5 * y * y;
    gy = -s - y;
    gyy = -1;
  }
  // G_s = -y, G_ys = -1, G_ss = 0 in both.
  q.v = g;
  q.z = gy * yz;
  q.s = -y + gy * ys;
  q.zz = gyy * yz * yz + gy * yzz;
  q.zs = (gyy * ys - 1) * yz + gy * yzs;
  q.ss = -2 * ys + gyy * ys * ys + gy * yss;
  return std::isfinite(q.v) && std::isfinite(q.ss) && std::isfinite(q.zz);
}

// Pearson III (mean, sd, skew s): ln f = -ln sd - ln(2 pi)/2 - T(s)
// + z^2 psi(m) - ln(1 + m), m = s z / 2, psi(m) = (ln(1 + m) - m) / m^2; the
// gamma law's density rewritten so that nothing cancels as s -> 0.
bool point_pe3(double z, double s, Point& q) {
  const double m = s * z / 2;
  if (!(m > -1)) return false;
  const F3 p = log1pmx_ratio3(m);
  const double r = 1 / (1 + m);
  const double z2 = z * z;
  q.v = z2 * p.f - std::log1p(m);
  q.z = 2 * z * p.f + 0.5 * s * z2 * p.d1 - r * s / 2;
  q.s = 0.5 * z2 * z * p.d1 - r * z / 2;
  q.zz = 2 * p.f + 2 * s * z * p.d1 + 0.25 * s * s * z2 * p.d2 + r * r * s * s / 4;
  q.zs = 1.5 * z2 * p.d1 + 0.25 * s * z2 * z * p.d2 + r * r * s * z / 4 - r / 2;
  q.ss = 0.25 * z2 * z2 * p.d2 + r * r * z2 / 4;
  return std::isfinite(q.v) && std::isfinite(q.ss) && std::isfinite(q.zz);
}

// Weibull (shape k): ln f = ln k - ln scale + (k - 1) ln z - t, t = z^k.
bool point_weibull(double z, double k, Point& q) {
  if (!(z > 0) || !(k > 0)) return false;
  const double lz = std::log(z), t = std::exp(k * lz), iz = 1 / z;
  q.v = std::log(k) + (k - 1) * lz - t;
  q.z = ((k - 1) - k * t) * iz;
  q.s = 1 / k + lz - t * lz;
  q.zz = (-(k - 1) - k * (k - 1) * t) * iz * iz;
  q.zs = (1 - t - k * t * lz) * iz;
  q.ss = -1 / (k * k) - t * lz * lz;
  return std::isfinite(q.v) && std::isfinite(q.ss) && std::isfinite(q.zz);
}

// ---------------------------------------------------------------------------
// A sample in standardised units u = (x - centre) / spread (of log10 x for
// the Lp3), ascending.

struct Standard {
  std::vector<double> sorted, u;  // the values (their logs) ascending, and standardised
  double centre = 0, spread = 1;
  double jacobian = 0;  // the log-likelihood's term from the transform of x
  std::string error;
};

Standard standardise(Family f, std::span<const double> x) {
  Standard s;
  s.u.assign(x.begin(), x.end());
  for (const double v : s.u)
    if (!std::isfinite(v)) {
      s.error = "the sample holds a value that is not a finite number";
      return s;
    }
  if (f == Family::Lp3 || f == Family::Lognormal) {
    detail::Sum j;
    for (double& v : s.u) {
      if (!(v > 0)) {
        s.error = "the family needs positive values";
        return s;
      }
      const double l = f == Family::Lp3 ? std::log10(v) : std::log(v);
      j.add(-(f == Family::Lp3 ? std::log(v * std::numbers::ln10) : l));
      v = l;
    }
    s.jacobian = j.value();
  }
  std::sort(s.u.begin(), s.u.end());
  s.sorted = s.u;
  const SampleLmoments l = sample_lmoments(s.u);
  if (!(l.l2 > 0) || !std::isfinite(l.l2)) {
    s.error = "the sample's values are all equal";
    return s;
  }
  s.centre = s.u[s.u.size() / 2];
  s.spread = l.l2;
  for (double& v : s.u) v = (v - s.centre) / s.spread;
  return s;
}

// The log-likelihood of a three-parameter family in standardised units,
// theta = (loc, scale, shape) (mean, sd, skew for PE3), and its derivatives.
class Likelihood {
 public:
  // Weights w (of the values u, or none): the sums become sum w_i l_i.
  Likelihood(Family f, std::span<const double> u, std::span<const double> w = {}) : f_(f), u_(u), w_(w) {}

  bool operator()(const std::array<double, 3>& t, Derivs<3>& d) const {
    const double sigma = t[1], s = t[2];
    if (!(sigma > 0) || !std::isfinite(sigma) || !std::isfinite(t[0]) || !std::isfinite(s)) return false;
    const std::size_t n = u_.size();
    constexpr std::size_t kChunk = 1 << 15;
    const std::size_t chunks = (n + kChunk - 1) / kChunk;
    // Sums of q, q_z, q_z z, q_s, q_zz, q_zz z, q_zz z^2, q_zs, q_zs z, q_ss,
    // a flag for a value outside the support, the total weight;
    // chunks summed in order, so the result does not depend on the threads.
    std::vector<std::array<double, 12>> part(chunks);
    const unsigned threads = n >= 4 * kChunk ? detail::default_threads() : 1;
    detail::parallel_for(chunks, threads, [&](std::size_t c) {
      std::array<double, 12> a{};
      const std::size_t end = std::min(n, (c + 1) * kChunk);
      Point q{};
      for (std::size_t i = c * kChunk; i < end; ++i) {
        const double z = (u_[i] - t[0]) / sigma;
        bool ok;
        switch (f_) {
          case Family::Glo: ok = point_shape<true>(z, s, q); break;
          case Family::Gno: ok = point_shape<false>(z, s, q); break;
          case Family::Weibull: ok = point_weibull(z, s, q); break;
          default: ok = point_pe3(z, s, q); break;
        }
        if (!ok) {
          a[10] = 1;
          break;
        }
        if (!w_.empty()) {
          const double w = w_[i];
          q = {w * q.v, w * q.z, w * q.s, w * q.zz, w * q.zs, w * q.ss};
          a[11] += w;
        }
        a[0] += q.v;
        a[1] += q.z;
        a[2] += q.z * z;
        a[3] += q.s;
        a[4] += q.zz;
        a[5] += q.zz * z;
        a[6] += q.zz * z * z;
        a[7] += q.zs;
        a[8] += q.zs * z;
        a[9] += q.ss;
      }
      part[c] = a;
    });
    std::array<double, 12> a{};
    for (const auto& p : part)
      for (std::size_t k = 0; k < 12; ++k) a[k] += p[k];
    if (a[10] != 0) return false;
    const auto nd = w_.empty() ? static_cast<double>(n) : a[11];  // the total weight
    F3 c{0, 0, 0};  // the per-value constant in s
    if (f_ == Family::Gno) c = {-kHalfLog2Pi, 0, 0};
    if (f_ == Family::Pe3 || f_ == Family::Lp3) {
      const F3 t3 = stirling_of_skew(s);
      c = {-kHalfLog2Pi - t3.f, -t3.d1, -t3.d2};
    }
    const double is = 1 / sigma;
    d.l = -nd * std::log(sigma) + a[0] + nd * c.f;
    d.g = {-a[1] * is, (-nd - a[2]) * is, a[3] + nd * c.d1};
    d.h[0][0] = a[4] * is * is;
    d.h[0][1] = d.h[1][0] = (a[5] + a[1]) * is * is;
    d.h[1][1] = (nd + a[6] + 2 * a[2]) * is * is;
    d.h[0][2] = d.h[2][0] = -a[7] * is;
    d.h[1][2] = d.h[2][1] = -a[8] * is;
    d.h[2][2] = a[9] + nd * c.d2;
    if (!std::isfinite(d.l)) return false;
    for (const auto& row : d.h)
      for (const double v : row)
        if (!std::isfinite(v)) return false;
    return std::isfinite(d.g[0]) && std::isfinite(d.g[1]) && std::isfinite(d.g[2]);
  }

 private:
  Family f_;
  std::span<const double> u_, w_;
};

// The family's value type from standardised or original parameters.
template <class Fn>
auto with_dist(Family f, const std::array<double, 3>& p, Fn&& fn) {
  switch (f) {
    case Family::Glo: return fn(dist::Glo{p[0], p[1], p[2]});
    case Family::Gno: return fn(dist::Gno{p[0], p[1], p[2]});
    case Family::Pe3: return fn(dist::Pe3{p[0], p[1], p[2]});
    case Family::Lp3: return fn(dist::Lp3{p[0], p[1], p[2]});
    case Family::Weibull: return fn(dist::Weibull{p[0], p[1], p[2]});
    case Family::Exponential: return fn(dist::Exponential{p[0], p[1]});
    case Family::Normal: return fn(dist::Normal{p[0], p[1]});
    case Family::Lognormal: return fn(dist::Lognormal{p[0], p[1]});
  }
  return fn(dist::Normal{p[0], p[1]});
}

// The L-moment fit as a parameter array; false outside the feasible region.
bool lmom_params(Family f, const dist::LmomentRatios& r, std::array<double, 3>& p) {
  p = {kNaN, kNaN, kNaN};
  switch (f) {
    case Family::Glo: { dist::Glo d; if (!fit_lmom(r, d)) return false; p = {d.loc, d.scale, d.shape}; return true; }
    case Family::Gno: { dist::Gno d; if (!fit_lmom(r, d)) return false; p = {d.loc, d.scale, d.shape}; return true; }
    case Family::Pe3:
    case Family::Lp3: { dist::Pe3 d; if (!fit_lmom(r, d)) return false; p = {d.mean, d.sd, d.skew}; return true; }
    case Family::Weibull: { dist::Weibull d; if (!fit_lmom(r, d)) return false; p = {d.loc, d.scale, d.shape}; return true; }
    case Family::Exponential: { dist::Exponential d; if (!fit_lmom(r, d)) return false; p = {d.loc, d.scale, kNaN}; return true; }
    case Family::Normal: { dist::Normal d; if (!fit_lmom(r, d)) return false; p = {d.mean, d.sd, kNaN}; return true; }
    case Family::Lognormal: { dist::Lognormal d; if (!fit_lmom(r, d)) return false; p = {d.meanlog, d.sdlog, kNaN}; return true; }
  }
  return false;
}

// Original parameters from standardised ones: location-type entries
// centre + spread p, scale-type spread p, shapes unchanged; the same
// Jacobian for the covariance.
void unstandardise(const Standard& s, std::size_t k, std::array<double, 3>& p, Matrix3x3* cov) {
  const std::array<double, 3> j{s.spread, s.spread, 1};
  p[0] = s.centre + s.spread * p[0];
  p[1] *= s.spread;
  if (cov != nullptr)
    for (std::size_t r = 0; r < k; ++r)
      for (std::size_t c = 0; c < k; ++c) (*cov)[r][c] *= j[r] * j[c];
}

void fill_se(FamilyFit& r) {
  for (std::size_t i = 0; i < parameter_count(r.family); ++i) r.se[i] = std::sqrt(r.cov[i][i]);
}

// The errors from the standardised covariance (they stay representable
// where the covariance of tiny units underflows), then the covariance.
void fill_errors(FamilyFit& r, const Standard& s, const Matrix3x3& cov) {
  const std::size_t k = parameter_count(r.family);
  const std::array<double, 3> j{s.spread, s.spread, 1};
  for (std::size_t i = 0; i < k; ++i) r.se[i] = std::sqrt(cov[i][i]) * j[i];
  for (std::size_t a = 0; a < 3; ++a)
    for (std::size_t b = 0; b < 3; ++b) r.cov[a][b] = a < k && b < k ? cov[a][b] * j[a] * j[b] : kNaN;
}

// The three-parameter start: the L-moment fit of the standardised sample,
// else the shape-0 member; moved until every value is inside the support.
std::array<double, 3> start_point(Family f, const Likelihood& like, std::span<const double> u) {
  const dist::LmomentRatios r = ratios(sample_lmoments(u));
  std::array<double, 3> t;
  if (!lmom_params(f, r, t)) {
    if (f == Family::Weibull) t = {u.front() - 1, 2, 2};
    else lmom_params(f == Family::Glo ? Family::Glo : Family::Normal, {r.l1, r.l2, 0, 0, 0}, t), t[2] = 0;
  }
  Derivs<3> d;
  for (int i = 0; i < 60 && !like(t, d); ++i) {
    if (f == Family::Weibull) t[0] = u.front() - std::ldexp(0.5, i);
    else t[2] *= 0.5;
  }
  return t;
}

FamilyFit fit_closed_form(Family f, const Standard& s) {
  const std::span<const double> u = s.u;
  const std::size_t n = u.size();
  const auto nd = static_cast<double>(n);
  FamilyFit r;
  r.family = f;
  r.n = n;
  r.ok = true;
  r.iterations = 0;
  r.gradient = 0;
  r.cov = {};
  if (f == Family::Exponential) {
    // l = -n ln scale - sum (x - loc) / scale, largest at loc = min x.
    detail::Sum sum;
    for (const double v : u) sum.add(v - u.front());
    const double scale = sum.value() / nd;
    r.params = {u.front(), scale, kNaN};
    r.loglik = -nd * std::log(scale) - nd;
    r.cov[0][0] = scale * scale / (nd * nd);
    r.cov[1][1] = scale * scale * (nd - 1) / (nd * nd);
  } else {
    detail::Sum sum, sq;
    for (const double v : u) sum.add(v);
    const double mean = sum.value() / nd;
    for (const double v : u) sq.add((v - mean) * (v - mean));
    const double sd = std::sqrt(sq.value() / nd);
    r.params = {mean, sd, kNaN};
    r.loglik = -nd * std::log(sd) - nd * (0.5 + kHalfLog2Pi);
    r.cov[0][0] = sd * sd / nd;
    r.cov[1][1] = sd * sd / (2 * nd);
  }
  const Matrix3x3 cov = r.cov;
  unstandardise(s, 2, r.params, nullptr);
  if (f == Family::Exponential) r.params[0] = s.sorted.front();  // exact, not rounded back
  fill_errors(r, s, cov);
  r.loglik += s.jacobian - nd * std::log(s.spread);
  return r;
}

// The standardised reduced quantile w(s) of a three-parameter family, the p
// quantile being loc + scale w(shape), and its derivatives in the shape.
F3 reduced_quantile(Family f, double s, double p) {
  switch (f) {
    case Family::Glo:
    case Family::Gno: {
      const double y = f == Family::Glo ? std::log(p) - std::log1p(-p) : dist::special::norm_quantile(p);
      const F3 e = expm1_ratio3(s * y);
      return {y * e.f, y * y * e.d1, y * y * y * e.d2};
    }
    case Family::Weibull: {
      const double l = std::log(-std::log1p(-p)), w = std::exp(l / s);
      return {w, -w * l / (s * s), w * l * l / (s * s * s * s) + 2 * w * l / (s * s * s)};
    }
    default: {
      // No closed form in the skew: five-point central differences of the
      // quantile, whose errors (about 1e-12 in w', 1e-9 in w'') only steer the
      // search; the end point itself rests on the exact w.
      const auto w = [&](double v) { return dist::quantile(dist::Pe3{0, 1, v}, p); };
      const double h = 1e-3, w0 = w(s), a1 = w(s + h), b1 = w(s - h), a2 = w(s + 2 * h), b2 = w(s - 2 * h);
      return {w0, (8 * (a1 - b1) - (a2 - b2)) / (12 * h), (16 * (a1 + b1) - (a2 + b2) - 30 * w0) / (12 * h * h)};
    }
  }
}

}  // namespace

const char* family_name(Family f) { return names(f).name; }

std::optional<Family> family_from_name(std::string_view name) {
  for (const Names& n : kNames)
    if (name == n.name) return n.f;
  return std::nullopt;
}

std::size_t parameter_count(Family f) { return names(f).k; }
std::array<const char*, 3> parameter_names(Family f) { return names(f).params; }

FamilyFit fit_mle(Family f, std::span<const double> x) {
  const std::size_t k = parameter_count(f);
  if (x.size() < (k == 2 ? 3u : 5u))
    return refused(f, x.size(), "maximum likelihood needs at least " + std::to_string(k == 2 ? 3 : 5) + " values");
  const Standard s = standardise(f, x);
  if (!s.error.empty()) return refused(f, x.size(), s.error);
  if (k == 2) return fit_closed_form(f, s);

  const Likelihood like(f, s.u);
  std::array<double, 3> t = start_point(f, like, s.u);
  Derivs<3> d;
  // On a large sample, first the maximum of a quadrature of its likelihood:
  // the two extremes (so the support holds every value where it holds
  // theirs) and evenly spaced order statistics between them, each weighing
  // for its share of the rest. It lies close to the whole sample's maximum,
  // from where Newton needs a few passes over all the values instead of a
  // dozen. Where that coarse fit fails, the search starts as before.
  constexpr std::size_t kCoarse = std::size_t{1} << 14;
  if (s.u.size() > 4 * kCoarse) {
    const std::size_t n = s.u.size(), m = kCoarse - 2;
    std::vector<double> sub(kCoarse), w(kCoarse, static_cast<double>(n - 2) / static_cast<double>(m));
    sub.front() = s.u.front();
    sub.back() = s.u.back();
    w.front() = w.back() = 1;
    for (std::size_t j = 0; j < m; ++j) sub[j + 1] = s.u[1 + (2 * j + 1) * (n - 2) / (2 * m)];
    const Likelihood coarse(f, sub, w);
    std::array<double, 3> t0 = t;
    if (maximize<3>(coarse, t0, d, 0, 1e-6, 300, true, 59).ok && like(t0, d)) t = t0;
  }
  const std::string none = "the likelihood has no regular local maximum";
  if (!like(t, d)) return refused(f, x.size(), "no starting point holds every value inside the support");
  // Steps that leave a value outside the support are halved: the maximum
  // often lies near an end point.
  const MaxResult m = maximize<3>(like, t, d, 0, 1e-11, 300, true, 59);
  FamilyFit r;
  r.family = f;
  r.n = x.size();
  if (!m.ok || !like(t, d)) {
    return refused(f, x.size(), none + ": the iteration runs towards an end point of the support at an "
                                "extreme value, where the likelihood grows without bound");
  }
  if (f == Family::Weibull && !(t[2] > 1))
    return refused(f, x.size(), none + ": the shape is at or below 1, where the likelihood grows without "
                                "bound as the location approaches the smallest value");
  if ((f == Family::Pe3 || f == Family::Lp3) && !(std::fabs(t[2]) < 2))
    return refused(f, x.size(), none + ": |skew| is 2 or more, where the likelihood grows without bound as "
                                "the end point approaches an extreme value");
  if (f == Family::Glo && !(std::fabs(t[2]) < 1))
    return refused(f, x.size(), none + ": |shape| is 1 or more, where the likelihood grows without bound as "
                                "the end point approaches an extreme value");
  Matrix3x3 cov{};
  if (!inverse_information<3>(d.h, cov))
    return refused(f, x.size(), none + ": the observed information is not positive definite");
  r.ok = true;
  r.iterations = m.iterations;
  r.gradient = std::max({std::fabs(d.g[0]), std::fabs(d.g[1]), std::fabs(d.g[2])});
  r.params = t;
  unstandardise(s, 3, r.params, nullptr);
  fill_errors(r, s, cov);
  r.loglik = d.l - static_cast<double>(r.n) * std::log(s.spread) + s.jacobian;
  return r;
}

FamilyFit fit_lmom_with_errors(Family f, std::span<const double> x) {
  const std::size_t k = parameter_count(f);
  const Standard s = standardise(f, x);
  if (!s.error.empty()) return refused(f, x.size(), s.error);
  if (x.size() < k + 1) return refused(f, x.size(), "the L-moment fit needs at least " + std::to_string(k + 1) + " values");
  // The Lognormal's fit takes the L-moments of x itself (lower bound 0).
  std::vector<double> sorted;
  if (f == Family::Lognormal) {
    sorted.assign(x.begin(), x.end());
    std::sort(sorted.begin(), sorted.end());
  } else {
    sorted = s.sorted;
  }
  const dist::LmomentRatios r = ratios(sample_lmoments(sorted));
  FamilyFit out;
  out.family = f;
  out.n = x.size();
  if (!lmom_params(f, r, out.params))
    return refused(f, x.size(), "the sample's L-moments lie outside the family's feasible region");
  out.ok = true;
  if (sorted.size() < 4) return out;

  // Jacobian of the parameters in (l1, l2, l3) by central differences: the
  // fits are exact and smooth, so a step of 1e-5 l2 leaves errors near 1e-10.
  const double h = 1e-5 * r.l2;
  std::array<std::array<double, 3>, 3> jac{};
  const std::array<double, 3> l{r.l1, r.l2, r.t3 * r.l2};
  for (std::size_t c = 0; c < k; ++c) {
    std::array<double, 3> up = l, dn = l, pu, pd;
    up[c] += h;
    dn[c] -= h;
    if (!lmom_params(f, {up[0], up[1], up[2] / up[1], r.t4, r.t5}, pu) ||
        !lmom_params(f, {dn[0], dn[1], dn[2] / dn[1], r.t4, r.t5}, pd))
      return out;
    for (std::size_t i = 0; i < k; ++i) jac[i][c] = (pu[i] - pd[i]) / (2 * h);
  }
  const std::vector<std::array<double, 3>> inf = lmoment_influence(sorted);
  const auto nd = static_cast<double>(sorted.size());
  std::vector<std::array<double, 3>> v(inf.size());
  std::array<detail::Sum, 3> mean;
  for (std::size_t j = 0; j < inf.size(); ++j) {
    for (std::size_t i = 0; i < k; ++i) {
      for (std::size_t c = 0; c < k; ++c) v[j][i] += jac[i][c] * inf[j][c];
      mean[i].add(v[j][i]);
    }
  }
  Matrix3x3 cov{};
  for (std::size_t a = 0; a < k; ++a)
    for (std::size_t b = a; b < k; ++b) {
      detail::Sum sum;
      const double ma = mean[a].value() / nd, mb = mean[b].value() / nd;
      for (const auto& w : v) sum.add((w[a] - ma) * (w[b] - mb));
      cov[a][b] = cov[b][a] = sum.value() / ((nd - 1) * nd);
    }
  for (std::size_t a = 0; a < 3; ++a)
    for (std::size_t b = 0; b < 3; ++b)
      if (a >= k || b >= k) cov[a][b] = kNaN;
  for (std::size_t a = 0; a < k; ++a)
    if (!(cov[a][a] >= 0) || !std::isfinite(cov[a][a])) return out;
  out.cov = cov;
  fill_se(out);
  return out;
}

double quantile(const FamilyFit& fit, double p) {
  if (!fit.ok) return kNaN;
  return with_dist(fit.family, fit.params, [&](const auto& d) { return dist::quantile(d, p); });
}

double quantile_se(const FamilyFit& fit, double p) {
  if (!fit.ok) return kNaN;
  const std::size_t k = parameter_count(fit.family);
  std::array<double, 3> g{};
  for (std::size_t i = 0; i < k; ++i) {
    if (!(fit.se[i] > 0) || !std::isfinite(fit.se[i])) return kNaN;
    const double h = 1e-5 * fit.se[i];
    auto up = fit.params, dn = fit.params;
    up[i] += h;
    dn[i] -= h;
    const auto q = [&](const std::array<double, 3>& t) {
      return with_dist(fit.family, t, [&](const auto& d) { return dist::quantile(d, p); });
    };
    g[i] = (q(up) - q(dn)) / (2 * h);
  }
  double v = 0;
  for (std::size_t i = 0; i < k; ++i)
    for (std::size_t j = 0; j < k; ++j) v += g[i] * fit.cov[i][j] * g[j];
  return v >= 0 ? std::sqrt(v) : kNaN;
}

ProfileInterval profile_quantile(const FamilyFit& mle, std::span<const double> x, double p, double conf) {
  ProfileInterval out;
  const Family f = mle.family;
  auto fail = [&](const std::string& why) {
    out.lower.reason = out.upper.reason = why;
    return out;
  };
  if (!mle.ok) return fail("no maximum-likelihood fit");
  if (parameter_count(f) != 3) return fail("profile intervals are computed for the three-parameter families");
  if (!(p > 0 && p < 1)) return fail("the probability must lie strictly between 0 and 1");
  const Standard s = standardise(f, x);
  if (!s.error.empty()) return fail(s.error);
  const Likelihood like(f, s.u);
  // Standardised maximum, and the quantile in place of the location:
  // loc = q - scale w(shape).
  const std::array<double, 3> phi{(mle.params[0] - s.centre) / s.spread, mle.params[1] / s.spread, mle.params[2]};
  Derivs<3> d;
  if (!like(phi, d)) return fail("the fit does not match the sample");
  const double lhat = d.l;
  const F3 w0 = reduced_quantile(f, phi[2], p);
  const std::array<double, 3> theta_hat{phi[0] + phi[1] * w0.f, phi[1], phi[2]};
  Matrix3x3 cov{};
  double se = kNaN;
  if (inverse_information<3>(d.h, cov)) {
    const std::array<double, 3> g{1, w0.f, phi[1] * w0.d1};
    double v = 0;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) v += g[i] * cov[i][j] * g[j];
    se = std::sqrt(v);
  }
  const auto reparam = [&](const std::array<double, 3>& t, Derivs<3>& out3) {
    const F3 w = reduced_quantile(f, t[2], p);
    if (!std::isfinite(w.f) || !std::isfinite(w.d1) || !std::isfinite(w.d2)) return false;
    Derivs<3> dp;
    if (!like({t[0] - t[1] * w.f, t[1], t[2]}, dp)) return false;
    // J = d(loc, scale, shape) / d(q, scale, shape); only loc is curved in t.
    const Matrix3x3 jac{{{1, -w.f, -t[1] * w.d1}, {0, 1, 0}, {0, 0, 1}}};
    out3.l = dp.l;
    for (int i = 0; i < 3; ++i) {
      out3.g[i] = 0;
      for (int a = 0; a < 3; ++a) out3.g[i] += jac[a][i] * dp.g[a];
    }
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        double v = 0;
        for (int a = 0; a < 3; ++a)
          for (int b = 0; b < 3; ++b) v += jac[a][i] * dp.h[a][b] * jac[b][j];
        out3.h[i][j] = v;
      }
    out3.h[1][2] -= dp.g[0] * w.d1;
    out3.h[2][1] -= dp.g[0] * w.d1;
    out3.h[2][2] -= dp.g[0] * t[1] * w.d2;
    return true;
  };
  // Where a trial point leaves a value outside the support, a larger scale
  // moves the end point away from the quantile held fixed (for either sign
  // of the shape, in every family here) until the support holds every value.
  const auto repair = [&](std::array<double, 3> t) {
    Derivs<3> probe;
    for (int i = 0; i < 200 && !reparam(t, probe); ++i) t[1] *= 1.25;
    return t;
  };
  const double crit = dist::chi2_1_quantile(conf);
  if (!std::isfinite(crit)) return fail("the confidence must lie strictly between 0 and 1");
  // An end point is valid only inside the regular region of the shape;
  // beyond it the likelihood grows without bound and the profile with it.
  const auto regular = [&](double shape) {
    if (f == Family::Weibull) return shape > 1;
    if (f == Family::Glo) return std::fabs(shape) < 1;
    if (f == Family::Pe3 || f == Family::Lp3) return std::fabs(shape) < 2;
    return true;
  };
  const auto bound = [&](int dir) {
    std::array<double, 3> end{kNaN, kNaN, kNaN};
    ProfileLimit b = profile_bound<3>(reparam, repair, theta_hat, lhat, se, crit, dir, INFINITY, 1e-12,
                                      nullptr, &end);
    if (std::isnan(b.value) && !search_failed(b)) return b;
    if (std::isnan(b.value) || !regular(end[2])) {
      b.value = kNaN;
      b.reason = f == Family::Gno ? std::string(kNoMaximumNearBound)
                                  : "the profile likelihood has no regular maximum before the critical level: "
                                    "the shape runs into the region where the likelihood grows without bound";
      return b;
    }
    b.value = s.centre + s.spread * b.value;
    if (f == Family::Lp3) b.value = std::pow(10.0, b.value);
    return b;
  };
  out.lower = bound(-1);
  out.upper = bound(+1);
  return out;
}

}  // namespace korvalinde::stats
