#include "korvalinde/classic/diagnose.hpp"

#include <cstdarg>
#include <cstdio>
#include <string_view>

#include "dnls/io/format.hpp"
#include "dnls/io/units.hpp"

namespace korvalinde {

void diagnose(const char* format, ...) {
  char line[dnls::fmt::kMaxRecord];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n < 0) return;
  if (n > static_cast<int>(sizeof line) - 1) n = static_cast<int>(sizeof line) - 1;
  dnls::io::write_record(dnls::io::kStderr, std::string_view(line, static_cast<std::size_t>(n)));
}

}  // namespace korvalinde
