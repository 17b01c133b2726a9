// The model's parameters as the key/value text of the filter's property page.
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "filterhost/grid_records.h"

namespace quorlin {

// The filter's defaults.
GRID_GEOMETRY DefaultGeometry();
std::array<GRID_PHASE, 4> DefaultPhases();

// One line per value ("Key\t%f" or "Key\t%d", "\r\n"), an empty line after
// the geometry and after phases 0, 1 and 2. Locale independent.
std::string FormatParams(const GRID_GEOMETRY& geometry, std::span<const GRID_PHASE, 4> phases);

// At most this many characters of the text are read, like the edit box.
inline constexpr std::size_t kParamTextMax = 2047;
inline constexpr int kParamEntries = 58;

// Reads the text back: the k-th non-empty line is the k-th entry. Returns 0
// on success, otherwise the number (1..58) of the first entry that is
// missing or whose key or number does not match. The records are filled
// entry by entry; after a failure they hold a mix and are to be discarded.
int ParseParams(std::string_view text, GRID_GEOMETRY& geometry, std::span<GRID_PHASE, 4> phases);

// "Syntax error, line %d"
std::string SyntaxErrorText(int entry);

}  // namespace quorlin
