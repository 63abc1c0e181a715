// korvalinde-image png|pdf: renders the SVG document on standard input as
// PNG or PDF on standard output. A program of its own because korvalinde is
// linked statically and librsvg comes only as a shared library.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>

#include "korvalinde/cli/image.hpp"

// Fontconfig keeps its caches until the process ends: not a leak of ours, so
// the leak checker of sanitizer builds leaves it out.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }

int main(int argc, char** argv) {
  using namespace korvalinde::cli;
  const std::string kind = argc == 2 ? argv[1] : "";
  if (kind != "png" && kind != "pdf") {
    std::fprintf(stderr, "usage: korvalinde-image png|pdf < picture.svg > picture\n");
    return 2;
  }
  const std::string svg{std::istreambuf_iterator<char>(std::cin), {}};
  std::string bytes;
  const std::string why =
      render_image(svg, kind == "png" ? ImageFormat::png : ImageFormat::pdf, bytes);
  if (!why.empty()) {
    std::fprintf(stderr, "korvalinde: can not draw the %s picture: %s\n", kind.c_str(), why.c_str());
    return 1;
  }
  for (std::string_view rest = bytes; !rest.empty();) {
    const ssize_t k = ::write(STDOUT_FILENO, rest.data(), rest.size());
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return 1;
    rest.remove_prefix(static_cast<std::size_t>(k));
  }
  return 0;
}
