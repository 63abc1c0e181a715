// The picture of an intensity-duration-frequency analysis: intensity against
// duration on log-log axes, one curve per return period with its band, the
// empirical intensities of each duration at those periods, and the levels of
// each duration's own fit as markers.
#pragma once

#include <string>
#include <vector>

#include "korvalinde/cli/run_meta.hpp"
#include "korvalinde/records/idf_result.hpp"

namespace korvalinde::cli {

// The interval shown for an intensity: the profile-likelihood one where it
// exists, else the delta-method one.
Interval idf_bounds(const Estimate& e);

// A self-contained SVG document; a failed analysis gives a picture of its
// error. A `footer` (the run's line, meta_footer) is drawn at its foot.
std::string render_idf_svg(const IdfResult& result, const std::vector<double>& periods,
                           const std::string& units, const std::string& footer = {});

// One self-contained HTML page: per series its report and its picture.
struct IdfSection {
  std::string name, report, svg;  // an empty report: the error is in `name`'s series
  std::string error;
};
// With `run` and `input`, the page opens with what the run was and what it read.
std::string render_idf_html(const std::vector<IdfSection>& sections, const RunMeta* run = nullptr,
                            const InputMeta* input = nullptr);

}  // namespace korvalinde::cli
