// The fit command's options of fits on covariates: which covariates, from
// where, which parameters follow them, the points to report at, and the
// table of every observation's effective levels.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "korvalinde/core/dated.hpp"

namespace CLI {
class App;
}

namespace korvalinde::cli {

struct CovariateSettings {
  std::string names;              // --covariate NAME[,NAME...]
  std::string table;              // --covariates FILE
  std::string vary;               // --vary
  std::vector<std::string> at;    // --at NAME=V[,NAME=V], repeatable
  std::string effective;          // --effective-levels FILE
  bool trend = false;             // --trend: the trend tests without covariates
};

void add_covariate_options(CLI::App& fit, CovariateSettings& settings);

// Whether any of the options is given.
bool wants_covariates(const CovariateSettings& settings);

// The plan's covariates from the options (the table not yet read), or a
// usage error.
std::string make_covariate_plan(const CovariateSettings& settings, const FitOptions& fit,
                                DatedPlan& plan);

// Reads the --covariates table into the plan and checks that it has every
// covariate named: an empty string, or the fault as "FILE:LINE:COLUMN: ...".
std::string load_covariate_table(const CovariateSettings& settings, DatedPlan& plan);

// Parses a table's text: a header line, then rows whose first field is a
// year or a date (YYYY-MM-DD) and whose others are numbers or missing
// (empty, NA, NaN). The fault, or an empty string.
std::string parse_covariate_table(std::string_view text, const std::string& file, CovariateTable& out);

}  // namespace korvalinde::cli
