// The HTML report of a whole run: one self-contained page (no scripts, no
// network, no external files) with a summary table of all files, a section
// per file with its picture inline, and what each quantity means.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "korvalinde/cli/run_meta.hpp"
#include "korvalinde/records/result.hpp"

namespace korvalinde::cli {

struct HtmlSection {
  FitResult result;
  std::string svg;  // the picture's SVG document; empty for none
  InputMeta input;  // the input's size and digest
};

// With `run`, the page opens with what the run was and each file's section
// names its input's size and digest.
std::string render_html(std::span<const HtmlSection> sections, const RunMeta* run = nullptr);

// What the run was, in a section and table of its own (shared by every
// command's page).
std::string html_run_block(const RunMeta& run);

// The SVG document without its XML declaration, to sit inside a page.
std::string inline_svg(const std::string& svg);

// Text of several lines made safe for HTML, its line ends kept.
std::string escape_lines(std::string_view text);

}  // namespace korvalinde::cli
