// The parts of the report, the JSON and the output files that a fit on
// covariates adds: the coefficients and their tests, the effective levels at
// covariate points, their change and the probability ratio, and the trend
// tests of the maxima.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "korvalinde/records/result.hpp"

namespace korvalinde::cli {

// The report's section ("" without covariates or trend tests).
std::string nonstationary_report(const FitResult& result);

// The fit's error in one line ("" when it has none).
std::string nonstationary_error(const FitResult& result);

// "nonstationary" into j["gev"]["mle"] and "trend" into j.
void add_nonstationary_json(nlohmann::ordered_json& j, const FitResult& result);

// Appends a series' lines of the --effective-levels file: each observation's
// label, time, covariates and the effective level of every period with its
// delta bounds (a leading "group" column for a grouped record), after the
// header when `out` is empty.
void append_effective_levels(std::string& out, const FitResult& result, bool grouped);

}  // namespace korvalinde::cli
