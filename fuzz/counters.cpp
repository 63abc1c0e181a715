// Where the coverage counters of the instrumented build lie. This file is
// built without coverage instrumentation: naming these linker symbols in an
// instrumented file keeps the fuzzer from registering the counters at all.
#include <cstdint>

extern "C" {
extern std::uint8_t __start___sancov_cntrs[] __attribute__((weak, visibility("hidden")));
extern std::uint8_t __stop___sancov_cntrs[] __attribute__((weak, visibility("hidden")));
}

namespace fuzz {

void coverage_counters(std::uint8_t*& begin, std::uint8_t*& end) {
  begin = __start___sancov_cntrs;
  end = __stop___sancov_cntrs;
}

}  // namespace fuzz
