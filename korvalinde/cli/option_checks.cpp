#include "korvalinde/cli/option_checks.hpp"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace korvalinde::cli {

CLI::Validator whole_number(long long lo, long long hi) {
  return CLI::Validator(
      [lo, hi](std::string& text) -> std::string {
        long long v = 0;
        const char* end = text.data() + text.size();
        const auto [p, ec] = std::from_chars(text.data(), end, v);
        if (p != end || (ec != std::errc{} && ec != std::errc::result_out_of_range) ||
            text.empty())
          return "'" + text + "' is not a whole number";
        if (ec == std::errc::result_out_of_range) v = text[0] == '-' ? LLONG_MIN : LLONG_MAX;
        if (v < lo) return "must be at least " + std::to_string(lo);
        if (v > hi) return "must be at most " + std::to_string(hi);
        return {};
      },
      "INT");
}

std::string read_number(std::string_view text, double& v) {
  const char* end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(text.data(), end, v);
  if (text.empty() || p != end || ec == std::errc::invalid_argument || std::isnan(v))
    return "'" + std::string(text) + "' is not a number";
  if (ec != std::errc{}) v = std::strtod(std::string(text).c_str(), nullptr);  // overflow, underflow
  return {};
}

CLI::Validator number_where(std::function<bool(double)> ok, std::string what) {
  return CLI::Validator(
      [ok = std::move(ok), what = std::move(what)](std::string& text) -> std::string {
        double v = 0;
        if (std::string why = read_number(text, v); !why.empty()) return why;
        return ok(v) ? std::string() : what;
      },
      "NUMBER");
}

}  // namespace korvalinde::cli
