// korvalinde-image png|pdf FILE: renders the SVG document on standard input
// into FILE (written whole or not at all). A program of its own because the
// fit command is linked statically and librsvg comes only as a shared library.
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>

#include "korvalinde/cli/image.hpp"
#include "korvalinde/cli/output_file.hpp"

int main(int argc, char** argv) {
  using namespace korvalinde::cli;
  const std::string kind = argc == 3 ? argv[1] : "";
  if (kind != "png" && kind != "pdf") {
    std::fprintf(stderr, "usage: korvalinde-image png|pdf FILE < picture.svg\n");
    return 2;
  }
  const std::string svg{std::istreambuf_iterator<char>(std::cin), {}};
  std::string bytes;
  std::string why = render_image(svg, kind == "png" ? ImageFormat::png : ImageFormat::pdf, bytes);
  if (why.empty()) why = write_output_file(argv[2], bytes);
  if (!why.empty()) {
    std::fprintf(stderr, "korvalinde: can not write %s: %s\n", argv[2], why.c_str());
    return 1;
  }
  return 0;
}
