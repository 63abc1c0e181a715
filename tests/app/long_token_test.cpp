// Sample number conversion of tokens longer than any buffer holds: a mapped
// file's line can be one token of billions of digits.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string_view>

#include "korvalinde/input/number.hpp"

namespace {

// A run of more than 2^31 digits is refused as an overflow, as a shorter run
// is: its count must not wrap around to that of a short number. The run is
// one 64 MiB block of digits mapped again and again.
TEST(ParseExact, ARunOfBillionsOfDigitsOverflows) {
  const std::size_t block = std::size_t{1} << 26, blocks = 33;  // 2.2e9 digits
  const int fd = memfd_create("digits", 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(block)), 0);
  void* one = mmap(nullptr, block, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ASSERT_NE(one, MAP_FAILED);
  std::memset(one, '7', block);
  munmap(one, block);
  void* map = mmap(nullptr, blocks * block, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(map, MAP_FAILED);
  char* const base = static_cast<char*>(map);
  for (std::size_t k = 0; k < blocks; ++k)
    ASSERT_NE(mmap(base + k * block, block, PROT_READ, MAP_SHARED | MAP_FIXED, fd, 0), MAP_FAILED);
  close(fd);
  double v = 0;
  EXPECT_FALSE(korvalinde::parse_sample(std::string_view(base, blocks * block), v)) << v;
  munmap(map, blocks * block);
}

}  // namespace
