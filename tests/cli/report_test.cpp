#include "korvalinde/cli/report.hpp"

#include <gtest/gtest.h>

#include "korvalinde/cli/html.hpp"
#include "korvalinde/core/fit.hpp"
#include "tests/cli/fixture.hpp"

namespace {

using korvalinde::cli::format_report;

void expect_pieces(const std::string& text, std::initializer_list<const char*> pieces) {
  for (const char* p : pieces) EXPECT_NE(text.find(p), std::string::npos) << p << "\n" << text;
}

TEST(Report, FullResultHasEveryPiece) {
  const std::string text = format_report(clitest::full_result(3000, true));
  expect_pieces(text, {"sample.txt\n",
                       "n 3000",
                       "min 4.1024",
                       "max 30.6471",
                       "bins 50",
                       "width 0.530894",
                       "cells 51",
                       "9.99745 +- 0.04",
                       "1.98876 +- 0.03",
                       "DPA_CUT (0.99 quantile)",
                       "headline: Gumbel, maximum likelihood (mle)",
                       "level T=2 ",
                       "level T=1000 ",
                       "0.52 (p 0.3)",
                       "p-values: parametric bootstrap, B = 199",
                       "19.478 [19.238, 19.718]",
                       "level T=100",
                       "period of x=35",
                       "1523.4",
                       "KS D",
                       "AD A^2",
                       "chi2 p",
                       "0.63 (df 45)",
                       "SERROR 0.0054569",
                       "RERROR 0.995955",
                       "L2 norm 0.0385861",
                       "INFO 1 (sum of squares converged), 26 residual evaluations",
                       "log-likelihood -7012.35, 6 iterations",
                       "200 (1 failed)",
                       "[9.91745, 10.0775]",
                       "KS p"});
  // The methods side by side in one header line, the headline first.
  const std::size_t header = text.find(" mle ");
  ASSERT_NE(header, std::string::npos);
  const std::string line = text.substr(header, text.find('\n', header) - header);
  EXPECT_LT(line.find("mle"), line.find("lmom"));
  EXPECT_LT(line.find("lmom"), line.find("ls"));
  EXPECT_EQ(text.find("warning"), std::string::npos);
  EXPECT_EQ(text.back(), '\n');
}

TEST(Report, UndefinedValuesAndMissingMethods) {
  auto r = clitest::full_result();
  r.ls.present = false;
  r.lmom.present = false;
  r.mle.se_a = korvalinde::kUndefined;
  r.mle.b = std::numeric_limits<double>::infinity();
  r.mle.gof.chi2_p = korvalinde::kUndefined;
  r.mle.return_levels.resize(3);  // periods 2, 5, 10: the largest is shown
  const std::string text = format_report(r);
  expect_pieces(text, {"10.0213 +- n/a", "level T=10 ", "mle:"});
  EXPECT_EQ(text.find("ls:   SERROR"), std::string::npos);
  EXPECT_EQ(text.find("lmom"), std::string::npos);
  EXPECT_EQ(text.find("nan"), std::string::npos);
  EXPECT_EQ(text.find("inf"), std::string::npos);
  EXPECT_EQ(text.find("\n  bootstrap "), std::string::npos);
}

TEST(Report, HeadlineAndLsWarningFollowTheMethodsAndBins) {
  auto r = clitest::full_result(30);
  r.mle.present = false;
  r.headline = korvalinde::choose_headline(r, {});
  std::string text = format_report(r);
  expect_pieces(text, {"headline: Gumbel, L-moments (lmom)",
                       "warning: 0.6 values per bin on average: the ls result depends strongly "
                       "on --bins"});
  r.lmom.present = false;
  r.bins = 6;  // exactly 5 values per bin
  r.headline = korvalinde::choose_headline(r, {});
  text = format_report(r);
  expect_pieces(text, {"headline: Gumbel, histogram least squares (ls)"});
  EXPECT_EQ(text.find("warning"), std::string::npos);
  // A family asked for first without a result gives way, and says why.
  korvalinde::FitOptions gev_first;
  gev_first.order = {"gev", "gumbel"};
  r = clitest::full_result();
  r.gev.mle.present = true;
  r.gev.mle.error = "the likelihood has no maximum";
  const korvalinde::Headline h = korvalinde::choose_headline(r, gev_first);
  EXPECT_EQ(h.dist + " " + h.method + ": " + h.reason, "gumbel mle: the GEV has no result");
}

TEST(Report, SolverCodesInWords) {
  auto r = clitest::full_result();
  for (auto [info, words] : {std::pair{0, "invalid input"},
                             {4, "residuals orthogonal"},
                             {5, "too many residual evaluations"},
                             {7, "parameter tolerance"}}) {
    r.ls.info = info;
    expect_pieces(format_report(r), {words});
  }
}

TEST(Report, FailuresAreOneLine) {
  korvalinde::FitResult r;
  r.file = "sample.txt";
  r.error = "sample.txt:123: 'abc' is not a number";
  EXPECT_EQ(format_report(r), "sample.txt:123: error: 'abc' is not a number\n");
  r.error = "sample.txt: No such file or directory";
  EXPECT_EQ(format_report(r), "sample.txt: error: No such file or directory\n");
  r.file = "odd\nname\x1b[2J";
  r.error = "cannot read";
  EXPECT_EQ(format_report(r), "odd?name?[2J: error: cannot read\n");
}

}  // namespace

namespace {

TEST(Html, SummaryRowsSectionsAndEscapedNames) {
  using korvalinde::cli::HtmlSection;
  std::vector<HtmlSection> sections(2);
  sections[0].result = clitest::full_result(3000);
  sections[0].result.file = "a<script>.txt";
  sections[0].svg = "<?xml version=\"1.0\"?>\n<svg id=\"picture\"></svg>\n";
  sections[1].result.file = "bad.txt";
  sections[1].result.error = "bad.txt:3: 'x' is not a number";
  const std::string page = korvalinde::cli::render_html(sections);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("<?xml"), std::string::npos);
  expect_pieces(page, {"a&lt;script&gt;.txt", "<svg id=\"picture\">", "<th>level T=1000</th>",
                       "<td>Gumbel mle</td>", "a 10.0213<br>b 1.98876",
                       "<pre>a&lt;script&gt;.txt\n  n 3000", "bad.txt:3: &apos;x&apos; is not a number",
                       "href=\"#file-2\"", "id=\"file-2\"", "What the numbers mean"});
}

}  // namespace
