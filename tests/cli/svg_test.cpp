#include "korvalinde/cli/svg.hpp"
#include "korvalinde/cli/nonstationary_svg.hpp"
#include "korvalinde/cli/svg_lmoments.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>

#include "korvalinde/dist/gumbel.hpp"
#include "tests/cli/fixture.hpp"
#include "tests/support/child.hpp"

namespace {

using namespace korvalinde::cli;

// Runs xmllint on the document; empty when it is well-formed, else its complaint.
std::string xml_errors(const std::string& svg) {
#ifdef XMLLINT
  testsupport::TempDir dir;
  const std::string file = dir.path() + "/plot.svg", log = dir.path() + "/log";
  testsupport::write_file(file, svg);
  const std::string cmd = std::string(XMLLINT) + " --noout '" + file + "' > '" + log + "' 2>&1";
  const int status = std::system(cmd.c_str());
  return status == 0 ? "" : "xmllint failed:\n" + testsupport::read_file(log);
#else
  (void)svg;
  return "";
#endif
}

void expect_no_non_finite(const std::string& svg) {
  std::string lower(svg);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  EXPECT_EQ(lower.find("nan"), std::string::npos);
  EXPECT_EQ(lower.find("inf"), std::string::npos);
}

TEST(Svg, DocumentIsValidAndComplete) {
  const clitest::Sample s(3000);
  auto r = clitest::full_result();
  r.file = "data/station/sample.txt";
  const std::string svg = render_svg(r, s.plot(), {"", "mm", ""});
  EXPECT_EQ(xml_errors(svg), "");
  // The base name as title, the units on the axes, the headline first and bold.
  for (const char* piece : {"xmlns=\"http://www.w3.org/2000/svg\"", "viewBox=\"0 0 1200 ",
                            "sans-serif", ">sample.txt   (n = 3000", "level (mm)",
                            "ls: a = 9.99745, b = 2.06093", "mle (headline): a = 10.0213",
                            "lmom: a =", "DPA_CUT ls 19.478", "Q-Q plot with 95% envelope",
                            "delta-method band", "stroke-width=\"3\"", "clip-c"}) {
    EXPECT_NE(svg.find(piece), std::string::npos) << piece;
  }
  for (const char* banned : {"<script", "href", "@import", "url(http"}) {
    EXPECT_EQ(svg.find(banned), std::string::npos) << banned;
  }
  expect_no_non_finite(svg);
}

TEST(Svg, StaysSmallForAMillionValuesAndCells) {
  const clitest::Sample s(1000000, 1000000);
  auto r = clitest::full_result(1000000);
  r.m = 1000000;
  const std::string svg = render_svg(r, s.plot());
  EXPECT_LT(svg.size(), 300u * 1024);
  EXPECT_EQ(xml_errors(svg), "");
}

TEST(Svg, UndefinedValuesAndHostileNames) {
  const clitest::Sample s(500);
  auto r = clitest::full_result(500);
  r.file = "a<b>&\"c'\x01\xff].svg";
  r.mle.se_b = korvalinde::kUndefined;  // no band
  r.ls.a = korvalinde::kUndefined;
  r.ls.b = -1;
  r.lmom.quantile.value = std::numeric_limits<double>::infinity();
  r.lmom.b = 1e300;
  std::vector<double> densities = s.densities;
  densities[3] = korvalinde::kUndefined;
  korvalinde::cli::PlotData plot = s.plot();
  plot.densities = densities;
  std::string svg = render_svg(r, plot, {"a<b>&title", "", ""});
  EXPECT_EQ(xml_errors(svg), "");
  EXPECT_EQ(svg.find("delta-method band"), std::string::npos);
  expect_no_non_finite(svg);

  // Nothing usable at all, and a failed fit.
  korvalinde::FitResult empty;
  empty.ok = true;
  empty.mle.present = true;
  svg = render_svg(empty, {});
  EXPECT_EQ(xml_errors(svg), "");
  expect_no_non_finite(svg);
  empty.ok = false;
  empty.file = "x&y";
  empty.error = "x&y: No such file or directory";
  svg = render_svg(empty, {});
  EXPECT_EQ(xml_errors(svg), "");
  EXPECT_NE(svg.find("x&amp;y: No such file"), std::string::npos);
}

TEST(Svg, NiceTicksCoverTheRangeAtARoundStep) {
  std::mt19937_64 gen(7);
  std::uniform_real_distribution<double> exponent(-8, 8), unit(-1, 1);
  for (int k = 0; k < 2000; ++k) {
    const double scale = std::pow(10, exponent(gen));
    const double a = unit(gen) * scale * 10, b = a + std::fabs(unit(gen)) * scale;
    const Ticks t = nice_ticks(a, b);
    ASSERT_LE(t.lo, a);
    ASSERT_GE(t.hi, b);
    ASSERT_GE(t.values.size(), 3u) << a << " " << b;
    ASSERT_LE(t.values.size(), 12u) << a << " " << b;
    const double mantissa = t.step / std::pow(10, std::floor(std::log10(t.step)));
    ASSERT_TRUE(std::fabs(mantissa - 1) < 1e-9 || std::fabs(mantissa - 2) < 1e-9 ||
                std::fabs(mantissa - 5) < 1e-9)
        << t.step;
  }
  for (auto [a, b] : {std::pair{5.0, 5.0}, {0.0, 0.0}, {-1e308, 1e308}, {NAN, 1.0}}) {
    const Ticks t = nice_ticks(a, b);
    EXPECT_TRUE(std::isfinite(t.lo) && std::isfinite(t.hi) && t.lo < t.hi) << a << " " << b;
  }
}

TEST(Svg, ThinningKeepsTheExtremes) {
  EXPECT_EQ(thin_indices(2000).size(), 2000u);
  const std::size_t n = 1000000;
  const auto kept = thin_indices(n);
  EXPECT_LE(kept.size(), 2000u);
  EXPECT_TRUE(std::is_sorted(kept.begin(), kept.end()));
  EXPECT_EQ(std::adjacent_find(kept.begin(), kept.end()), kept.end());
  for (std::size_t i = 0; i < 100; ++i) {
    EXPECT_EQ(kept[i], i);
    EXPECT_EQ(kept[kept.size() - 1 - i], n - 1 - i);
  }
}

// The part of a fit with covariates: a curve and band per period over the
// maxima, and the residuals' Q-Q plot, in a document that parses.
TEST(Svg, CovariatePartDrawsTheEffectiveLevelsAndTheResiduals) {
  using namespace korvalinde::stats;
  std::mt19937_64 gen(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<double> x, t;
  for (int i = 0; i < 60; ++i) {
    t.push_back(1950 + i);
    x.push_back(100 + 0.5 * i + 15 * korvalinde::dist::gumbel_reduced(u(gen)));
  }
  const NsAnalysis a = analyze_nonstationary({x, {t}, {"time"}}, {}, {});
  ASSERT_TRUE(a.fit.ok) << a.fit.error;
  NsPicture p;
  p.time = t, p.x = x, p.periods = {2, 10, 100}, p.units = "cm";
  p.levels = ns_levels_per_observation(a.fit, p.periods, 0.95);
  p.residuals = ns_residuals(a.fit);
  ASSERT_GT(nonstationary_part_height(p), 0);
  const std::string part = nonstationary_part_svg(p, 0, 1200);
  const std::string doc = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"1200\" height=\"400\">\n" + part + "</svg>\n";
  EXPECT_EQ(xml_errors(doc), "");
  std::size_t bands = 0;
  for (std::size_t at = 0; (at = part.find("fill-opacity=\"0.15\"", at)) != std::string::npos; ++at) ++bands;
  EXPECT_EQ(bands, 3u);
  EXPECT_NE(part.find("standard Gumbel quantile"), std::string::npos);
  EXPECT_NE(part.find("value (cm)"), std::string::npos);
  p.levels.clear();  // nothing to draw: no part
  EXPECT_EQ(nonstationary_part_height(p), 0);
  EXPECT_EQ(nonstationary_part_svg(p, 0, 1200), "");
}

// The L-moment ratio diagram, whole and as a panel of a larger picture.
TEST(Svg, LmomentRatioDiagramDrawsCurvesPointsAndWhatItLeftOut) {
  const std::vector<RatioPoint> points{{0.21, 0.16, "site <1> & co", false},
                                       {0.8, 0.7, "", false},
                                       {NAN, 0.1, "short", false},
                                       {0.2, 0.15, "regional average", true}};
  const std::string svg = lmoment_ratio_diagram_svg(points, {.document = true});
  EXPECT_EQ(xml_errors(svg), "");
  for (const char* piece : {"<svg xmlns", ">GLO<", ">GEV<", ">GNO<", ">PE3<", ">GPA<", ">lower bound<", "L-skewness t3",
                            "site &lt;1&gt; &amp; co", ">regional average<", "1 point without t3 and t4",
                            ">0.8<"}) {  // the axis reaches the far point
    EXPECT_NE(svg.find(piece), std::string::npos) << piece;
  }
  expect_no_non_finite(svg);
  const std::string g = lmoment_ratio_diagram_svg(points, {.x = 400, .y = 36, .id = "pic-lmrd"});
  EXPECT_EQ(g.rfind("<g transform=\"translate(400 36)\">", 0), 0u);
  EXPECT_EQ(g.find("<svg"), std::string::npos);
  EXPECT_NE(g.find("id=\"pic-lmrd-clip\""), std::string::npos);
}

}  // namespace
