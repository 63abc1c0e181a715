// Renderers of an intensity-duration-frequency analysis: its JSON object, the
// human report, the CSV table of intensities and the CSV of annual maxima.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "korvalinde/records/idf_result.hpp"

namespace korvalinde::cli {

nlohmann::ordered_json idf_json(const IdfResult& result);

// The block of one series, ending with a newline.
std::string idf_report(const IdfResult& result, const std::vector<double>& periods);

std::string idf_csv(const std::vector<IdfResult>& results);
std::string idf_maxima_csv(const std::vector<IdfResult>& results);

}  // namespace korvalinde::cli
