// Writes the picture as PNG or PDF through the korvalinde-image program that
// sits beside the running executable.
#pragma once

#include <string>
#include <string_view>

namespace korvalinde::cli {

// format is "png" or "pdf"; false after a message on standard error.
bool write_image(std::string_view svg, const char* format, const std::string& file);

}  // namespace korvalinde::cli
