// The multiframe modes: property-page button id, caption, columns, rows.
#pragma once

#include <cstdint>

namespace durmix {

struct Mode {
  std::int32_t id;
  const char* caption;
  std::int32_t columns;
  std::int32_t rows;
};

inline constexpr Mode kModes[] = {
    {1002, "1 x 1", 1, 1}, {1003, "2 x 1", 2, 1}, {1004, "3 x 1", 3, 1}, {1005, "3 x 2", 3, 2}, {1006, "3 x 3", 3, 3},
    {1007, "4 x 3", 4, 3}, {1008, "5 x 3", 5, 3}, {1009, "5 x 4", 5, 4}, {1010, "6 x 4", 6, 4}, {1011, "2 x 2", 2, 2},
};

inline constexpr std::int32_t kMaxColumns = 6;
inline constexpr std::int32_t kMaxRows = 4;
inline constexpr std::int32_t kDefaultModeId = 1002;

// The button id showing `columns` x `rows`, or 0 when no button does.
constexpr std::int32_t ModeIdFor(std::int32_t columns, std::int32_t rows) {
  for (const Mode& m : kModes)
    if (m.columns == columns && m.rows == rows) return m.id;
  return 0;
}

}  // namespace durmix
