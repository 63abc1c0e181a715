// The picture as PNG or PDF: the SVG document rendered by librsvg and cairo.
#pragma once

#include <string>
#include <string_view>

namespace korvalinde::cli {

enum class ImageFormat { png, pdf };

// Renders the SVG document at its own size (PDF: 1 px = 0.75 pt) into `out`;
// an empty string on success, else the reason.
std::string render_image(std::string_view svg, ImageFormat format, std::string& out);

}  // namespace korvalinde::cli
