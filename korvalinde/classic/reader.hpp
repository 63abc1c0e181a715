// Loading of the sample file into data0.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "korvalinde/classic/message.hpp"

namespace korvalinde {

inline constexpr int kCannotOpen = -9900;
inline constexpr int kReadingError = -9500;
inline constexpr int kTooManySamples = -9000;

// Message of a sample file that cannot be opened (the check before loading
// gives it too).
inline constexpr std::string_view kCannotOpenText = "-9900 CAN NOT OPEN FITTING DATA";

// Parses one sample token: [sign] digits [. digits] [(E|e|D|d) [sign] digits],
// with digits on at least one side of the point. Returns false for anything
// else and for values that are not finite; the result is correctly rounded.
bool parse_sample(std::string_view token, double& value);

// Reads the file `name` (one sample per line: the first value of each line,
// blank lines passed over) into data0. On success `status` is left alone and
// `count` holds the number of samples; on failure `status` and `message`
// are set as the codes above say (count: samples stored before a bad value,
// or 10001 when there are too many).
void ini_data(int& status, Message& message, const std::string& name, int& count);

}  // namespace korvalinde
