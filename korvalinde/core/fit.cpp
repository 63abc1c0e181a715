#include "korvalinde/core/fit.hpp"

namespace korvalinde {

// Placeholder until the fitting core lands.
FitResult fit_sample(std::span<const double> values, const FitOptions& options,
                     std::string_view name) {
  FitResult r;
  r.file = std::string(name);
  r.n = values.size();
  r.bins = options.bins;
  r.error = "not implemented yet";
  return r;
}

}  // namespace korvalinde
