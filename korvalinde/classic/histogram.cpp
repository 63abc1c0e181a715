#include "korvalinde/classic/histogram.hpp"

#include <cmath>

#include "korvalinde/classic/blocks.hpp"

namespace korvalinde {

Histogram data1;
double yt[kMaxBins];

namespace {

void extremes(int count, double& lo, double& hi) {
  lo = data0[0];
  hi = data0[0];
  for (int k = 1; k <= count; ++k) {
    if (data0[k - 1] < lo) lo = data0[k - 1];
    if (data0[k - 1] > hi) hi = data0[k - 1];
  }
}

}  // namespace

int check_binning(int count, int bins, Message& message) {
  if (bins < 1 || bins > 9999) {
    message.set("-9200 NUMBER OF BINS MUST BE 1 TO 9999");
    return kBadBinCount;
  }
  bool usable = count >= 2;
  if (usable) {
    double lo, hi;
    extremes(count, lo, hi);
    const double range = hi - lo;
    const double dx = range / bins;
    // (range / dx) >= 10000 would make M = int(range / dx) + 1 exceed 10000.
    usable = std::isfinite(range) && range > 0 && dx > 0 && range / dx < kMaxBins;
  }
  if (!usable) {
    message.set("-9300 FITTING DATA HAVE NO USABLE RANGE");
    return kNoRange;
  }
  return 0;
}

void preproccdata(int count, int bins, int& m, double params[2], double& minimum, double& dx) {
  // All bins start at 0. The blocks are zero when the program starts and only
  // this routine fills them, so clearing the bins of earlier calls is enough
  // (and leaves the untouched pages of the blocks alone).
  static int used = 0;
  for (int i = 0; i < used; ++i) {
    data1.x[i] = 0;
    data1.y[i] = 0;
    yt[i] = 0;
  }
  double maximum;
  extremes(count, minimum, maximum);

  dx = (maximum - minimum) / bins;
  m = static_cast<int>((maximum - minimum) / dx) + 1;
  if (m > used) used = m;
  params[1] = (maximum - minimum) / 5;

  for (int k = 1; k <= count; ++k) {
    yt[static_cast<int>((data0[k - 1] - minimum) / dx)] += 1;
  }

  // Interior empty bins take the mean of the nearest positive counts on either
  // side; a bin filled earlier in this pass counts as a positive neighbour.
  // Each fill adds its integer part to the total.
  int total = count;
  for (int i = 1; i <= m; ++i) {
    if (yt[i - 1] > 0 || i == 1 || i == m) continue;
    double left = 0, right = 0;
    for (int j = i - 1; j >= 1; --j) {
      if (yt[j - 1] > 0) {
        left = yt[j - 1];
        break;
      }
    }
    for (int j = i + 1; j <= m; ++j) {
      if (yt[j - 1] > 0) {
        right = yt[j - 1];
        break;
      }
    }
    yt[i - 1] = 0.5 * (left + right);
    total = static_cast<int>(total + yt[i - 1]);
  }

  for (int i = 1; i <= m; ++i) {
    data1.y[i - 1] = yt[i - 1] / total / dx;
    data1.x[i - 1] = dx * (i - 0.5) + minimum;
  }

  double best = data1.y[0];
  params[0] = data1.x[0];
  for (int i = 1; i <= m; ++i) {
    if (data1.y[i - 1] > best) {
      best = data1.y[i - 1];
      params[0] = data1.x[i - 1];
    }
  }
}

}  // namespace korvalinde
