// The result of one fit as a JSON object, one line per input file (JSON
// Lines). Keys keep a fixed order; undefined values are null; numbers are
// written so that a reader gets back the exact doubles.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "korvalinde/records/result.hpp"

namespace korvalinde::cli {

// {"file","ok":true,"n","min","max","bins","width","m","ls","mle","lmom",
// "headline"} with one object per method that ran and the name of the
// headline method, or {"file","ok":false,"error"} (with what was read of a
// dated series). The file and group names are written with escape_bytes.
nlohmann::ordered_json to_json(const FitResult& result);

// to_json on one line, without a newline at the end. Bytes of a message that
// are not valid UTF-8 become U+FFFD.
std::string to_json_line(const FitResult& result);

// The further families' objects, "lmoments", "comparison", "best_aic" and
// "best_lmom", added to j as to_json writes them.
void add_families_json(nlohmann::ordered_json& j, const FamiliesResult& f);

}  // namespace korvalinde::cli
