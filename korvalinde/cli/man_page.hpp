// The manual page's lists of options, made from the option tables that
// --help shows, so that the two can not drift apart.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace korvalinde::cli {

// The options of `app` in the man macros: a tagged paragraph (.TP) each,
// its names, its value's kind and its help text with its default.
std::string man_options(const CLI::App& app);

}  // namespace korvalinde::cli
