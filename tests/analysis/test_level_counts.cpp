// Every level counter this processor runs against plain counting, over
// buffers that reach the counters' limits: lanes that count every vector,
// the lowest and highest levels, and levels that are absent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "level_counts.h"

namespace {

struct Buffer {
  std::string name;
  std::vector<std::uint8_t> bytes;
};

std::vector<Buffer> Buffers() {
  std::mt19937 random(5);
  auto filled = [&](int blocks, auto level) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(blocks) * ostrel::kLevelBlock);
    for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<std::uint8_t>(level(k));
    return bytes;
  };
  const int most = 255 * 16 / ostrel::kLevelBlock;
  return {
      {"one block of zeros", filled(1, [](std::size_t) { return 0; })},
      {"largest buffer of 255", filled(most, [](std::size_t) { return 255; })},
      {"largest buffer of one middle level", filled(most, [](std::size_t) { return 77; })},
      {"every level in turn", filled(most, [](std::size_t k) { return k % 256; })},
      {"two levels apart", filled(5, [](std::size_t k) { return k % 3 == 0 ? 3 : 200; })},
      {"narrow random levels", filled(32, [&](std::size_t) { return 100 + random() % 9; })},
      {"wide random levels", filled(32, [&](std::size_t) { return random() % 256; })},
      {"pair values", filled(32, [&](std::size_t) { return random() % 4 == 0 ? random() % 63 : random() % 3; })},
  };
}

TEST(AnalysisLevelCounts, EveryCounterCountsLikePlainCounting) {
  ASSERT_FALSE(ostrel::LevelCounters().empty());
  EXPECT_STREQ(ostrel::FastestLevelCounter().name, ostrel::LevelCounters().front().name);
  for (const Buffer& buffer : Buffers()) {
    const int size = static_cast<int>(buffer.bytes.size());
    std::uint32_t want[256] = {};
    int lowest = 255, highest = 0;
    for (std::uint8_t b : buffer.bytes) {
      ++want[b];
      lowest = std::min<int>(lowest, b);
      highest = std::max<int>(highest, b);
    }
    for (const ostrel::LevelCounter& counter : ostrel::LevelCounters()) {
      SCOPED_TRACE(std::string(counter.name) + ", " + buffer.name);
      int low = -1, high = -1;
      counter.range(buffer.bytes.data(), size, &low, &high);
      EXPECT_EQ(low, lowest);
      EXPECT_EQ(high, highest);

      // Counts are added to what is there, and only for the levels asked.
      std::uint32_t counts[256];
      std::fill(counts, counts + 256, 1000u);
      counter.count(buffer.bytes.data(), size, 1, 254, counts);
      for (int v = 0; v < 256; ++v) ASSERT_EQ(counts[v], v == 0 || v == 255 ? 1000u : 1000u + want[v]) << "level " << v;

      std::uint32_t above = static_cast<std::uint32_t>(size);
      for (int level = 0; level < 256; ++level) {
        above -= want[level];
        ASSERT_EQ(counter.countAbove(buffer.bytes.data(), size, level), above) << "level " << level;
      }
    }
  }
}

}  // namespace
