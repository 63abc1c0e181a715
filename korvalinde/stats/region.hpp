// Regional frequency analysis by L-moments (Hosking and Wallis, 1997): the
// discordancy of each site, the heterogeneity of the region, the goodness of
// fit of five three-parameter families, the regional growth curves, the
// at-site quantiles (index flood) and their accuracy by simulation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "korvalinde/records/region_result.hpp"
#include "korvalinde/stats/lmoments.hpp"

namespace korvalinde::stats {

struct RegionSiteInput {
  std::string name;
  SampleLmoments lm;
};

struct RegionOptions {
  std::size_t nsim = 500;      // simulated regions of the heterogeneity and goodness measures
  std::uint64_t seed = 0;
  unsigned threads = 1;
  std::vector<double> periods{2, 5, 10, 20, 50, 100};
  std::size_t min_years = 10;  // shorter sites are left out, by name
  std::size_t accuracy = 0;    // simulated regions of the accuracy, 0 for none
  double correlation = 0;      // equicorrelation of the sites in the accuracy's regions
  bool every_curve = false;    // growth curves of all five families, not only the accepted
};

enum class RegionStatus { ok, empty, refused };

// The site's L-moments from its values in any order.
RegionSiteInput region_site(std::string name, std::vector<double> values);

// Fills `out`. `refused` with `why` naming the site when a kept site's
// L-moments are not finite (or its L-CV not positive); `empty` when no site
// is left.
RegionStatus analyze_region(std::span<const RegionSiteInput> sites, const RegionOptions& options,
                            RegionResult& out, std::string& why);

// The critical value of the discordancy for n sites; NaN below 4 sites.
double discordancy_critical(std::size_t n);

}  // namespace korvalinde::stats
