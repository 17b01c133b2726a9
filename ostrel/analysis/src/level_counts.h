// Level counts of a packed disc: a disc's bytes row after row, padded to a
// whole number of kLevelBlock bytes. Each build counts with the widest
// vectors of its instruction set; every build gives the same counts.
#pragma once

#include <cstdint>
#include <vector>

namespace ostrel {

constexpr int kLevelBlock = 64;

struct LevelCounter {
  const char* name;
  // Lowest and highest of `bytes` bytes (a whole number of blocks).
  void (*range)(const std::uint8_t* packed, int bytes, int* lowest, int* highest);
  // Adds to counts[v] the number of bytes equal to v, for v = first..last.
  // At most 255 * 16 bytes.
  void (*count)(const std::uint8_t* packed, int bytes, int first, int last, std::uint32_t* counts);
  // The number of bytes above `level`. At most 255 * 16 bytes.
  std::uint32_t (*countAbove)(const std::uint8_t* packed, int bytes, int level);
};

// The counters this processor runs, the widest first.
const std::vector<LevelCounter>& LevelCounters();
// The widest one, chosen once.
const LevelCounter& FastestLevelCounter();

LevelCounter LevelCounterSse2();
// Built only where the compiler targets x86-64; call only where the processor has them.
LevelCounter LevelCounterAvx2();
LevelCounter LevelCounterAvx512();

}  // namespace ostrel
