// Renderers of a regional frequency analysis: its JSON object and the human
// report.
#pragma once

#include <nlohmann/json.hpp>
#include <span>
#include <string>

#include "korvalinde/cli/run_meta.hpp"
#include "korvalinde/records/region_result.hpp"

namespace korvalinde::cli {

nlohmann::ordered_json region_json(const RegionResult& result);

// The report, ending with a newline; with `run`, headed by the run record
// and the inputs' sizes and digests.
std::string region_report(const RegionResult& result, const RunMeta* run = nullptr,
                          std::span<const InputMeta> inputs = {});

// One self-contained page: the site table, the L-moment ratio diagram (the
// sites' t3 and t4, the families' curves, the regional average) and the
// growth curves with the chosen curve's bounds.
std::string region_html(const RegionResult& result, const RunMeta* run = nullptr,
                        std::span<const InputMeta> inputs = {});

}  // namespace korvalinde::cli
