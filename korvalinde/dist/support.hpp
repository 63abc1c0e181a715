// The closed interval outside which a distribution has no mass; infinite
// ends where it is unbounded.
#pragma once

namespace korvalinde::dist {

struct Support {
  double lower, upper;
};

}  // namespace korvalinde::dist
