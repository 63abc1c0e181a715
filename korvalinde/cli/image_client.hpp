// The picture as PNG or PDF, rendered by the korvalinde-image program that
// sits beside the running executable.
#pragma once

#include <string>
#include <string_view>

namespace korvalinde::cli {

// format is "png" or "pdf"; false after a message on standard error.
bool render_image(std::string_view svg, const char* format, std::string& out);

}  // namespace korvalinde::cli
