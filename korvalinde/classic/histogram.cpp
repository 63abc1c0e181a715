#include "korvalinde/classic/histogram.hpp"

#include <span>

#include "korvalinde/classic/blocks.hpp"
#include "korvalinde/core/histogram.hpp"

namespace korvalinde {

Histogram data1;
double yt[kMaxBins];

int check_binning(int count, int bins, Message& message) {
  const std::span<const double> samples(data0, static_cast<std::size_t>(count < 0 ? 0 : count));
  switch (check_binning(samples, bins, 9999, kMaxBins)) {
    case BinCheck::BadBinCount:
      message.set(kBadBinCountText);
      return kBadBinCount;
    case BinCheck::NoRange:
      message.set(kNoRangeText);
      return kNoRange;
    case BinCheck::Ok:
      break;
  }
  return 0;
}

void preproccdata(int count, int bins, int& m, double params[2], double& minimum, double& dx) {
  build_histogram({data0, static_cast<std::size_t>(count)}, bins, {data1.x, data1.y, yt, {}},
                  params, minimum, dx, m);
}

}  // namespace korvalinde
