// The level counts of level_counts.h in vectors of Width bytes. Included by
// one file per instruction set, each compiled for its set, so every
// definition here stays inside that file.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "level_counts.h"

namespace ostrel {
namespace {

typedef std::uint8_t Bytes16 __attribute__((vector_size(16)));
typedef std::uint8_t Bytes32 __attribute__((vector_size(32)));
typedef std::uint8_t Bytes64 __attribute__((vector_size(64)));

template <typename Bytes>
struct LevelKernels {
  static constexpr int Width = sizeof(Bytes);
  static_assert(kLevelBlock % Width == 0);

  static Bytes Load(const std::uint8_t* p) {
    Bytes v;
    __builtin_memcpy(&v, p, Width);
    return v;
  }
  static Bytes Splat(int value) { return Bytes{} + static_cast<std::uint8_t>(value); }

  // The sum of the byte lanes.
  static std::uint32_t Total(Bytes v) {
    auto eights = [v] {
      if constexpr (Width == 64)
        return _mm512_sad_epu8(__m512i(v), _mm512_setzero_si512());
      else if constexpr (Width == 32)
        return _mm256_sad_epu8(__m256i(v), _mm256_setzero_si256());
      else
        return _mm_sad_epu8(__m128i(v), _mm_setzero_si128());
    }();
    long long total = 0;
    for (int lane = 0; lane < Width / 8; ++lane) total += eights[lane];
    return static_cast<std::uint32_t>(total);
  }

  static void Range(const std::uint8_t* packed, int bytes, int* lowest, int* highest) {
    Bytes low = Splat(255), high = Splat(0);
    for (int k = 0; k < bytes; k += Width) {
      const Bytes v = Load(packed + k);
      low = v < low ? v : low;
      high = v > high ? v : high;
    }
    int l = 255, h = 0;
    for (int lane = 0; lane < Width; ++lane) {
      l = low[lane] < l ? low[lane] : l;
      h = high[lane] > h ? high[lane] : h;
    }
    *lowest = l;
    *highest = h;
  }

  // A byte lane adds one per vector, so it holds the counts of 255 vectors.
  static void Count(const std::uint8_t* packed, int bytes, int first, int last, std::uint32_t* counts) {
    for (int level = first; level <= last; ++level) {
      const Bytes wanted = Splat(level);
      Bytes hits{};
      for (int k = 0; k < bytes; k += Width) hits -= Bytes(Load(packed + k) == wanted);
      counts[level] += Total(hits);
    }
  }

  static std::uint32_t CountAbove(const std::uint8_t* packed, int bytes, int level) {
    const Bytes bound = Splat(level);
    Bytes above{};
    for (int k = 0; k < bytes; k += Width) above -= Bytes(Load(packed + k) > bound);
    return Total(above);
  }

  static LevelCounter Counter(const char* name) { return {name, Range, Count, CountAbove}; }
};

}  // namespace
}  // namespace ostrel
