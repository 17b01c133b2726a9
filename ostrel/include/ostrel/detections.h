// What the detector makes of one analysed frame: the findings line and the
// plus-sign markers drawn where the blocks show a label.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ostrel/analysis/analiza_detektor.h"

namespace ostrel {

// Room for the longest line: a 32-bit frame number, the two tabs and zero,
// all seven labels, CR LF and the terminator.
constexpr std::size_t kFindingsLineSize = 80;

// Writes "frame\t0\t" followed by every label the engine's last frame shows,
// in label order, and CR LF, into `line` (kFindingsLineSize bytes). Returns
// the length, or 0 (writing nothing) when the frame shows no label.
int FormatFindingsLine(const CAnalizaDetektor& engine, std::int32_t frame, char* line);

// Draws the markers of every set flag, block 0 to 47, Blood2, Blood1, Ulcer2
// then Ulcer1, into the analysed frame (3 bytes a pixel, `stride` bytes a
// row, buffer order). Returns whether it drew any.
bool DrawMarkers(const CAnalizaDetektor& engine, std::uint8_t* frame, int stride);

}  // namespace ostrel
