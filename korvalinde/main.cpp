#include <cstdio>
#include <exception>

#include "korvalinde/classic/driver.hpp"

// No arguments: the classic run. Nothing unexpected escapes: it is one line
// on standard error and exit status 3.
int main() {
  try {
    return korvalinde::run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "korvalinde: internal error: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "korvalinde: internal error\n");
  }
  return 3;
}
