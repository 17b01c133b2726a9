// Whole-frame analysis: which frames are analysed, which pixels count, and
// that every slot holds the measurement its schedule names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "ostrel/analysis/analiza_detektor.h"
#include "schedule.h"

namespace {

using ostrel::CAnalizaDetektor;

constexpr int kStoredSlots[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 17, 18, 19};

struct Frame {
  int width, height, stride;
  std::vector<std::uint8_t> bytes;
  Frame(int w, int h, std::uint32_t seed)
      : width(w), height(h), stride((3 * w + 3) & ~3), bytes(static_cast<std::size_t>(stride) * h) {
    // Smooth colour fields plus noise, so that features vary between blocks.
    std::mt19937 random(seed);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        std::uint8_t* p = &bytes[static_cast<std::size_t>(y) * stride + 3 * x];
        p[0] = static_cast<std::uint8_t>((x * 3 + y) / 4 + random() % 24);
        p[1] = static_cast<std::uint8_t>(40 + (x ^ y) % 90 + random() % 16);
        p[2] = static_cast<std::uint8_t>(120 + y / 3 + random() % 8);
      }
  }
};

// Puts every block inside all four regions (points inside each table).
void PlaceInsideEveryRegion(CAnalizaDetektor& engine) {
  for (int b = 0; b < CAnalizaDetektor::kBlocks; ++b) {
    CAnalizaDetektor::FeatureVector& f = engine.Features(b);
    f[0] = 0.147, f[1] = 40.4, f[2] = 4.26;
    f[3] = 0.373, f[4] = 195, f[5] = 190;
    f[6] = 0.95, f[7] = 0.111, f[8] = 0.0845, f[9] = 0.494;
    f[17] = 207, f[18] = 0.124, f[19] = 153;
  }
  engine.ClassifyBlocks();
}

void ExpectNothing(const CAnalizaDetektor& engine) {
  for (int b = 0; b < CAnalizaDetektor::kBlocks; ++b) {
    for (double v : engine.Features(b)) ASSERT_EQ(v, 0.0) << b;
    for (std::uint8_t v : engine.Flags(b)) ASSERT_EQ(v, 0) << b;
  }
}

TEST(AnalysisFrame, BlockGridAsListed) {
  EXPECT_EQ(CAnalizaDetektor::BlockCentre(0).x, 88);
  EXPECT_EQ(CAnalizaDetektor::BlockCentre(0).y, 44);
  EXPECT_EQ(CAnalizaDetektor::BlockCentre(3).x, 166);
  EXPECT_EQ(CAnalizaDetektor::BlockCentre(22).x, 36);
  EXPECT_EQ(CAnalizaDetektor::BlockCentre(29).x, 218);
  EXPECT_EQ(CAnalizaDetektor::BlockCentre(29).y, 136);
  EXPECT_EQ(CAnalizaDetektor::BlockCentre(40).x, 140);
  EXPECT_EQ(CAnalizaDetektor::BlockCentre(40).y, 182);
  EXPECT_EQ(CAnalizaDetektor::BlockCentre(47).x, 179);
  EXPECT_EQ(CAnalizaDetektor::BlockCentre(47).y, 205);
}

TEST(AnalysisFrame, SmallFramesAndBadArgumentsYieldNothing) {
  for (const auto& size : {std::pair{0, 0}, std::pair{1, 1}, std::pair{255, 256}, std::pair{256, 255},
                           std::pair{100, 400}, std::pair{-256, 256}}) {
    const int w = size.first, h = size.second;
    std::vector<std::uint8_t> frame(1 + static_cast<std::size_t>(std::max(0, (3 * w + 3) & ~3)) * std::max(0, h), 90);
    std::vector<std::uint8_t> channel(1 + static_cast<std::size_t>(std::max(0, w)) * std::max(0, h), 0);
    CAnalizaDetektor engine(w, h);
    engine.AnalyzeFrame((3 * w + 3) & ~3, frame.data(), channel.data());
    ExpectNothing(engine);
  }
  Frame frame(256, 256, 1);
  std::vector<std::uint8_t> channel(256 * 256);
  CAnalizaDetektor engine(256, 256);
  // An earlier frame's detections never outlive a frame that is refused.
  const std::pair<const std::uint8_t*, std::uint8_t*> pointers[] = {
      {nullptr, channel.data()}, {frame.bytes.data(), nullptr}, {nullptr, nullptr}};
  for (const auto& [bytes, chan] : pointers) {
    PlaceInsideEveryRegion(engine);
    ASSERT_TRUE(engine.FrameShows(CAnalizaDetektor::kBlood1));
    engine.AnalyzeFrame(frame.stride, bytes, chan);
    ExpectNothing(engine);
  }
  for (int stride : {3 * 256 - 1, 0, -768}) {
    PlaceInsideEveryRegion(engine);
    engine.AnalyzeFrame(stride, frame.bytes.data(), channel.data());
    ExpectNothing(engine);
  }
}

TEST(AnalysisFrame, OnlyTheFirst256ColumnsAndRowsCount) {
  Frame small(256, 256, 5);
  Frame large(301, 280, 6);      // different pixels everywhere ...
  for (int y = 0; y < 256; ++y)  // ... except the first 256 columns of the first 256 rows
    std::copy_n(&small.bytes[static_cast<std::size_t>(y) * small.stride], 3 * 256,
                &large.bytes[static_cast<std::size_t>(y) * large.stride]);
  std::vector<std::uint8_t> channelSmall(256 * 256), channelLarge(301 * 280);
  CAnalizaDetektor a(256, 256), b(301, 280);
  a.AnalyzeFrame(small.stride, small.bytes.data(), channelSmall.data());
  b.AnalyzeFrame(large.stride, large.bytes.data(), channelLarge.data());
  for (int block = 0; block < CAnalizaDetektor::kBlocks; ++block) {
    for (int slot : kStoredSlots) ASSERT_EQ(a.Features(block)[slot], b.Features(block)[slot]) << block << "/" << slot;
    ASSERT_EQ(a.Flags(block), b.Flags(block));
  }
}

// Every scheduled slot of `frame` as the engine's single-step calls measure it.
void ExpectScheduledMeasurements(const Frame& frame) {
  std::vector<std::uint8_t> channel(static_cast<std::size_t>(frame.width) * frame.height);
  CAnalizaDetektor engine(frame.width, frame.height);
  engine.AnalyzeFrame(frame.stride, frame.bytes.data(), channel.data());

  CAnalizaDetektor reference(frame.width, frame.height);
  std::vector<std::uint8_t> full(channel.size());
  for (const analysis_test::Scheduled& e : analysis_test::kSchedule) {
    ASSERT_TRUE(reference.ConvertChannel(e.code, frame.stride, frame.bytes.data(), full.data()));
    for (int b = 0; b < CAnalizaDetektor::kBlocks; ++b) {
      const double want = analysis_test::MeasureScheduled(reference, e, b);
      ASSERT_EQ(engine.Features(b)[e.slot], want) << "slot " << e.slot << " block " << b;
    }
  }
  for (int b = 0; b < CAnalizaDetektor::kBlocks; ++b)
    for (int slot = 0; slot < CAnalizaDetektor::kFeatureSlots; ++slot)
      if (slot > 9 && slot != 17 && slot != 18 && slot != 19) {
        ASSERT_EQ(engine.Features(b)[slot], 0.0);
      }
}

TEST(AnalysisFrame, EverySlotHoldsItsScheduledMeasurement) { ExpectScheduledMeasurements(Frame(260, 257, 9)); }

// Flat and two-level frames put the percentiles at both ends of the level
// range and right at the edge of their share of a disc.
TEST(AnalysisFrame, FlatAndTwoLevelFramesKeepTheirScheduledMeasurements) {
  struct Case {
    const char* name;
    std::uint8_t (*level)(int x, int y);  // the same byte for blue, green and red
  };
  const Case cases[] = {
      {"black", [](int, int) -> std::uint8_t { return 0; }},
      {"white", [](int, int) -> std::uint8_t { return 255; }},
      {"white every tenth column", [](int x, int) -> std::uint8_t { return x % 10 == 0 ? 255 : 30; }},
      {"white every hundredth pixel", [](int x, int y) -> std::uint8_t { return (x + 256 * y) % 100 ? 60 : 255; }},
      {"white checks", [](int x, int y) -> std::uint8_t { return (x / 3 + y / 3) % 2 ? 255 : 0; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Frame frame(256, 256, 1);
    for (int y = 0; y < frame.height; ++y)
      for (int x = 0; x < frame.width; ++x)
        std::fill_n(&frame.bytes[static_cast<std::size_t>(y) * frame.stride + 3 * x], 3, c.level(x, y));
    ExpectScheduledMeasurements(frame);
  }
}

TEST(AnalysisFrame, UnusedFlagsStayClearWhateverTheFeatures) {
  CAnalizaDetektor engine(256, 256);
  PlaceInsideEveryRegion(engine);
  for (int b = 0; b < CAnalizaDetektor::kBlocks; ++b) {
    const CAnalizaDetektor::FlagRecord& flags = engine.Flags(b);
    EXPECT_EQ(flags[CAnalizaDetektor::kBlood1], 1);
    EXPECT_EQ(flags[CAnalizaDetektor::kUlcer1], 1);
    EXPECT_EQ(flags[CAnalizaDetektor::kUlcer2], 1);
    EXPECT_EQ(flags[CAnalizaDetektor::kBlood2], 1);
    EXPECT_EQ(flags[CAnalizaDetektor::kUlcer3], 0);
    EXPECT_EQ(flags[CAnalizaDetektor::kPatho1], 0);
    EXPECT_EQ(flags[CAnalizaDetektor::kBlood3], 0);
    for (int byte = CAnalizaDetektor::kFlagCount; byte < CAnalizaDetektor::kFlagBytes; ++byte)
      EXPECT_EQ(flags[byte], 0);
  }
  // Only the block whose point moved leaves the region.
  engine.Features(3)[1] = 60;
  engine.ClassifyBlocks();
  EXPECT_EQ(engine.Flags(3)[CAnalizaDetektor::kBlood1], 0);
  EXPECT_EQ(engine.Flags(3)[CAnalizaDetektor::kUlcer1], 1);
  EXPECT_EQ(engine.Flags(4)[CAnalizaDetektor::kBlood1], 1);
}

}  // namespace
