// The measures strip and the per-frame rate factors of Automatic Rate
// Control, both derived from the records of a map with valid measures.
#pragma once

#include <cstdint>
#include <vector>

#include "map_state.h"

namespace vireo {

constexpr int kStripWidth = 256;                 // pixels per strip row
constexpr int kStripRowBytes = kStripWidth / 2;  // two 4-bit pixels per byte
constexpr std::int32_t kMaxRateFrame = 100000;

struct RateTables {
  std::vector<std::uint8_t> strip;  // kStripRowBytes per map row, even pixel in the high nibble
  std::vector<float> table;         // one factor per frame index 0 .. last
};

// Strip palette index of pixel `p` (0 .. 255) of a strip row.
int StripPixel(const RateTables& tables, int row, int p);

// The strip and the table for the measure chosen by `rateControl` (the
// command identifiers 133 .. 139; other values give 1.0 everywhere).
RateTables BuildRateTable(const MapState& map, int rateControl);

}  // namespace vireo
