// The pieces of a signed report: SHA-256 against the published digests of
// FIPS 180-4's examples, the run's time and its command line.
#include <gtest/gtest.h>

#include <string>

#include "korvalinde/cli/run_meta.hpp"
#include "korvalinde/detail/sha256.hpp"

namespace {

using korvalinde::detail::Sha256;
using korvalinde::detail::sha256_hex;

TEST(Sha256, PublishedDigestsWholeAndInPieces) {
  EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  const std::string two_blocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  const std::string want = "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1";
  EXPECT_EQ(sha256_hex(two_blocks), want);
  // Pieces of every size, across the block boundaries, give the same digest.
  for (std::size_t step = 1; step <= 64; ++step) {
    Sha256 h;
    for (std::size_t at = 0; at < two_blocks.size(); at += step)
      h.update(std::string_view(two_blocks).substr(at, step));
    EXPECT_EQ(h.hex(), want) << step;
  }
  Sha256 million;
  const std::string a(1000, 'a');
  for (int i = 0; i < 1000; ++i) million.update(a);
  EXPECT_EQ(million.hex(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  // Lengths next to the padding's edge (55, 56, 64 bytes).
  EXPECT_EQ(sha256_hex(std::string(55, 'a')),
            "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
  EXPECT_EQ(sha256_hex(std::string(56, 'a')),
            "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
  EXPECT_EQ(sha256_hex(std::string(64, 'a')),
            "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
}

TEST(RunMeta, TimeAndCommandLine) {
  using korvalinde::cli::iso_time;
  EXPECT_EQ(iso_time(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(iso_time(951782399), "2000-02-28T23:59:59Z");
  EXPECT_EQ(iso_time(951782400), "2000-02-29T00:00:00Z");
  EXPECT_EQ(iso_time(1700000000), "2023-11-14T22:13:20Z");
  EXPECT_EQ(korvalinde::cli::shell_command({"korvalinde", "fit", "--units", "m3/s", "a b.txt",
                                            "it's", "", "$x"}),
            "korvalinde fit --units m3/s 'a b.txt' 'it'\\''s' '' '$x'");
}

}  // namespace
