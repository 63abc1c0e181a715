// The fit's option vocabulary, named once for every interface: the methods,
// the defaults and the limits.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace korvalinde {

// The estimation methods, in the order the results list them.
enum class Method { ls, mle, lmom };
inline constexpr std::array<Method, 3> kMethods{Method::ls, Method::mle, Method::lmom};

constexpr std::string_view method_name(Method m) {
  switch (m) {
    case Method::ls: return "ls";
    case Method::mle: return "mle";
    case Method::lmom: return "lmom";
  }
  return "";
}

constexpr std::optional<Method> parse_method(std::string_view name) {
  for (const Method m : kMethods) {
    if (method_name(m) == name) return m;
  }
  return std::nullopt;
}

inline constexpr int kDefaultBins = 50;
inline constexpr int kMaxBinsFit = 1000000;  // bins of the fit command and library
inline constexpr double kDefaultProb = 0.99;  // in (0, 1]
inline constexpr std::array<double, 9> kDefaultPeriods{2, 5, 10, 20, 50, 100, 200, 500, 1000};

}  // namespace korvalinde
