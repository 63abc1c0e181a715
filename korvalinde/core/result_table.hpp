// Layout of the per-bin result table, shared by the classic run's result
// file and the fit command's --result: a header, then one row per cell with
// the centre, the observed and fitted densities and the residual.
#pragma once

#include <string_view>

namespace korvalinde {

inline constexpr std::string_view kResultHeaderLayout = "(A1,A11,2x,3(A12,2x))";
inline constexpr std::string_view kResultRowLayout = "(4(F12.7,2x))";

}  // namespace korvalinde
