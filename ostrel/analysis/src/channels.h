// Per-pixel colour channel conversions of the analysis.
#pragma once

#include <cstdint>

namespace ostrel {

bool IsKnownChannel(char code);

// Converts `count` pixels (blue, green, red) to channel `code`; `code` must be known.
// Uses the AVX2 build where it runs, else the baseline one; both give the same bytes.
void ConvertPixels(char code, const std::uint8_t* bgr, std::uint8_t* out, int count);

void ConvertPixelsBaseline(char code, const std::uint8_t* bgr, std::uint8_t* out, int count);
// Built only where the compiler targets x86-64; call only when HasAvx2Conversion().
void ConvertPixelsAvx2(char code, const std::uint8_t* bgr, std::uint8_t* out, int count);
bool HasAvx2Conversion();

}  // namespace ostrel
