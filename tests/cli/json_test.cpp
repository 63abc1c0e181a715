#include "korvalinde/cli/json.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "tests/cli/fixture.hpp"

namespace {

using korvalinde::cli::to_json_line;
using nlohmann::ordered_json;

std::vector<std::string> keys(const ordered_json& j) {
  std::vector<std::string> k;
  for (const auto& item : j.items()) k.push_back(item.key());
  return k;
}

TEST(Json, KeysInOrderForEveryMethod) {
  const std::string line = to_json_line(clitest::full_result(3000, true));
  EXPECT_EQ(line.find('\n'), std::string::npos);
  const ordered_json j = ordered_json::parse(line);
  using V = std::vector<std::string>;
  EXPECT_EQ(keys(j),
            (V{"file", "ok", "n", "min", "max", "bins", "width", "m", "ls", "mle", "lmom", "headline"}));
  const V tail{"quantile", "return_levels", "gof", "boot"};
  V ls{"a", "b", "se_a", "se_b", "corr_ab", "info", "nfev", "sum_sq", "l2", "serror", "rerror"};
  ls.insert(ls.end(), tail.begin(), tail.end());
  EXPECT_EQ(keys(j["ls"]), ls);
  EXPECT_EQ(keys(j["mle"]), (V{"a", "b", "se_a", "se_b", "corr_ab", "loglik", "iterations",
                               "quantile", "return_levels", "level", "gof", "boot"}));
  EXPECT_EQ(keys(j["lmom"]),
            (V{"a", "b", "se_a", "se_b", "corr_ab", "quantile", "return_levels", "gof", "boot"}));
  EXPECT_EQ(keys(j["ls"]["quantile"]), (V{"p", "value", "se", "lower", "upper"}));
  EXPECT_EQ(keys(j["ls"]["return_levels"][0]), (V{"period", "value", "se", "lower", "upper"}));
  EXPECT_EQ(keys(j["mle"]["level"]), (V{"x", "period"}));
  EXPECT_EQ(keys(j["ls"]["gof"]), (V{"ks", "cvm", "ad", "chi2", "chi2_df", "chi2_p", "ks_p", "cvm_p",
                                     "ad_p", "p_method"}));
  EXPECT_EQ(keys(j["ls"]["boot"]), (V{"replicates", "failed", "a", "b", "quantile", "return_levels",
                                      "ks_p", "cvm_p", "ad_p"}));
  EXPECT_EQ(j["ls"]["return_levels"].size(), 9u);
  EXPECT_EQ(j["ls"]["boot"]["return_levels"][8].size(), 2u);
  EXPECT_EQ(j["n"], 3000);
  EXPECT_EQ(j["ls"]["info"], 1);
  EXPECT_EQ(j["mle"]["level"]["x"], 35.0);
}

TEST(Json, AbsentMethodsBootAndLevelAreLeftOut) {
  auto r = clitest::full_result(100, false);
  r.ls.present = false;
  r.lmom.present = false;
  r.mle.level.reset();
  const ordered_json j = ordered_json::parse(to_json_line(r));
  EXPECT_FALSE(j.contains("ls"));
  EXPECT_FALSE(j.contains("lmom"));
  EXPECT_EQ(j["headline"], "mle");
  EXPECT_FALSE(j["mle"].contains("level"));
  EXPECT_FALSE(j["mle"].contains("boot"));
}

TEST(Json, NumbersRoundTripExactlyAndUndefinedIsNull) {
  auto r = clitest::full_result();
  const double values[] = {0.1,
                           1e-300,
                           5e-324,
                           1.7976931348623157e308,
                           123456789.123456789,
                           -2.2250738585072014e-308,
                           1.0 / 3,
                           2.0};
  r.lmom.return_levels.clear();
  for (double v : values) r.lmom.return_levels.push_back({v, {-v, v / 7, v / 3, v}});
  r.mle.se_a = korvalinde::kUndefined;
  r.mle.loglik = std::numeric_limits<double>::infinity();
  r.ls.quantile.upper = -std::numeric_limits<double>::infinity();
  const std::string line = to_json_line(r);
  const ordered_json j = ordered_json::parse(line);
  for (std::size_t i = 0; i < std::size(values); ++i) {
    const auto& rl = j["lmom"]["return_levels"][i];
    const auto& want = r.lmom.return_levels[i];
    for (auto [key, v] : {std::pair{"period", want.period},
                          {"value", want.level.value},
                          {"se", want.level.se},
                          {"lower", want.level.lower}}) {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(rl[key].get<double>()),
                std::bit_cast<std::uint64_t>(v))
          << key << " of " << values[i] << " written as " << rl[key].dump();
    }
  }
  EXPECT_TRUE(j["mle"]["se_a"].is_null());
  EXPECT_TRUE(j["mle"]["loglik"].is_null());
  EXPECT_TRUE(j["ls"]["quantile"]["upper"].is_null());
  EXPECT_EQ(line.find("NaN"), std::string::npos);
  EXPECT_EQ(line.find("Infinity"), std::string::npos);
}

TEST(Json, FailureAndHostileNames) {
  korvalinde::FitResult r;
  r.file = "bad\xff\"name\n";
  r.error = "bad\xff\"name\n:3: '\x01' is not a number";
  std::string line;
  ASSERT_NO_THROW(line = to_json_line(r));
  EXPECT_EQ(line.find('\n'), std::string::npos);
  const ordered_json j = ordered_json::parse(line);
  EXPECT_EQ(keys(j), (std::vector<std::string>{"file", "ok", "error"}));
  EXPECT_EQ(j["ok"], false);
  EXPECT_EQ(j["file"], "bad\xEF\xBF\xBD\"name\n");
  EXPECT_EQ(j["error"].get<std::string>().substr(12), ":3: '\x01' is not a number");
}

}  // namespace
