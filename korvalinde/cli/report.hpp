// The human report of the command line: a short block per input file with the
// methods side by side. Unlike the classic report its layout is free to change.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "korvalinde/records/result.hpp"

namespace korvalinde::cli {

// One method's result with its short and long name.
struct MethodView {
  std::string_view name;   // "mle", "lmom", "ls": the JSON key
  std::string_view title;  // in words
  const MethodResult* fit;
};

// The methods that ran, the headline first: maximum likelihood, then
// L-moments, then the histogram least-squares fit.
std::vector<MethodView> ranked_methods(const FitResult& result);

// Below this many values per histogram bin on average, the ls fit depends
// strongly on the number of bins, and the report says so.
inline constexpr double kLsValuesPerBin = 5;
double values_per_bin(const FitResult& result);

// "DPA_CUT (P quantile)".
std::string dpa_cut_label(double prob);

// The block of one file, ending with a newline (callers put an empty line
// between blocks). A failed file gives the one line "FILE: error: MESSAGE",
// or "FILE:LINE: error: MESSAGE" when the message names a line.
std::string format_report(const FitResult& result);

// The meaning of the solver's termination code INFO in words.
std::string_view info_meaning(int info);

}  // namespace korvalinde::cli
