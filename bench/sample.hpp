// The benchmark sample: Gumbel values (location 10, scale 2) from the minimal
// standard generator x <- 16807 x mod (2^31 - 1), printed with six decimals.
// scripts/bench.sh writes the same file with awk from the same seed.
#pragma once

#include <cmath>
#include <cstdio>
#include <random>
#include <string>

namespace bench {

inline constexpr unsigned kSeed = 12345;

// Writes `count` sample lines to `path`; false when the file cannot be written.
inline bool write_gumbel_sample(const std::string& path, int count) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  std::minstd_rand0 gen(kSeed);
  for (int i = 0; i < count; ++i) {
    const double u = static_cast<double>(gen()) / 2147483647.0;  // in (0, 1)
    std::fprintf(f, "%.6f\n", 10.0 - 2.0 * std::log(-std::log(u)));
  }
  return std::fclose(f) == 0;
}

}  // namespace bench
