// MDR map bitmaps written for the map tests: 24-bit rows of picture followed
// by the frame number and the five measures, as the tracking filter writes them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "map_state.h"

namespace ptest {

struct MapRow {
  std::int32_t frame = 0;
  float velocity = 0, drift = 0, roll = 0, imageDifference = 0, deformation = 0;
};

// The bytes of a completed map whose picture part is `picture` pixels wide;
// pixel x of row r is (blue r, green x, red 7).
std::string MapBytes(const std::vector<MapRow>& rows, int picture = 16);

// The same map as the writer leaves it when it never completes the header:
// size fields 0, the rows, and `extraBytes` of a row that was not finished.
std::string UnfinishedMapBytes(const std::vector<MapRow>& rows, int picture, int extraBytes);

// Rows with frame numbers `first`, `first + step`, ... and the given measures.
std::vector<MapRow> Rows(int count, int first, int step, MapRow measures = {});

}  // namespace ptest
