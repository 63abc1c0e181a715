// Proves that the fit and the report allocate no memory: malloc and friends
// are replaced in this test program and count while a flag is set.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "dnls/io/units.hpp"
#include "korvalinde/classic/driver.hpp"
#include "korvalinde/classic/message.hpp"
#include "korvalinde/classic/reader.hpp"
#include "tests/support/child.hpp"

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
}

namespace {
bool counting = false;
long allocations = 0;
}  // namespace

extern "C" void* malloc(std::size_t n) {
  if (counting) ++allocations;
  return __libc_malloc(n);
}
extern "C" void* calloc(std::size_t n, std::size_t size) {
  if (counting) ++allocations;
  return __libc_calloc(n, size);
}
extern "C" void* realloc(void* p, std::size_t n) {
  if (counting) ++allocations;
  return __libc_realloc(p, n);
}

namespace {

TEST(Allocation, NoneBetweenLoadingAndTheEndOfTheReport) {
  const std::string path = "/tmp/korvalinde-alloc-sample.txt";
  std::string text;
  for (int i = 1; i <= 10000; ++i) {
    const double u = (i - 0.5) / 10000;
    text += std::to_string(10.0 - 2.0 * std::log(-std::log(u))) + "\n";
  }
  testsupport::write_file(path, text);

  auto run = testsupport::run_in_child([&] {
    int status = 0, count = 0;
    korvalinde::Message message{};
    korvalinde::ini_data(status, message, path, count);
    if (status != 0 || count != 10000) std::_Exit(3);
    counting = true;
    const bool reported = korvalinde::fit_and_report(count, 50, 0.99);
    counting = false;
    dnls::io::close_all();
    if (!reported) std::_Exit(4);
    std::_Exit(allocations == 0 ? 0 : 5);
  });
  std::remove(path.c_str());
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(run.status, 0) << "exit 5 means the fit or the report allocated";
  EXPECT_NE(run.out.find("FITTING PARAMETERs"), std::string::npos) << run.out;
}

}  // namespace
