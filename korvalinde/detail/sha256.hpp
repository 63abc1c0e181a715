// SHA-256 (FIPS 180-4), fed in pieces of any size, for the digest of each
// input file that the reports carry.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace korvalinde::detail {

class Sha256 {
 public:
  Sha256();
  void update(const void* data, std::size_t size);
  void update(std::string_view text) { update(text.data(), text.size()); }
  // The digest of everything fed; the object is then spent.
  std::array<std::uint8_t, 32> finish();
  // finish() in lower-case hexadecimal.
  std::string hex();

 private:
  void block(const std::uint8_t* p);
  std::array<std::uint32_t, 8> h_;
  std::array<std::uint8_t, 64> buf_{};
  std::size_t used_ = 0;
  std::uint64_t bytes_ = 0;
};

// The digest of `text` in hexadecimal.
std::string sha256_hex(std::string_view text);

}  // namespace korvalinde::detail
