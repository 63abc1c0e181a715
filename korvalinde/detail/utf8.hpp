// UTF-8 text from outside (file and group names): decoding, and an escape
// that keeps every distinct name distinct when its bytes are not text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace korvalinde::detail {

// Length of the well-formed UTF-8 sequence at the start of s (not empty)
// and its code point, or 0 when the first byte does not begin one.
std::size_t utf8_decode(std::string_view s, char32_t& cp);

// s as valid UTF-8: every byte that is not part of a well-formed sequence is
// written \xHH (two uppercase hex digits), and with `controls` so is each
// byte of a control character (C0, DEL, C1) and of U+FFFE and U+FFFF. A
// backslash that comes before a backslash, an 'x' or such an escape is
// doubled, so that the escape can be undone: distinct names stay distinct.
// Valid text without controls is unchanged but for those backslashes.
std::string escape_bytes(std::string_view s, bool controls);

}  // namespace korvalinde::detail
