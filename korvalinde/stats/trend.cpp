#include "korvalinde/stats/trend.hpp"

#include <algorithm>
#include <boost/math/special_functions/erf.hpp>
#include <cmath>
#include <numeric>
#include <vector>

#include "korvalinde/dist/normal.hpp"

namespace korvalinde::stats {

namespace {

// The order of the values by time (stable: equal times keep their order).
std::vector<std::size_t> time_order(std::span<const double> t) {
  std::vector<std::size_t> o(t.size());
  std::iota(o.begin(), o.end(), std::size_t{0});
  std::stable_sort(o.begin(), o.end(), [&](std::size_t a, std::size_t b) { return t[a] < t[b]; });
  return o;
}

// The variance of S with the correction for tied values of x.
double variance_of_s(std::span<const double> x) {
  const double n = static_cast<double>(x.size());
  double var = n * (n - 1) * (2 * n + 5);
  std::vector<double> v(x.begin(), x.end());
  std::sort(v.begin(), v.end());
  for (std::size_t i = 0; i < v.size();) {
    std::size_t j = i;
    while (j < v.size() && v[j] == v[i]) ++j;
    const double g = static_cast<double>(j - i);
    var -= g * (g - 1) * (2 * g + 5);
    i = j;
  }
  return var / 18;
}

}  // namespace

MannKendall mann_kendall(std::span<const double> t, std::span<const double> x) {
  MannKendall m;
  m.n = x.size();
  if (x.size() < 3 || t.size() != x.size()) return m;
  const auto o = time_order(t);
  long long s = 0;
  for (std::size_t i = 0; i < o.size(); ++i)
    for (std::size_t j = i + 1; j < o.size(); ++j) {
      if (t[o[j]] == t[o[i]]) continue;  // pairs of one time have no order
      s += (x[o[j]] > x[o[i]]) - (x[o[j]] < x[o[i]]);
    }
  m.s = static_cast<double>(s);
  m.var_s = variance_of_s(x);
  const double n = static_cast<double>(x.size());
  m.tau = m.s / (n * (n - 1) / 2);
  if (!(m.var_s > 0)) return m;
  m.z = s == 0 ? 0.0 : (m.s - (s > 0 ? 1.0 : -1.0)) / std::sqrt(m.var_s);
  m.p = boost::math::erfc(std::fabs(m.z) / std::sqrt(2.0));
  return m;
}

SenSlope sen_slope(std::span<const double> t, std::span<const double> x, double confidence) {
  SenSlope out;
  out.confidence = confidence;
  if (x.size() < 3 || t.size() != x.size()) return out;
  std::vector<double> slopes;
  slopes.reserve(x.size() * (x.size() - 1) / 2);
  for (std::size_t i = 0; i < x.size(); ++i)
    for (std::size_t j = i + 1; j < x.size(); ++j)
      if (t[j] != t[i]) slopes.push_back((x[j] - x[i]) / (t[j] - t[i]));
  if (slopes.empty()) return out;
  std::sort(slopes.begin(), slopes.end());
  const std::size_t n = slopes.size();
  out.slope = n % 2 == 1 ? slopes[n / 2] : 0.5 * (slopes[n / 2 - 1] + slopes[n / 2]);
  const double c = dist::normal_two_sided(confidence) * std::sqrt(variance_of_s(x));
  const double nf = static_cast<double>(n);
  // 1-based ranks, rounded to the nearest slope and kept inside 1..N.
  const double lo = std::round((nf - c) / 2), hi = std::round((nf + c) / 2 + 1);
  if (lo >= 1 && hi <= nf) {
    out.lower = slopes[static_cast<std::size_t>(lo) - 1];
    out.upper = slopes[static_cast<std::size_t>(hi) - 1];
  }
  return out;
}

}  // namespace korvalinde::stats
