// Results of a regional frequency analysis by L-moments: plain data filled
// by the statistics layer, rendered by the command line and the module.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "korvalinde/records/result.hpp"

namespace korvalinde {

// One site: its sample L-moments and its discordancy.
struct RegionSite {
  std::string name;
  std::size_t n = 0;
  double mean = kUndefined, t = kUndefined, t3 = kUndefined, t4 = kUndefined, t5 = kUndefined;
  double D = kUndefined;  // undefined below 4 sites
  bool discordant = false;
};

// A quantile at a return period, with its relative RMSE and 90% bounds
// when the accuracy was simulated.
struct RegionQuantile {
  double period = 0, value = kUndefined, rmse = kUndefined, lower = kUndefined, upper = kUndefined;
};

// The goodness of fit of one three-parameter family.
struct RegionGoodness {
  std::string family;  // glo, gev, gno, pe3, gpa
  double tau4 = kUndefined, Z = kUndefined;
  bool accepted = false;
};

// A regional growth curve: the family's L-moment fit to (1, t, t3, t4, t5).
struct RegionGrowth {
  std::string family;
  std::vector<std::pair<std::string, double>> params;  // in the family's own names and order
  std::vector<RegionQuantile> quantiles;
};

struct RegionAtSite {
  std::string site;
  std::vector<RegionQuantile> quantiles;  // site mean x the chosen growth curve
};

struct RegionResult {
  std::vector<RegionSite> sites;
  std::vector<std::string> left_out;  // "name (n values)" of the sites below the minimum
  double D_critical = kUndefined;
  double t = kUndefined, t3 = kUndefined, t4 = kUndefined, t5 = kUndefined;  // regional averages

  // The distribution the regions are simulated from: the Kappa, or the GLO
  // when the regional ratios lie above the GLO line (kappa_fallback "glo").
  bool kappa_fitted = false;
  double kappa_loc = kUndefined, kappa_scale = kUndefined, kappa_k = kUndefined, kappa_h = kUndefined;
  std::string kappa_fallback;

  std::size_t nsim = 0;
  std::array<double, 3> V{kUndefined, kUndefined, kUndefined};
  std::array<double, 3> sim_mean{kUndefined, kUndefined, kUndefined};
  std::array<double, 3> sim_sd{kUndefined, kUndefined, kUndefined};
  std::array<double, 3> H{kUndefined, kUndefined, kUndefined};
  double B4 = kUndefined, sigma4 = kUndefined;

  std::vector<RegionGoodness> goodness;
  std::string chosen;  // empty when no family could be judged
  std::vector<RegionGrowth> growth;
  std::vector<RegionAtSite> at_site;

  std::size_t accuracy_nsim = 0, accuracy_failed = 0;  // failed: refits infeasible, left out
  double correlation = 0;

  std::vector<std::string> warnings;
};

}  // namespace korvalinde
