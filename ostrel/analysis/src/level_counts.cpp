#include "level_counts.h"

#include "level_count_kernels.h"

namespace ostrel {

LevelCounter LevelCounterSse2() { return LevelKernels<Bytes16>::Counter("SSE2"); }

const std::vector<LevelCounter>& LevelCounters() {
  static const std::vector<LevelCounter> counters = [] {
    std::vector<LevelCounter> found;
#if defined(VIREO_WIDE_LEVEL_COUNTS)
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")) found.push_back(LevelCounterAvx512());
    if (__builtin_cpu_supports("avx2")) found.push_back(LevelCounterAvx2());
#endif
    found.push_back(LevelCounterSse2());
    return found;
  }();
  return counters;
}

const LevelCounter& FastestLevelCounter() {
  static const LevelCounter& fastest = LevelCounters().front();
  return fastest;
}

}  // namespace ostrel
