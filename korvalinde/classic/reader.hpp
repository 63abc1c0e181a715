// Loading of the sample file into data0.
#pragma once

#include <string>
#include <string_view>

#include "korvalinde/classic/message.hpp"
#include "korvalinde/input/number.hpp"

namespace korvalinde {

inline constexpr int kCannotOpen = -9900;
inline constexpr int kReadingError = -9500;
inline constexpr int kTooManySamples = -9000;

// The messages of the codes above.
inline constexpr std::string_view kCannotOpenText = "-9900 CAN NOT OPEN FITTING DATA";
inline constexpr std::string_view kReadingErrorText = "-9500 READING ERROR in FITTING DATA";
inline constexpr std::string_view kTooManyText = "-9000 NUMBER OF FITTING DATA > 10000";

// Reads the samples (one per line: the first value of each line, blank lines
// passed over) into data0 from the open descriptor `fd`, after the bytes of
// `prefix`. On success `status` is left alone and `count` holds the number
// of samples; on failure `status` and `message` are set as the codes above
// say (count: samples stored before a bad value, or 10001 when there are too
// many). A read error is a reading error too, and is told on standard error
// with the file's `name`.
void ini_data(int& status, Message& message, int fd, std::string_view prefix,
              const std::string& name, int& count);

// The same for the file `name`, opened here.
void ini_data(int& status, Message& message, const std::string& name, int& count);

}  // namespace korvalinde
