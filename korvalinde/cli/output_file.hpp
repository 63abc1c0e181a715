// Whole output files written so that a reader never sees a partial one.
#pragma once

#include <string>
#include <string_view>

namespace korvalinde::cli {

// Writes bytes to a temporary file beside `name` and renames it over `name`;
// the temporary file is removed on failure. "-" is standard output. An empty
// string on success, else the reason (without the file's name).
std::string write_output_file(const std::string& name, std::string_view bytes);

}  // namespace korvalinde::cli
