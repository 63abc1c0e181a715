// Sorting samples of doubles into ascending order.
#pragma once

#include <span>
#include <vector>

namespace korvalinde::detail {

// Sorts `data` ascending with an LSD radix sort on the IEEE bit patterns
// (11-bit digits, order-preserving key: negatives before positives; -0.0 and
// +0.0 may come in either order; NaNs go to the ends by sign). `scratch` is
// work space of at least data.size() doubles; its contents are left
// unspecified. Small inputs are sorted by value into buckets first, a too
// small scratch by std::sort.
// A large input is sorted on up to `threads` threads, with the same result.
void radix_sort(std::span<double> data, std::span<double> scratch, unsigned threads = 1);

// The same with its own work space.
void radix_sort(std::span<double> data, unsigned threads = 1);

}  // namespace korvalinde::detail
