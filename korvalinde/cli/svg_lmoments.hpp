// The L-moment ratio diagram as an SVG panel: L-kurtosis t4 against
// L-skewness t3, with the theoretical curves of the three-parameter families
// and the lower bound of all distributions, and the (t3, t4) of one sample
// or of the sites of a region and their average. The fit command's picture
// and the region's HTML report both draw it.
#pragma once

#include <string>
#include <vector>

namespace korvalinde::cli {

struct RatioPoint {
  double t3, t4;
  std::string label;        // written beside the point when not empty
  bool emphasised = false;  // a larger red mark: the regional average, or the one sample
};

struct RatioDiagramOptions {
  double width = 400, height = 440;  // of the panel, in pixels
  double x = 0, y = 0;               // its top left corner in the enclosing picture
  bool document = false;             // a whole SVG document, not a <g> to place in one
  std::string id = "lmrd";           // prefix of the panel's element ids, unique per document
  std::string title = "L-moment ratio diagram";
};

// The panel. The axes hold every point with finite (t3, t4) and at least
// -0.1 <= t3 <= 0.5, -0.05 <= t4 <= 0.35; points without them are counted
// in a note rather than drawn.
std::string lmoment_ratio_diagram_svg(const std::vector<RatioPoint>& points,
                                      const RatioDiagramOptions& options = {});

}  // namespace korvalinde::cli
