#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "comma_locale.h"
#include "frames.h"
#include "quorlin/model/params.h"
#include "quorlin/model/rings.h"

namespace quorlin {
namespace {

using test::Frame;
using test::Init;

GRID_PHASE Whole(int iterations, double momentum) {
  GRID_PHASE p = DefaultPhases()[0];
  p.MaxIterations = iterations;
  p.Momentum = momentum;
  return p;
}

TEST(RingsLayout, CreateLaysOutRingsBySineAndCosine) {
  GRID_RINGS model;
  const double centre[2] = {100, 90};
  ASSERT_TRUE(model.Create(centre, 3, 8, 10, 2));
  // Node 0 of each ring straight along +y; the angle grows toward +x.
  EXPECT_DOUBLE_EQ(model.Node(0, 0).x0, 100);
  EXPECT_DOUBLE_EQ(model.Node(0, 0).y0, 100);
  EXPECT_DOUBLE_EQ(model.Node(0, 2).y0, 130);
  EXPECT_NEAR(model.Node(2, 1).x0, 120, 1e-12);
  EXPECT_NEAR(model.Node(2, 1).y0, 90, 1e-12);
  EXPECT_NEAR(model.Node(4, 0).y0, 80, 1e-12);
  EXPECT_EQ(model.Node(2, 1).x[0], model.Node(2, 1).x[1]);
  EXPECT_DOUBLE_EQ(model.GetX(), 100);
}

TEST(RingsLayout, RefusesGridsOutsideTheRangesAndStaysUsable) {
  GRID_RINGS model;
  const double centre[2] = {10, 10};
  const double nan = std::nan("");
  const double bad[2] = {nan, 0};
  EXPECT_FALSE(model.Create(centre, 1, 128, 77, 1.04));
  EXPECT_FALSE(model.Create(centre, 8, 3, 77, 1.04));
  EXPECT_FALSE(model.Create(centre, 8, 128, 77, 0));
  EXPECT_FALSE(model.Create(centre, 8, 128, 77, nan));
  EXPECT_FALSE(model.Create(centre, 1001, 1000, 77, 1.04));
  EXPECT_FALSE(model.Create(bad, 8, 128, 77, 1.04));
  EXPECT_TRUE(model.Create(centre, 1000, 1000, 1, 1.001));
  EXPECT_FALSE(model.Create(centre, 0x80000000u, 4, 77, 1.04));
  EXPECT_EQ(model.Rings(), 0u);
  // An empty model fits, draws and reports without harm.
  const Frame frame = test::Uniform(8, 8, 1, 2, 3);
  model.Fit(frame.View());
  int drawn = 0;
  model.Draw([&](int, int, int, int, int) { ++drawn; }, [&](int, int, int) { ++drawn; });
  EXPECT_EQ(drawn, 0);
  EXPECT_EQ(model.ScaleRatio(), 1);

  GRID_GEOMETRY g = DefaultGeometry();
  EXPECT_EQ(CheckGeometry(g), nullptr);
  g.Perimeter = 2;
  EXPECT_STREQ(CheckGeometry(g), "Perimeter must be at least 4");
}

TEST(RingsPhases, RefusesPhasesThatWouldDivideByZero) {
  GRID_RINGS model;
  const double centre[2] = {127, 127};
  ASSERT_TRUE(model.Create(centre, 8, 128, 77, 1.04));
  GRID_PHASE p = DefaultPhases()[1];
  p.Momentum = 1;
  p.Dumping = -1;
  EXPECT_FALSE(model.SetPhase(1, p));  // local fit divides by Momentum + Dumping
  p.Momentum = 0;
  p.Dumping = 0;
  EXPECT_FALSE(model.SetPhase(1, p));
  p.Neighborhood = 2000;  // whole grid without momentum: no division
  EXPECT_TRUE(model.SetPhase(1, p));
  p.MaxIterations = -1;
  EXPECT_FALSE(model.SetPhase(1, p));
  p.MaxIterations = 3;
  p.Vicinity = 0.5;  // would truncate to a step of 0
  EXPECT_FALSE(model.SetPhase(1, p));
  p.Neighborhood = -1;
  p.Vicinity = 1;
  EXPECT_FALSE(model.SetPhase(1, p));
  EXPECT_FALSE(model.SetPhase(4, DefaultPhases()[0]));

  auto phases = DefaultPhases();
  EXPECT_EQ(CheckPhases(phases, 8, 128), nullptr);
  phases[0].Vicinity = 0;
  EXPECT_NE(CheckPhases(phases, 8, 128), nullptr);
  phases[0].MaxIterations = 0;  // phase 1 runs first and sets its own step
  EXPECT_EQ(CheckPhases(phases, 8, 128), nullptr);
}

TEST(RingsPhases, APhaseWithoutAnyPixelStepIsSkippedNotDividedByZero) {
  const Frame frame = test::Textured(256, 256);
  GRID_RINGS model;
  auto phases = DefaultPhases();
  phases[0].Vicinity = 0;  // the filter refuses this set; the model must survive it
  const double centre[2] = {127, 127};
  ASSERT_TRUE(model.Create(centre, 8, 128, 77, 1.04));
  ASSERT_TRUE(model.SetPhase(0, phases[0]));
  model.CaptureTemplates(frame.View());
  model.Prepare();
  model.Fit(frame.View());
  EXPECT_TRUE(std::isfinite(model.GetX()));
  EXPECT_NEAR(model.GetX(), 127, 1e-9);
}

// Counts pixel reads and forwards them to a frame.
struct CountingRead {
  FrameView view;
  long reads = 0;
  void operator()(std::int32_t x, std::int32_t y, std::uint8_t* t) {
    ++reads;
    view(x, y, t);
  }
};

TEST(RingsPhases, SkipsEmptyPhasesAndEndsPhasesAtMaxIterations) {
  const Frame frame = test::Textured(256, 256);
  auto phases = DefaultPhases();
  phases[0].MaxIterations = 0;
  phases[1] = Whole(3, 0.2);
  phases[1].Vicinity = 2;
  phases[2].MaxIterations = 0;
  phases[3].MaxIterations = 2;
  GRID_RINGS model;
  Init(model, DefaultGeometry(), phases, frame);

  CountingRead counter{frame.View()};
  std::vector<std::pair<std::uint32_t, unsigned>> steps;  // (result, phase after)
  std::uint32_t result;
  do {
    result = model.Iterate(PixelReadFn(counter));
    steps.emplace_back(result, model.PhaseIndex());
  } while (result != 0 && steps.size() < 20);
  const std::vector<std::pair<std::uint32_t, unsigned>> expected = {{1, 1}, {1, 1}, {2, 1}, {3, 2},
                                                                    {1, 3}, {4, 3}, {0, 0}};
  EXPECT_EQ(steps, expected);
  // Five iterations, each 4 costs of 9 reads for each of the 1024 nodes.
  EXPECT_EQ(counter.reads, 5L * 1024 * 4 * 9);
  EXPECT_EQ(model.Time(), 0u);
  EXPECT_EQ(model.PhaseTime(), 0u);
}

int IterationsOfOnePhase(const GRID_PHASE& phase, double* motion) {
  const Frame first = test::Textured(256, 256);
  const Frame moved = test::Textured(256, 256, 1.5, -1);
  std::array<GRID_PHASE, 4> phases{};
  phases[0] = phase;
  GRID_RINGS model;
  Init(model, DefaultGeometry(), phases, first);
  // Iterate answers Time after an iteration; the largest answer counts them.
  std::uint32_t iterations = 0, result;
  while ((result = model.Iterate(moved.View())) != 0) iterations = std::max(iterations, result);
  *motion = model.GetMotion();
  return static_cast<int>(iterations);
}

TEST(RingsPhases, MinMotionEndsAPhaseEarly) {
  double motion;
  GRID_PHASE momentum = Whole(6, 0.2);
  EXPECT_EQ(IterationsOfOnePhase(momentum, &motion), 6);  // MinMotion 0: always all
  GRID_PHASE affine = Whole(6, 0);
  affine.MinMotion = 1.5;
  EXPECT_EQ(IterationsOfOnePhase(affine, &motion), 1);  // affine Motion is 1
  EXPECT_EQ(motion, 1);
  affine.MinMotion = 0.5;
  EXPECT_EQ(IterationsOfOnePhase(affine, &motion), 6);
  GRID_PHASE local = DefaultPhases()[1];
  local.MaxIterations = 50;
  local.MinMotion = 1e-3;
  const int ran = IterationsOfOnePhase(local, &motion);
  EXPECT_LT(ran, 50);
  EXPECT_LT(motion, 1e-3);
}

TEST(RingsPrepare, WholeGridAndClippedWrappedNeighbourhoods) {
  const Frame frame = test::Textured(256, 256);
  GRID_RINGS model;
  Init(model, DefaultGeometry(), DefaultPhases(), frame);
  // Phase 0: Neighborhood 2000 covers the whole 128 x 8 grid.
  EXPECT_EQ(model.Node(0, 0).n[0], 1024);
  EXPECT_EQ(model.Node(77, 5).n[0], 1024);
  EXPECT_EQ(model.Node(77, 5).Sxx0[0], model.Node(0, 0).Sxx0[0]);
  // Phase 1: 5 x 5, clipped at the inner and outer ring.
  EXPECT_EQ(model.Node(10, 0).n[1], 15);
  EXPECT_EQ(model.Node(10, 1).n[1], 20);
  EXPECT_EQ(model.Node(10, 4).n[1], 25);
  EXPECT_EQ(model.Node(10, 7).n[1], 15);
  // Wrapping around the angle: node 0 takes angles 126, 127, 0, 1, 2.
  double sx = 0, sxx = 0, mean;
  for (std::uint32_t j : {126u, 127u, 0u, 1u, 2u})
    for (std::uint32_t k = 0; k < 3; ++k) sx += model.Node(j, k).x0;
  mean = sx / 15;
  for (std::uint32_t j : {126u, 127u, 0u, 1u, 2u})
    for (std::uint32_t k = 0; k < 3; ++k) sxx += (model.Node(j, k).x0 - mean) * (model.Node(j, k).x0 - mean);
  EXPECT_NEAR(model.Node(0, 0).Sx0[1], sx, 1e-9);
  EXPECT_NEAR(model.Node(0, 0).Sxx0[1], sxx, 1e-9);
  EXPECT_NEAR(model.Node(0, 0).Sdx0[1], 0, 1e-9);
  // Unused phases are left alone.
  EXPECT_EQ(model.J11(), 1);
  EXPECT_EQ(model.J12(), 0);
}

TEST(RingsPrepare, AnAngleReachedTwiceCountsTwice) {
  const Frame frame = test::Textured(64, 64);
  auto phases = DefaultPhases();
  GRID_RINGS model;
  GRID_GEOMETRY g{32, 32, 8, 4, 1.1, 5};
  Init(model, g, phases, frame);  // Neighborhood 2 on 4 angles: 5 angles, one twice
  EXPECT_EQ(model.Node(0, 4).n[1], 25);
  double sx = 0;
  for (std::uint32_t j : {2u, 3u, 0u, 1u, 2u})
    for (std::uint32_t k = 2; k <= 6; ++k) sx += model.Node(j, k).x0;
  EXPECT_NEAR(model.Node(0, 4).Sx0[1], sx, 1e-9);
}

TEST(RingsNode, TemplateCellsOutsideTheFrameAreBlack) {
  const Frame frame = test::Uniform(16, 16, 10, 20, 30);
  GRID_NODE node{};
  node.x[0] = 0.25;
  node.y[0] = 15.75;
  node.CaptureTemplate(frame.View(), 0);
  for (int cell = 0; cell < 9; ++cell) {
    const int dx = cell % 3 - 1, dy = cell / 3 - 1;
    const bool inside = dx >= 0 && dy <= 0;
    EXPECT_EQ(node.templ[3 * cell], inside ? 10 : 0) << cell;
    EXPECT_EQ(node.templ[3 * cell + 2], inside ? 30 : 0) << cell;
  }
  EXPECT_DOUBLE_EQ(node.fx0, -0.25);
  EXPECT_DOUBLE_EQ(node.fy0, 0.25);
}

TEST(RingsNode, MatchingRepeatsThePreviousPixelOutsideTheFrame) {
  // Byte 0 of pixel (x, y) is 10 * (y * 4 + x) + 1.
  const Frame frame(4, 4, [](int x, int y, std::uint8_t* t) {
    t[0] = static_cast<std::uint8_t>(10 * (y * 4 + x) + 1);
    t[1] = t[2] = 0;
  });
  auto value = [](int x, int y) { return 10 * (y * 4 + x) + 1; };
  GRID_NODE node{};
  const double weights[3] = {1, 0, 0};
  // Patch of (0, 1): column -1 is outside and repeats the pixel read before it.
  const double expected = (0 + value(0, 0) + value(1, 0) + value(1, 0) + value(0, 1) + value(1, 1) + value(1, 1) +
                           value(0, 2) + value(1, 2)) /
                          9.0;
  const FrameView view = frame.View();
  EXPECT_DOUBLE_EQ(node.MatchCost(PixelReadFn(view), 0, 1, weights), expected);
  EXPECT_DOUBLE_EQ(node.MatchCost(view, 0, 1, weights), expected);
  // Fully inside: both reads agree on every position.
  for (int y = 1; y < 3; ++y)
    for (int x = 1; x < 3; ++x)
      EXPECT_DOUBLE_EQ(node.MatchCost(view, x, y, weights), node.MatchCost(PixelReadFn(view), x, y, weights));
  // Far away: every read repeats black.
  EXPECT_EQ(node.MatchCost(view, -kFarAway, kFarAway, weights), 0);
}

TEST(RingsFit, UniformFrameGivesZeroForceAndNoMotion) {
  const Frame frame = test::Uniform(256, 256, 90, 60, 160);
  GRID_RINGS model;
  Init(model, DefaultGeometry(), DefaultPhases(), frame);
  const double x = model.GetX(), y = model.GetY();
  model.Fit(frame.View());
  EXPECT_NEAR(model.GetMotion(), 0, 1e-20);
  EXPECT_NEAR(model.GetDeformation(), 0, 1e-20);
  EXPECT_EQ(model.Node(5, 3).Fx, 0);
  EXPECT_EQ(model.Node(5, 3).Fy, 0);
  EXPECT_NEAR(model.GetX(), x, 1e-9);
  EXPECT_NEAR(model.GetY(), y, 1e-9);
  EXPECT_NEAR(model.Node(100, 7).x[model.Cur()], model.Node(100, 7).x0, 1e-9);
  EXPECT_NEAR(model.GetDilation(), 1, 1e-12);
  EXPECT_NEAR(model.GetAngle(), 0, 1e-12);
  EXPECT_EQ(model.FramesFitted(), 1u);
  EXPECT_EQ(model.Time(), 0u);
}

TEST(RingsFit, FollowsATranslatedTexture) {
  const Frame first = test::Textured(256, 256);
  GRID_RINGS model;
  Init(model, DefaultGeometry(), DefaultPhases(), first);
  double dx = 0;
  for (int f = 1; f <= 5; ++f) {
    dx += 1.5;
    const Frame next = test::Textured(256, 256, dx, -0.5 * dx);
    model.Fit(next.View());
    model.CaptureTemplates(next.View());
  }
  // The whole-grid phase pulls 4 % toward the rest centroid each
  // iteration, so the grid lags a little behind the texture.
  EXPECT_GT(model.GetX() - 127, 0.7 * 7.5);
  EXPECT_LT(model.GetX() - 127, 7.5 + 1);
  EXPECT_LT(model.GetY() - 127, -0.7 * 3.75);
  EXPECT_GT(model.GetY() - 127, -3.75 - 1);
}

TEST(RingsFit, ThroughTheCallbackAndThroughAFrameViewAlike) {
  const Frame first = test::Textured(256, 256);
  const Frame next = test::Textured(256, 256, 2, 1);
  GRID_RINGS a, b;
  Init(a, DefaultGeometry(), DefaultPhases(), first);
  Init(b, DefaultGeometry(), DefaultPhases(), first);
  const FrameView view = next.View();
  a.Fit(view);
  b.Fit(PixelReadFn(view));
  EXPECT_EQ(a.GetX(), b.GetX());
  EXPECT_EQ(a.GetMotion(), b.GetMotion());
  EXPECT_EQ(a.J21(), b.J21());
}

TEST(RingsDraw, LinesInOrderWithTheFirstNodesColour) {
  const Frame frame = test::Textured(256, 256);
  GRID_RINGS model;
  Init(model, DefaultGeometry(), DefaultPhases(), frame);
  struct Segment {
    int x1, y1, x2, y2, colour;
  };
  std::vector<Segment> lines;
  int points = 0;
  model.Draw(
      [&](int x1, int y1, int x2, int y2, int c) {
        lines.push_back({x1, y1, x2, y2, c});
      },
      [&](int, int, int) { ++points; });
  EXPECT_EQ(points, 0);  // a line callback wins
  const std::size_t r = 8, p = 128;
  ASSERT_EQ(lines.size(), (r - 1) + r + 2 * (p - 1) * (r - 1) + (p - 1));
  auto at = [&](std::uint32_t j, std::uint32_t k) {
    return std::pair<int, int>(static_cast<int>(model.Node(j, k).x0), static_cast<int>(model.Node(j, k).y0));
  };
  EXPECT_EQ(std::pair(lines[0].x1, lines[0].y1), at(0, 7));
  EXPECT_EQ(std::pair(lines[0].x2, lines[0].y2), at(0, 6));
  EXPECT_EQ(std::pair(lines[7].x2, lines[7].y2), at(127, 0));
  EXPECT_EQ(std::pair(lines.back().x1, lines.back().y1), at(127, 0));
  EXPECT_EQ(std::pair(lines.back().x2, lines.back().y2), at(126, 0));
  // Colour of the first node: inner/outer half of the rings by angular quarter.
  EXPECT_EQ(lines[0].colour, 1);   // (0, 7): outer half, first quarter
  EXPECT_EQ(lines[14].colour, 1);  // (0, 7)-(127, 7)
  EXPECT_EQ(lines[7].colour, 0);   // (0, 0)-(127, 0)
  EXPECT_EQ(model.ColourOf(32, 0), 1);
  EXPECT_EQ(model.ColourOf(32, 4), 0);
  EXPECT_EQ(model.ColourOf(127, 3), 1);

  std::vector<std::tuple<int, int, int>> dots;
  model.Draw({}, [&](int x, int y, int c) { dots.emplace_back(x, y, c); });
  ASSERT_EQ(dots.size(), r * p);
  EXPECT_EQ(dots[9], std::make_tuple(at(1, 1).first, at(1, 1).second, model.ColourOf(1, 1)));
}

TEST(RingsShake, OffsetsEveryNodeWithinFivePixelsPerInstance) {
  const Frame frame = test::Textured(256, 256);
  GRID_RINGS a, b;
  Init(a, DefaultGeometry(), DefaultPhases(), frame);
  Init(b, DefaultGeometry(), DefaultPhases(), frame);
  EXPECT_EQ(a.Shake(), 0);
  EXPECT_EQ(b.Shake(), 0);
  double spread = 0;
  for (std::uint32_t j = 0; j < 128; ++j)
    for (std::uint32_t k = 0; k < 8; ++k) {
      const GRID_NODE& n = a.Node(j, k);
      EXPECT_LE(std::fabs(n.x[0] - n.x0), 5);
      EXPECT_LE(std::fabs(n.y[1] - n.y0), 5);
      EXPECT_EQ(n.x[0], n.x[1]);
      EXPECT_EQ(n.x[0], b.Node(j, k).x[0]);  // no generator shared between instances
      spread += std::fabs(n.x[0] - n.x0);
    }
  EXPECT_GT(spread / 1024, 1.5);
}

// The report reads the same under a locale that writes decimal commas.
TEST(RingsReport, FormatsTheStateOfTheModel) {
  const Frame frame = test::Uniform(256, 256, 1, 2, 3);
  GRID_RINGS model;
  Init(model, DefaultGeometry(), DefaultPhases(), frame);
  char text[2048];
  vtest::CommaLocale comma;
  ASSERT_TRUE(comma.Active());
  model.FormatReport(text, sizeof text);
  const std::string report = text;
  EXPECT_EQ(report.rfind("MODEL OF DEFORMABLE RINGS:\r\nDeformation = 0.000000\r\nMotion = 0.000000\r\n"
                         "X = 127.000000 Y = 127.000000\r\n",
                         0),
            0u);
  EXPECT_NE(report.find("\r\nDilation = 1.000000\r\nAngle = 0.000000\xB0\r\nJ11 = 1.000000 J12 = 0.000000\r\n"
                        "J21 = 0.000000 J22 = 1.000000\r\n"),
            std::string::npos);
  EXPECT_EQ(report.substr(report.size() - 36), "\r\nTime = 0\r\nPhase = 0\r\nPhaseTime = 0");
  char small[16];
  std::memset(small, 'x', sizeof small);
  model.FormatReport(small, 10);
  EXPECT_EQ(std::string(small), "MODEL OF ");
  EXPECT_EQ(small[10], 'x');
}

}  // namespace
}  // namespace quorlin
