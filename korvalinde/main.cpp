#include <cstdio>
#include <exception>

#include "korvalinde/classic/driver.hpp"
#include "korvalinde/cli/fit_command.hpp"
#include "korvalinde/detail/output_file.hpp"

// No arguments: the classic run; otherwise the command line. Nothing
// unexpected escapes: it is one line on standard error and exit status 3.
int main(int argc, char** argv) {
  korvalinde::detail::reserve_standard_descriptors();
  try {
    return argc <= 1 ? korvalinde::run() : korvalinde::cli::main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "korvalinde: internal error: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "korvalinde: internal error\n");
  }
  return 3;
}
