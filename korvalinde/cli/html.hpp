// The HTML report of a whole run: one self-contained page (no scripts, no
// network, no external files) with a summary table of all files, a section
// per file with its picture inline, and what each quantity means.
#pragma once

#include <span>
#include <string>

#include "korvalinde/records/result.hpp"

namespace korvalinde::cli {

struct HtmlSection {
  FitResult result;
  std::string svg;  // the picture's SVG document; empty for none
};

std::string render_html(std::span<const HtmlSection> sections);

}  // namespace korvalinde::cli
