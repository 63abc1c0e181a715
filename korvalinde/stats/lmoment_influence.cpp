#include "korvalinde/stats/lmoment_influence.hpp"

#include <cstddef>

namespace korvalinde::stats {

std::vector<std::array<double, 3>> lmoment_influence(std::span<const double> sorted) {
  const std::size_t n = sorted.size();
  std::vector<std::array<double, 3>> inf(n);
  if (n < 2) return inf;
  const auto nd = static_cast<double>(n);
  const double shift = sorted[n / 2];
  double tail1 = 0, tail2 = 0;  // sum_{k > j} x_k and x_k p_k, over n
  for (std::size_t j = n; j-- > 0;) {
    const double x = sorted[j] - shift;
    const double p = static_cast<double>(j) / (nd - 1);
    const double i0 = x;
    const double i1 = x * p + tail1 + 0.5 * x / nd;
    const double i2 = x * p * p + 2 * (tail2 + 0.5 * x * p / nd);
    inf[j] = {i0, 2 * i1 - i0, 6 * i2 - 6 * i1 + i0};
    tail1 += x / nd;
    tail2 += x * p / nd;
  }
  return inf;
}

}  // namespace korvalinde::stats
