#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "frames.h"
#include "quorlin/model/map_writer.h"
#include "quorlin/model/params.h"
#include "quorlin/model/rings.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;
using test::Frame;

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

struct Tail {
  std::int32_t frame;
  float velocity, drift, roll, difference, deformation;
};

Tail TailOf(std::span<const std::uint8_t> row, std::uint32_t perimeter) {
  Tail t;
  const std::uint8_t* at = row.data() + 6 * perimeter;
  std::memcpy(&t.frame, at, 4);
  std::memcpy(&t.velocity, at + 4, 4);
  std::memcpy(&t.drift, at + 8, 4);
  std::memcpy(&t.roll, at + 12, 4);
  std::memcpy(&t.difference, at + 16, 4);
  std::memcpy(&t.deformation, at + 20, 4);
  return t;
}

class MapStep : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vireo_map_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A grid without phases: Fit only counts the frame, so the test places the nodes.
  void Build(GRID_RINGS& model, const Frame& frame, double ratio = 1.04) {
    const double centre[2] = {127, 127};
    ASSERT_TRUE(model.Create(centre, 8, 128, 77, ratio));
    model.CaptureTemplates(frame.View());
    model.Prepare();
  }

  // Scales the grid about its rest centroid and moves it by (dx, dy).
  static void Place(GRID_RINGS& model, double scale, double dx = 0, double dy = 0) {
    for (std::uint32_t j = 0; j < model.Perimeter(); ++j)
      for (std::uint32_t k = 0; k < model.Rings(); ++k) {
        GRID_NODE& n = model.Node(j, k);
        n.x[0] = n.x[1] = 127 + scale * (n.x0 - 127) + dx;
        n.y[0] = n.y[1] = 127 + scale * (n.y0 - 127) + dy;
      }
  }

  fs::path dir_;
};

TEST_F(MapStep, ScaleRatioIsTheSquaredSpreadAgainstTheRestGrid) {
  const Frame frame = test::Textured(256, 256);
  GRID_RINGS model;
  Build(model, frame);
  EXPECT_NEAR(model.ScaleRatio(), 1, 1e-12);
  Place(model, 1.5, 20, -7);
  EXPECT_NEAR(model.ScaleRatio(), 2.25, 1e-12);
}

TEST_F(MapStep, NoGrowthGivesAHeaderWithoutRows) {
  const Frame frame = test::Textured(256, 256);
  GRID_RINGS model;
  Build(model, frame);
  MapWriter map;
  const fs::path path = dir_ / "still.bmp";
  ASSERT_TRUE(map.OpenMap(path.string(), model.Perimeter()));
  // Nothing is in place before the map rests complete.
  EXPECT_FALSE(fs::exists(path));
  for (int f = 0; f < 3; ++f) {
    model.Fit(frame.View());
    EXPECT_EQ(model.UpdateMap(map, frame.View()), 0u);
  }
  map.CloseMap();
  const std::vector<std::uint8_t> header = ReadFile(path);
  ASSERT_EQ(header.size(), 54u);
  EXPECT_EQ(U32(header, 2), 54u);
  EXPECT_EQ(U32(header, 10), 54u);
  EXPECT_EQ(U32(header, 14), 40u);
  EXPECT_EQ(U32(header, 18), 264u);
  EXPECT_EQ(U32(header, 22), 0u);
  EXPECT_EQ(header[26] | header[27] << 8, 1);
  EXPECT_EQ(header[28] | header[29] << 8, 24);
  EXPECT_EQ(U32(header, 34), 0u);
  EXPECT_EQ(U32(header, 38), 3780u);
  EXPECT_EQ(U32(header, 42), 3780u);
}

TEST_F(MapStep, AThirdOfARingStepGivesOneRowWithTheMeasures) {
  const Frame frame(256, 256, [](int x, int y, std::uint8_t* t) {
    t[0] = static_cast<std::uint8_t>(x);
    t[1] = static_cast<std::uint8_t>(y);
    t[2] = 7;
  });
  GRID_RINGS model;
  Build(model, frame);
  MapWriter map;
  const fs::path path = dir_ / "one.bmp";
  ASSERT_TRUE(map.OpenMap(path.string(), model.Perimeter()));
  model.Fit(frame.View());
  Place(model, 1.02, 3, 4);
  // The row samples the grid as it stands before the map step.
  std::vector<double> px, py;
  for (std::uint32_t j = 0; j < 128; ++j) {  // idx 17: a = 5, b = 2
    px.push_back(model.Node(j, 5).x[0] / 3 + 2 * model.Node(j, 6).x[0] / 3);
    py.push_back(model.Node(j, 5).y[0] / 3 + 2 * model.Node(j, 6).y[0] / 3);
  }
  ASSERT_EQ(model.UpdateMap(map, frame.View()), 1u);
  EXPECT_EQ(map.subRingStep, 1);
  EXPECT_EQ(model.RingOffset(), 0u);
  EXPECT_NEAR(model.LastScale(), 1.02, 1e-12);
  EXPECT_EQ(model.FramesSinceMap(), 0u);

  const auto row = model.LastRow();
  ASSERT_EQ(row.size(), 792u);
  for (std::uint32_t j : {0u, 1u, 40u, 127u}) {
    const std::uint32_t prev = (j + 127) % 128;
    EXPECT_EQ(row[6 * j], static_cast<int>(px[prev])) << j;
    EXPECT_EQ(row[6 * j + 1], static_cast<int>(py[prev])) << j;
    EXPECT_EQ(row[6 * j + 2], 7);
    EXPECT_EQ(row[6 * j + 3], static_cast<int>((px[prev] + px[j]) / 2)) << j;
    EXPECT_EQ(row[6 * j + 4], static_cast<int>((py[prev] + py[j]) / 2)) << j;
  }
  const Tail tail = TailOf(row, 128);
  EXPECT_EQ(tail.frame, 1);
  EXPECT_FLOAT_EQ(tail.velocity, static_cast<float>(6.05 * (1 - 1 / 1.02)));
  EXPECT_NEAR(tail.drift, 5, 1e-4);
  EXPECT_EQ(tail.roll, 0);
  EXPECT_EQ(tail.deformation, 0);
  EXPECT_GT(tail.difference, 0);

  map.CloseMap();
  const std::vector<std::uint8_t> bytes = ReadFile(path);
  ASSERT_EQ(bytes.size(), 54u + 792u);
  EXPECT_EQ(U32(bytes, 2), 54u + 792u);
  EXPECT_EQ(U32(bytes, 22), 1u);
  EXPECT_EQ(U32(bytes, 34), 792u);
  EXPECT_TRUE(std::equal(row.begin(), row.end(), bytes.begin() + 54));
}

TEST_F(MapStep, AJumpGivesSeveralRowsAndRingShifts) {
  const Frame frame = test::Textured(256, 256);
  GRID_RINGS model;
  Build(model, frame);
  MapWriter map;
  const fs::path path = dir_ / "jump.bmp";
  ASSERT_TRUE(map.OpenMap(path.string(), model.Perimeter()));
  model.Fit(frame.View());
  model.Fit(frame.View());
  Place(model, std::pow(1.04, 2.5));  // two and a half ring steps out
  EXPECT_EQ(model.UpdateMap(map, frame.View()), 7u);
  EXPECT_EQ(model.RingOffset(), 6u);  // two outward shifts
  EXPECT_GT(model.LastScale(), 1 / 1.04);
  EXPECT_LE(model.LastScale(), 1.04);
  // The rest grid never moves; the shifted nodes moved inward by one ring.
  EXPECT_NEAR(model.Node(0, 3).y0, 127 + 77 * std::pow(1.04, 3), 1e-9);
  EXPECT_NEAR(model.Node(0, 3).y[0], 127 + std::pow(1.04, 2.5) * 77 * std::pow(1.04, 1), 1e-9);
  EXPECT_EQ(model.Node(0, 3).y[0], model.Node(0, 3).y[1]);

  model.Fit(frame.View());
  Place(model, std::pow(1.04, -1.5));  // one and a half ring steps in
  // The sub-ring phase goes on from the jump (g = 7, reduced to 1): five rows.
  EXPECT_EQ(model.UpdateMap(map, frame.View()), 5u);
  EXPECT_EQ(model.RingOffset(), 7u);  // one inward shift
  map.CloseMap();

  const std::vector<std::uint8_t> bytes = ReadFile(path);
  ASSERT_EQ(bytes.size(), 54u + 12u * 792u);
  EXPECT_EQ(U32(bytes, 22), 12u);
  std::vector<Tail> tails;
  for (int r = 0; r < 12; ++r) tails.push_back(TailOf({bytes.data() + 54 + 792 * r, 792}, 128));
  for (int r = 0; r < 7; ++r) {
    EXPECT_EQ(tails[r].frame, 2);
    EXPECT_EQ(std::memcmp(&tails[r], &tails[0], sizeof(Tail)), 0);
  }
  EXPECT_GT(tails[0].velocity, 0);  // grown over the two frames since the last step
  for (int r = 7; r < 12; ++r) {
    EXPECT_EQ(tails[r].frame, 3);
    EXPECT_LT(tails[r].velocity, 0);
  }
}

TEST_F(MapStep, LostTrackingResetsTheGridWithoutARow) {
  const Frame frame = test::Textured(256, 256);
  GRID_RINGS model;
  Build(model, frame);
  MapWriter map;
  model.Fit(frame.View());
  Place(model, 1.1);
  EXPECT_GT(model.UpdateMap(map, frame.View()), 0u);
  EXPECT_NE(model.RingOffset(), 0u);
  for (double scale : {0.1, 7.0, std::nan("")}) {
    model.Fit(frame.View());
    Place(model, scale, 10, 10);
    EXPECT_EQ(model.UpdateMap(map, frame.View()), 0u) << scale;
    EXPECT_EQ(model.RingOffset(), 0u);
    EXPECT_EQ(model.Node(9, 2).x[0], model.Node(9, 2).x0);
    EXPECT_EQ(model.Node(9, 2).y[1], model.Node(9, 2).y0);
  }
}

TEST_F(MapStep, RatioNotAboveOneKeepsTheMapEmptyAndTheFirstTemplates) {
  const Frame first = test::Uniform(256, 256, 50, 50, 50);
  const Frame second = test::Uniform(256, 256, 60, 60, 60);
  GRID_RINGS model;
  Build(model, first, 1.0);
  MapWriter map;
  ASSERT_TRUE(map.OpenMap((dir_ / "flat.bmp").string(), model.Perimeter()));
  model.Fit(second.View());
  Place(model, 1.5);
  EXPECT_EQ(model.UpdateMap(map, second.View()), 0u);
  EXPECT_EQ(model.Node(3, 3).templ[12], 50);
  EXPECT_EQ(map.Rows(), 0u);
}

TEST_F(MapStep, ImageDifferenceComparesTemplatesWithTheNewFrame) {
  const Frame first = test::Uniform(256, 256, 50, 50, 50);
  const Frame second = test::Uniform(256, 256, 60, 40, 60);
  GRID_RINGS model;
  Build(model, first);
  MapWriter map;
  model.Fit(second.View());
  Place(model, 1.02);
  ASSERT_EQ(model.UpdateMap(map, second.View()), 1u);
  EXPECT_FLOAT_EQ(TailOf(model.LastRow(), 128).difference, 10);
  EXPECT_EQ(model.Node(3, 3).templ[12], 60);  // retaken on this frame
}

TEST_F(MapStep, AMapThatCannotBeCreatedIsReportedAndFramesStillFit) {
  const Frame frame = test::Textured(256, 256);
  GRID_RINGS model;
  Build(model, frame);
  auto phases = DefaultPhases();
  for (std::uint32_t i = 0; i < 4; ++i) ASSERT_TRUE(model.SetPhase(i, phases[i]));
  model.Prepare();
  MapWriter map;
  std::string error;
  EXPECT_FALSE(map.OpenMap((dir_ / "missing" / "map.bmp").string(), 128, &error));
  EXPECT_EQ(error, std::strerror(ENOENT));
  EXPECT_FALSE(map.IsOpen());
  const Frame moved = test::Textured(256, 256, 1, 1);
  model.Fit(moved.View());
  Place(model, 1.03);
  EXPECT_EQ(model.UpdateMap(map, moved.View()), 2u);  // sampled and counted, not written
  EXPECT_EQ(map.Rows(), 0u);
  EXPECT_EQ(model.FramesFitted(), 1u);
  map.CloseMap();
}

TEST_F(MapStep, TheSubRingStepBelongsToTheWriterAndOutlivesTheModel) {
  const Frame frame = test::Textured(256, 256);
  MapWriter first, second;
  {
    GRID_RINGS model;
    Build(model, frame);
    model.Fit(frame.View());
    Place(model, 1.02);
    EXPECT_EQ(model.UpdateMap(first, frame.View()), 1u);
  }
  // Another instance starts from its own counter.
  GRID_RINGS other;
  Build(other, frame);
  other.Fit(frame.View());
  Place(other, 1.02);
  EXPECT_EQ(other.UpdateMap(second, frame.View()), 1u);
  // A re-initialised model of the first instance goes on from its counter:
  // 1.02 is within a third of a step of the last row.
  GRID_RINGS rebuilt;
  Build(rebuilt, frame);
  rebuilt.Fit(frame.View());
  Place(rebuilt, 1.02);
  EXPECT_EQ(rebuilt.UpdateMap(first, frame.View()), 0u);
  EXPECT_EQ(first.subRingStep, 1);
}

TEST(MapNames, TimeInLowerCaseHex) {
  EXPECT_EQ(DefaultMapName(0x5F5E1AB), "map_5f5e1ab.bmp");
  EXPECT_EQ(MapRowBytes(128), 792u);
  EXPECT_EQ(MapRowBytes(5), 56u);  // 2*5+8 pixels = 54 bytes, padded
}

}  // namespace
}  // namespace quorlin
