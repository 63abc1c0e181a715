// Block maxima of a dated record: the largest value of each calendar year,
// water year or month with enough observations, and the blocks left out.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "korvalinde/records/result.hpp"

namespace korvalinde::stats {

enum class BlockKind { Year, WaterYear, Month };

struct BlockRule {
  BlockKind kind = BlockKind::Year;
  int start_month = 10;        // first month of a water year
  double min_coverage = 0.9;   // share of the expected observations a block needs
};

struct BlockMax {
  std::string block;  // "2012", or "2012-03" for months; a water year by the year it ends in
  std::int64_t time;  // of the maximum (the first, on ties), seconds since 1970
  double value;
};

struct BlockMaxima {
  std::int64_t step = 0;  // sampling step in seconds
  std::vector<BlockMax> maxima;
  std::vector<BlockCount> dropped;   // in time order, with empty blocks inside the record
};

// The sampling step: the median (the lower one for an even count) of the
// differences between consecutive distinct times; 0 for fewer than two.
std::int64_t sampling_step(std::span<const std::int64_t> time);

// Parses "year", "month", "water-year" or "water-year:MONTH"; false otherwise.
bool parse_block(std::string_view text, BlockRule& rule);

// Block maxima of the values (NaN is missing) at ascending times. Every block
// from the first time's to the last time's is either kept or dropped.
BlockMaxima block_maxima(std::span<const std::int64_t> time, std::span<const double> value,
                         const BlockRule& rule);

}  // namespace korvalinde::stats
