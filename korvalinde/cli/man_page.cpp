#include "korvalinde/cli/man_page.hpp"

#include <CLI/CLI.hpp>

namespace korvalinde::cli {

namespace {

// Text for troff: backslashes and hyphens escaped, and a line that would
// open with a control character guarded.
std::string roff(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') out += "\\e";
    else if (c == '-') out += "\\-";
    else out += c;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

}  // namespace

std::string man_options(const CLI::App& app) {
  std::string out;
  for (const CLI::Option* o : app.get_options()) {
    if (o->get_positional() || o->get_lnames().empty() || o->get_group().empty()) continue;  // hidden
    std::string names;
    for (const std::string& n : o->get_snames()) names += "\\fB\\-" + n + "\\fR, ";
    for (const std::string& n : o->get_lnames()) names += "\\fB\\-\\-" + roff(n) + "\\fR, ";
    names.resize(names.size() - 2);
    if (o->get_expected_max() > 0) {
      // The kind of value, without the checks CLI11 appends to it.
      std::string kind = o->get_type_name();
      kind = kind.substr(0, kind.find_first_of(": "));
      names += " \\fI" + roff(kind.empty() ? "VALUE" : kind) + "\\fR";
    }
    std::string help = o->get_description();
    if (!o->get_default_str().empty() && help.find("default") == std::string::npos)
      help += " (default " + o->get_default_str() + ")";
    out += ".TP\n" + names + "\n" + roff(help) + "\n";
  }
  return out;
}

}  // namespace korvalinde::cli
