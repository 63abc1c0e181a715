// Compensated (Neumaier) summation: the error stays near one rounding of the
// total instead of growing with the number of terms.
#pragma once

#include <cmath>

namespace korvalinde::detail {

class Sum {
 public:
  void add(double v) {
    const double t = sum_ + v;
    if (std::fabs(sum_) >= std::fabs(v))
      comp_ += (sum_ - t) + v;
    else
      comp_ += (v - t) + sum_;
    sum_ = t;
  }
  void add(const Sum& other) {
    add(other.sum_);
    add(other.comp_);
  }
  double value() const { return sum_ + comp_; }

 private:
  double sum_ = 0;
  double comp_ = 0;
};

}  // namespace korvalinde::detail
