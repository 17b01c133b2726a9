// The pixel rules of the grid drawing: colours in frame byte order, points
// and crosses clipped per pixel, lines only between two inside ends.
#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

#include "frame_painter.h"

using quorlin::FrameLayout;
using quorlin::FramePainter;
using Pixels = std::set<std::pair<int, int>>;

namespace {

constexpr int kW = 9, kH = 6, kGuard = 16;
constexpr std::uint8_t kBackground = 0x55;
constexpr GRID_LOOK kLook{3, 0x00332211u, 0x00665544u};  // colour 1 and 2 as 0x00BBGGRR

// A frame with guard bytes on both sides, so writes outside it show.
struct Canvas {
  FrameLayout layout;
  std::vector<std::uint8_t> memory;
  explicit Canvas(int bits = 24)
      : layout{kW, kH, bits == 24 ? (3 * kW + 3) & ~3 : 4 * kW, bits},
        memory(static_cast<std::size_t>(layout.ImageBytes()) + 2 * kGuard, kBackground) {}
  FramePainter Painter() { return FramePainter(memory.data() + kGuard, layout, kLook); }
  const std::uint8_t* At(int x, int y) const {
    return memory.data() + kGuard + y * layout.stride + x * layout.BytesPerPixel();
  }
  Pixels Changed() const {
    Pixels p;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x)
        for (int b = 0; b < layout.BytesPerPixel(); ++b)
          if (At(x, y)[b] != kBackground) p.insert({x, y});
    return p;
  }
  bool GuardsIntact() const {
    for (int i = 0; i < kGuard; ++i)
      if (memory[i] != kBackground || memory[memory.size() - 1 - i] != kBackground) return false;
    return true;
  }
};

}  // namespace

TEST(QuorlinPainter, ColoursAreWrittenInFrameByteOrder) {
  Canvas c24(24);
  auto p24 = c24.Painter();
  p24.Point(1, 1, 1);
  p24.Point(2, 1, 0);
  EXPECT_EQ(std::vector<int>(c24.At(1, 1), c24.At(1, 1) + 3), (std::vector<int>{0x33, 0x22, 0x11}));
  EXPECT_EQ(std::vector<int>(c24.At(2, 1), c24.At(2, 1) + 3), (std::vector<int>{0x66, 0x55, 0x44}));
  EXPECT_EQ(c24.At(3, 1)[0], kBackground);  // exactly three bytes

  Canvas c32(32);
  auto p32 = c32.Painter();
  p32.Point(1, 1, 7);  // any non-zero index is colour 1
  EXPECT_EQ(std::vector<int>(c32.At(1, 1), c32.At(1, 1) + 4), (std::vector<int>{0x33, 0x22, 0x11, 0}));
  EXPECT_EQ(c32.At(2, 1)[0], kBackground);
}

TEST(QuorlinPainter, PointsAndCrossesAreClippedPixelByPixel) {
  Canvas c;
  auto p = c.Painter();
  p.Point(-1, 0, 1);
  p.Point(kW, 2, 1);
  p.Point(0, kH, 1);
  p.Point(0, -1, 1);
  EXPECT_TRUE(c.Changed().empty());
  p.Cross(0, 0, 1);
  p.Cross(kW - 1, kH - 1, 0);
  p.Cross(kW, 3, 1);  // only its left arm is inside
  EXPECT_EQ(c.Changed(),
            (Pixels{{0, 0}, {1, 0}, {0, 1}, {kW - 1, kH - 1}, {kW - 2, kH - 1}, {kW - 1, kH - 2}, {kW - 1, 3}}));
  EXPECT_TRUE(c.GuardsIntact());
}

TEST(QuorlinPainter, LinesStepAlongTheLongerAxisFromTheSmallerEnd) {
  const struct {
    int x1, y1, x2, y2;
    Pixels expected;
  } cases[] = {
      {0, 0, 4, 2, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}}},
      {4, 2, 0, 0, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}}},
      {1, 3, 3, 0, {{3, 0}, {3, 1}, {2, 2}, {1, 3}}},  // steep: along y from y = 0
      {0, 4, 3, 1, {{0, 4}, {1, 3}, {2, 2}, {3, 1}}},  // equal extents: along x
      {5, 5, 5, 5, {{5, 5}}},                          // coinciding ends
      {8, 0, 0, 1, {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}, {8, 0}}},
  };
  for (const auto& t : cases) {
    Canvas c;
    c.Painter().Line(t.x1, t.y1, t.x2, t.y2, 1);
    EXPECT_EQ(c.Changed(), t.expected) << t.x1 << "," << t.y1 << " -> " << t.x2 << "," << t.y2;
  }
}

TEST(QuorlinPainter, LineWithAnEndOutsideIsNotDrawnAtAll) {
  Canvas c;
  auto p = c.Painter();
  p.Line(2, 2, kW, 2, 1);
  p.Line(-1, 0, 3, 3, 1);
  p.Line(2, 2, 2, kH, 0);
  p.Line(2, -1, 2, 3, 0);
  p.Line(-5, -5, -5, -5, 1);
  p.Line(-1073741824, 0, 1073741824, 0, 1);
  EXPECT_TRUE(c.Changed().empty());
  EXPECT_TRUE(c.GuardsIntact());
}
