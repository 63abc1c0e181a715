#include "korvalinde/cli/json.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "korvalinde/detail/utf8.hpp"

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
  EXPECT_EQ(j["headline"], (nlohmann::ordered_json{{"dist", "gumbel"}, {"method", "mle"}}));
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
  EXPECT_EQ(j["file"], "bad\\xFF\"name\n");
  EXPECT_EQ(j["error"].get<std::string>().substr(12), ":3: '\x01' is not a number");
}

// The escape of names: undone by reading "\\" as a backslash, "\xHH" as a
// byte and any other backslash as itself.
std::string unescape(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == '\\') {
      out += '\\';
      ++i;
    } else if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
      out += static_cast<char>(std::stoi(std::string(s.substr(i + 2, 2)), nullptr, 16));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

TEST(Json, NamesThatAreNotTextStayDistinct) {
  using korvalinde::detail::escape_bytes;
  // Random names of backslashes, x, hex digits, controls, stray and whole
  // UTF-8 sequences: the escape is valid UTF-8 and undone exactly.
  const std::string_view pieces[] = {"\\", "x", "F", "a", "\x01", "\x7f", "\xff", "\xc3",
                                     "\xc3\xa9", "\xc2\x85", "\xef\xbf\xbf", "\xe2\x82"};
  std::mt19937 rng(7);
  for (int n = 0; n < 20000; ++n) {
    std::string name;
    for (int k = static_cast<int>(rng() % 7); k > 0; --k) name += pieces[rng() % std::size(pieces)];
    for (const bool controls : {false, true}) {
      const std::string e = escape_bytes(name, controls);
      ASSERT_EQ(unescape(e), name) << e;
      ASSERT_NO_THROW((void)ordered_json(e).dump()) << e;  // strict: throws on invalid UTF-8
      if (controls) {
        ASSERT_EQ(e.find_first_of("\x01\x7f"), std::string::npos) << e;
        ASSERT_EQ(e.find("\xc2\x85"), std::string::npos) << e;
      }
    }
  }
  EXPECT_EQ(escape_bytes("Zürich \\ Nord", true), "Zürich \\ Nord");  // text stays as it is
  korvalinde::FitResult r;
  r.file = "f.csv";
  r.dated.emplace().grouped = true;
  r.dated->group = "st\xfe";
  r.dated->n_rows = 3;
  r.dated->n_missing = 2;
  const ordered_json j = ordered_json::parse(to_json_line(r));
  EXPECT_EQ(j["group"], "st\\xFE");
  EXPECT_EQ(j["n_rows"], 3);  // a failed series says what was read of it
  EXPECT_EQ(j["n_missing"], 2);
}

}  // namespace
