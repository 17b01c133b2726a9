#include "channels.h"

#include "channel_kernels.h"

namespace ostrel {

const AtanTableType& AtanTable() {
  static const AtanTableType table = [] {
    AtanTableType t{};
    for (int i = 0; i <= kAtanSteps + 1; ++i) t[i] = std::atan(static_cast<double>(i) / kAtanSteps);
    return t;
  }();
  return table;
}

const std::array<double, 256>& LinearTable() {
  static const std::array<double, 256> table = [] {
    std::array<double, 256> t{};
    for (int v = 0; v < 256; ++v) {
      const double f = v / 255.0;
      t[v] = f <= 0.04045 ? f / 12.92 : std::pow((f + 0.055) / 1.055, 2.4);
    }
    return t;
  }();
  return table;
}

bool IsKnownChannel(char code) {
  switch (code) {
    case 'G':
    case '*':
    case 'Q':
    case 'q':
    case 'u':
    case 'v':
    case 'i':
    case 'S':
    case 'h':
    case 'x': return true;
    default: return false;
  }
}

bool HasAvx2Conversion() {
#if defined(VIREO_AVX2_CHANNELS)
  static const bool supported = __builtin_cpu_supports("avx2");
  return supported;
#else
  return false;
#endif
}

void ConvertPixelsBaseline(char code, const std::uint8_t* bgr, std::uint8_t* out, int count) {
  ConvertPixelsWith<Doubles2>(code, bgr, out, count);
}

void ConvertPixels(char code, const std::uint8_t* bgr, std::uint8_t* out, int count) {
#if defined(VIREO_AVX2_CHANNELS)
  if (HasAvx2Conversion()) {
    ConvertPixelsAvx2(code, bgr, out, count);
    return;
  }
#endif
  ConvertPixelsBaseline(code, bgr, out, count);
}

}  // namespace ostrel
