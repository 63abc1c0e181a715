// Random numbers for the bootstrap: xoshiro256** seeded by SplitMix64, one
// independent stream per replicate, so results depend on the seed only.
#pragma once

#include <cstdint>

namespace korvalinde::detail {

class SplitMix64 {
 public:
  explicit SplitMix64(std::uint64_t state) : state_(state) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }

 private:
  std::uint64_t state_;
};

class Xoshiro256ss {
 public:
  explicit Xoshiro256ss(std::uint64_t seed) {
    SplitMix64 sm(seed);
    for (auto& word : s_) word = sm.next();  // SplitMix64 never yields four zeros in a row
  }

  // Stream k of seed S: the SplitMix64 seed is S xor the (k+1)-th output of a
  // SplitMix64 started at 0, so neighbouring streams start far apart.
  static Xoshiro256ss stream(std::uint64_t seed, std::uint64_t k) {
    return Xoshiro256ss(seed ^ SplitMix64(k * 0x9E3779B97F4A7C15u).next());
  }

  std::uint64_t next() {
    const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
  }

  // Uniform in the open interval (0, 1) from the top 53 bits.
  double uniform() { return (static_cast<double>(next() >> 11) + 0.5) * 0x1p-53; }

 private:
  static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::uint64_t s_[4];
};

}  // namespace korvalinde::detail
