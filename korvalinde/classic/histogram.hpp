// Histogram density of the samples and start values of the fit.
#pragma once

#include <string_view>

#include "korvalinde/classic/message.hpp"

namespace korvalinde {

inline constexpr int kBadBinCount = -9200;
inline constexpr int kNoRange = -9300;
inline constexpr std::string_view kBadBinCountText = "-9200 NUMBER OF BINS MUST BE 1 TO 9999";
inline constexpr std::string_view kNoRangeText = "-9300 FITTING DATA HAVE NO USABLE RANGE";

// Rejects a bin count outside 1..9999 and samples that cannot be split into
// bins (fewer than two distinct values, a range that overflows, or a width
// so small that more than 10000 bins would result). Returns 0 or the code,
// with `message` set.
int check_binning(int count, int bins, Message& message);

// Builds the normalised histogram of samples 1..count in data1 (M bins) and
// the start values of location and scale in params.
void preproccdata(int count, int bins, int& m, double params[2], double& minimum, double& dx);

}  // namespace korvalinde
