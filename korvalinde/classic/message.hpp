// The application's one-line status messages: exactly 100 characters.
#pragma once

#include <algorithm>
#include <cstring>
#include <string_view>

namespace korvalinde {

struct Message {
  static constexpr std::size_t kWidth = 100;
  char text[kWidth];

  // Sets the message to `literal` padded with blanks to the full width.
  void set(std::string_view literal) {
    std::size_t n = std::min(literal.size(), kWidth);
    std::memcpy(text, literal.data(), n);
    std::memset(text + n, ' ', kWidth - n);
  }
  std::string_view view() const { return {text, kWidth}; }
};

}  // namespace korvalinde
