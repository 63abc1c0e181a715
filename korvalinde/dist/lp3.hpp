// The log-Pearson type III distribution: log10 x is Pearson type III with
// the given mean, standard deviation and skew (of the base-10 logarithms);
// x > 0.
#pragma once

#include <cmath>
#include <numbers>

#include "korvalinde/dist/pe3.hpp"

namespace korvalinde::dist {

struct Lp3 {
  double mean = 0, sd = 1, skew = 0;
};

namespace detail_lp3 {
inline Pe3 logs(const Lp3& d) { return {d.mean, d.sd, d.skew}; }
inline double lg(double x) {
  if (std::isnan(x)) return x;
  return x <= 0 ? -special::kInf : std::log10(x);
}
}  // namespace detail_lp3

inline double cdf(const Lp3& d, double x) { return cdf(detail_lp3::logs(d), detail_lp3::lg(x)); }
inline double sf(const Lp3& d, double x) { return sf(detail_lp3::logs(d), detail_lp3::lg(x)); }
inline double log_cdf(const Lp3& d, double x) { return log_cdf(detail_lp3::logs(d), detail_lp3::lg(x)); }
inline double log_sf(const Lp3& d, double x) { return log_sf(detail_lp3::logs(d), detail_lp3::lg(x)); }
inline special::LogPQ log_cdf_sf(const Lp3& d, double x) {
  return log_cdf_sf(detail_lp3::logs(d), detail_lp3::lg(x));
}
inline double log_pdf(const Lp3& d, double x) {
  if (!(x > 0)) return std::isnan(x) ? x : -special::kInf;
  return log_pdf(detail_lp3::logs(d), std::log10(x)) - std::log(x * std::numbers::ln10);
}
inline double pdf(const Lp3& d, double x) { return std::exp(log_pdf(d, x)); }
inline double quantile(const Lp3& d, double p) { return std::pow(10.0, quantile(detail_lp3::logs(d), p)); }
inline double quantile_complement(const Lp3& d, double q) {
  return std::pow(10.0, quantile_complement(detail_lp3::logs(d), q));
}
inline Support support(const Lp3& d) {
  const Support s = support(detail_lp3::logs(d));
  return {std::pow(10.0, s.lower), std::pow(10.0, s.upper)};
}

// The L-moments of log10 x, those the L-moment fit matches.
inline LmomentRatios lmoment_ratios(const Lp3& d) { return lmoment_ratios(detail_lp3::logs(d)); }

}  // namespace korvalinde::dist
