// The L-moments of a distribution as used by every L-moment estimator and by
// regional analysis: the mean l1, the L-scale l2 and the ratios
// t3 (L-skewness), t4 (L-kurtosis) and t5; NaN where a family's ratio is not
// computed or does not exist.
#pragma once

namespace korvalinde::dist {

struct LmomentRatios {
  double l1, l2, t3, t4, t5;
};

}  // namespace korvalinde::dist
