// Per-pixel colour channel conversions of the analysis.
#pragma once

#include <cstdint>

namespace ostrel {

bool IsKnownChannel(char code);

// Converts `count` pixels (blue, green, red) to channel `code`; `code` must be known.
void ConvertPixels(char code, const std::uint8_t* bgr, std::uint8_t* out, int count);

}  // namespace ostrel
