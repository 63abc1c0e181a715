// Intensity-duration-frequency analysis of a rain record: the block maxima of
// moving sums over several durations, and the formula i = a / (d + b)^c.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "korvalinde/records/result.hpp"
#include "korvalinde/stats/blocks.hpp"

namespace korvalinde::stats {

// A duration such as "5min", "1h", "1.5h" or "2d" in whole seconds; false for
// anything else (no unit, not positive, not a whole number of seconds).
bool parse_duration(std::string_view text, std::int64_t& seconds);

// "5min", "90min", "1h", "36h", "2d": minutes below an hour or where the hours
// are not whole, days from 48 hours on where they are whole.
std::string duration_label(std::int64_t seconds);

// The block maxima of the sums over one duration.
struct DurationMaxima {
  std::int64_t duration = 0;     // seconds
  std::size_t n_windows = 0;     // complete windows in the kept blocks
  std::vector<BlockMax> maxima;  // of the kept blocks; time = the window's start
  std::vector<BlockCount> dropped;
};

// Moving-window maxima of a record of depths at a regular step: for each
// duration (a multiple of the step), the sums over every window of that many
// consecutive steps in which no step is missing (absent or NaN), and of each
// block (by the window's start) the largest, when the block has at least
// min_coverage of its windows. `time` ascending, every time on the step from
// the first. A maximum is the plain sum of its window's depths in time order.
// The durations share out `threads`; the results do not depend on them.
// Empty on success, else why (a time off the step, a negative depth).
std::string window_maxima(std::span<const std::int64_t> time, std::span<const double> depth,
                          std::int64_t step, std::span<const std::int64_t> durations,
                          const BlockRule& rule, std::vector<DurationMaxima>& out,
                          unsigned threads = 1);

// i = a / (d + b)^c fitted by least squares in logarithms to intensities i > 0
// at durations d > 0 (hours): for a fixed b it is a straight line in
// ln(d + b), so only b (>= 0) is searched, in one dimension.
struct IdfFormula {
  bool ok = false;
  double a = 0, b = 0, c = 0;
  double rms_log = 0;  // root mean square of the residuals of ln i
};
IdfFormula fit_idf_formula(std::span<const double> duration_h, std::span<const double> intensity);

}  // namespace korvalinde::stats

namespace korvalinde::stats {

// The duration-dependent GEV of general scaling: the intensity of duration d
// (hours) is GEV(mu0 s(d), sigma0 s(d), xi) with
// s(d) = ((d + delta) / (d0 + delta))^(-alpha); simple scaling is delta = 0.
// Fitted by maximum likelihood over the maxima of all durations together,
// taken as independent (a composite likelihood: the maxima of one year come
// from the same storms, which the robust errors allow for).
struct ScalingData {
  std::vector<double> hours;            // the duration of each observation
  std::vector<double> x;                // its intensity
  std::vector<std::size_t> cluster;     // its year, for the robust errors
  double reference_hours = 1;           // d0
};

// Parameters in the order mu0, sigma0, shape, alpha, delta.
inline constexpr std::size_t kScalingParams = 5;
using Matrix5 = std::array<std::array<double, kScalingParams>, kScalingParams>;

struct ScalingFit {
  bool ok = false;
  std::string error;
  bool general = true;        // delta fitted (false: simple scaling, delta = 0)
  bool delta_at_zero = false; // general scaling whose delta fell to its bound 0
  std::array<double, kScalingParams> param{};     // mu0, sigma0, shape, alpha, delta
  std::array<double, kScalingParams> se{}, se_robust{};
  Matrix5 cov{}, cov_robust{};                    // zero in delta's row for simple scaling
  double loglik = 0;
  int iterations = 0;
  // In standardised units: the intensities over `unit`, theta = (mu0 / unit,
  // ln(sigma0 / unit), shape, alpha, delta).
  double unit = 1;
  std::array<double, kScalingParams> theta{};
};

// With general scaling, `simple` (when given) receives the simple-scaling
// fit found on the way, the same as fit_scaling(data, false).
ScalingFit fit_scaling(const ScalingData& data, bool general, ScalingFit* simple = nullptr);

// The T-year intensity of duration `hours` with its delta-method standard
// error from the robust covariance and the interval value +- z se.
Estimate scaling_intensity(const ScalingFit& fit, double reference_hours, double hours,
                           double period, double z);

// Profile-likelihood interval of that intensity at `confidence`, with the
// critical value scaled by the ratio of its robust to its model-based
// variance (the composite likelihood's curvature overstates the information).
ProfileInterval scaling_intensity_profile(const ScalingFit& fit, const ScalingData& data, double hours,
                                          double period, double confidence);

// Likelihood ratio of general against simple scaling on 1 degree of freedom,
// and the p-value of the 50:50 mixture of chi-square(0) and chi-square(1)
// that holds with delta = 0 on the boundary.
struct ScalingTest {
  double statistic = 0, p = 1, p_mixture = 1;
  int df = 1;
};
ScalingTest scaling_test(const ScalingFit& general, const ScalingFit& simple);

}  // namespace korvalinde::stats
