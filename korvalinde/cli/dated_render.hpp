// The parts of the report and the JSON that a dated record adds: what was
// left out (missing values, merged rows, dropped blocks) and the peaks over
// a threshold.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "korvalinde/records/result.hpp"

namespace korvalinde::cli {

// Report lines about the record, after the sample's size ("" without one).
std::string dated_report_lines(const FitResult& result);

// A warning about a dated record ("" without one): times left unused.
std::string dated_warning(const FitResult& result);

// The report's peaks-over-threshold section ("" without one).
std::string pot_report(const FitResult& result);

// "n_missing", "n_merged", "blocks", "n_blocks" and "blocks_dropped" into j;
// without blocks, the same observations as "peaks_dropped" (`peaks`: the
// series' peaks over a threshold) or "rows_dropped", {"time", "reason"} each.
void add_dated_json(nlohmann::ordered_json& j, const DatedSummary& dated, bool peaks);

// The "pot" object.
nlohmann::ordered_json pot_json(const PotResult& pot);

}  // namespace korvalinde::cli
