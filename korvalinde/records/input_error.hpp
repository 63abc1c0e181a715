// A fault in the input, located as precisely as it is known: the one record
// that readers, the fitting core, the command line and the Python module pass
// on, so that no caller has to parse a message back.
#pragma once

#include <cstdint>
#include <string>

namespace korvalinde {

struct InputError {
  std::string file;
  std::uint64_t line = 0;  // 1-based; 0 when the fault is not on one line
  int column = 0;          // 1-based field; 0 when the fault is not in one field
  std::string code;        // stable identifier, e.g. "not_a_number", "duplicate_time"
  std::string message;     // one line, without the location

  // "FILE:LINE:COLUMN: message", leaving out the parts that are unknown.
  std::string text() const {
    std::string s = file;
    if (line > 0) s += ':' + std::to_string(line);
    if (line > 0 && column > 0) s += ':' + std::to_string(column);
    return s + ": " + message;
  }
};

}  // namespace korvalinde
