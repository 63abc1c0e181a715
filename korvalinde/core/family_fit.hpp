// Fitting the further families to a whole sample: GLO, GNO, PE3, LP3, GPA,
// Weibull, Kappa, Wakeby, exponential, normal and lognormal, by L-moments
// and (where the likelihood is regular) maximum likelihood, with their
// quantiles, return levels and goodness of fit, the sample's L-moments and
// the comparison of every family fitted. Re-entrant.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "korvalinde/records/family_result.hpp"

namespace korvalinde {

// The names --dist takes besides gumbel and gev, in the order of the help.
inline constexpr std::array<std::string_view, 11> kFamilyNames{
    "glo", "gno", "pe3", "lp3", "gpa", "weibull", "kappa", "wakeby", "exp", "normal", "lognormal"};

inline bool is_family(std::string_view name) {
  for (const std::string_view f : kFamilyNames) {
    if (f == name) return true;
  }
  return false;
}

// The family's name in words for the report: "GLO", "Pearson III", ...
std::string family_title(std::string_view name);

// Every name the family's parameters go by, in the order of its records
// (FamilyMethodResult::params); empty for a name not in kFamilyNames.
const std::vector<std::string>& family_parameter_names(std::string_view name);

struct FamilyFitOptions {
  bool mle = true, lmom = true;
  double prob = 0.99;  // DPA_CUT probability
  std::span<const double> periods;
  std::optional<double> level;
  double z = 1.959963984540054;  // normal critical value of the delta-method intervals
  unsigned threads = 1;          // never changes the results
  // The L-moment fits' p-values of D, W^2 and A^2 by parametric bootstrap
  // from the fitted family: replicate r draws from stream r of the seed
  // (salted by the family), and is refitted by L-moments; samples above
  // 1000 values are compared through the law at 1000 (sqrt(n) D).
  bool gof_p = true;
  int replicates = 199;
  // The standard errors and intervals of the parameters and levels, and the
  // goodness of fit (D, W^2, A^2 with their p-values): false spares their cost.
  bool se = true, gof = true;
  bool profiles = true;      // profile-likelihood intervals of maximum likelihood's levels
  double confidence = 0.95;  // of those intervals
  std::uint64_t seed = 0;
  // Parametric bootstrap replicates of each fit (0: none): replicate k draws
  // from stream k of the seed, as the Gumbel's and the GEV's do, and is
  // refitted by the fit's method. Polls `interrupted` as they do.
  int bootstrap = 0;
  std::function<bool()> interrupted;
};

// Fits each family named (kFamilyNames; others are ignored) to the ascending
// sample, in the order given, and the sample's L-moments. A family that
// cannot be fitted by a method has that method's error, naming the family.
FamiliesResult fit_families(std::span<const double> sorted, const std::vector<std::string>& families,
                            const FamilyFitOptions& options);

// Fills the comparison of `f` from its fits and from the Gumbel and GEV ones
// of `r`, in the order `order` names the families (gumbel, gev or further).
void compare_families(const FitResult& r, const std::vector<std::string>& order, FamiliesResult& f);

}  // namespace korvalinde
