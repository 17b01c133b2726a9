// The model tracks: rendered motion with known advance, roll and drift, and
// real capsule frames fitted in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "quorlin/model/map_writer.h"
#include "quorlin/model/params.h"
#include "quorlin/model/rings.h"
#include "gst_pipeline.h"
#include "tools/synthclip/renderer.h"

namespace quorlin {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Image {
  int width = 0, height = 0, stride = 0;
  std::vector<std::uint8_t> bytes;
  FrameView View() const { return FrameView{bytes.data(), width, height, stride, 3}; }
};

// The filter's setup: Create, four phases, templates on the first frame, Prepare.
void Init(GRID_RINGS& model, const Image& first, double xo, double yo) {
  GRID_GEOMETRY g = DefaultGeometry();
  g.Xo = xo;
  g.Yo = yo;
  const double centre[2] = {g.Xo, g.Yo};
  ASSERT_TRUE(model.Create(centre, g.Rings, g.Perimeter, g.Rmin, g.Ratio));
  const auto phases = DefaultPhases();
  for (std::uint32_t i = 0; i < 4; ++i) ASSERT_TRUE(model.SetPhase(i, phases[i]));
  model.CaptureTemplates(first.View());
  model.Prepare();
}

class Rendered {
 public:
  Rendered() : renderer_(Options()) {}
  Image Frame(const vireo::synth::Camera& camera, bool bottomUp = false) const {
    Image image;
    image.width = image.height = renderer_.Size();
    image.stride = 3 * image.width;
    image.bytes.resize(static_cast<std::size_t>(image.stride) * image.height);
    renderer_.Render(camera, image.bytes.data(), image.stride);
    if (bottomUp)
      for (int y = 0; y < image.height / 2; ++y)
        std::swap_ranges(image.bytes.begin() + y * image.stride, image.bytes.begin() + (y + 1) * image.stride,
                         image.bytes.begin() + (image.height - 1 - y) * image.stride);
    return image;
  }

 private:
  static vireo::synth::SynthOptions Options() {
    vireo::synth::SynthOptions options;
    options.size = 256;
    options.seed = 3;
    return options;
  }
  vireo::synth::TunnelRenderer renderer_;
};

double Scale(const GRID_RINGS& model) { return std::sqrt(std::fabs(model.ScaleRatio())); }

TEST(TrackingRendered, VelocityIsPositiveWhileAdvancingAndNegativeWhileRetreating) {
  const Rendered render;
  vireo::synth::Camera camera;
  GRID_RINGS model;
  Init(model, render.Frame(camera), 127, 127);
  MapWriter map;
  std::vector<float> advancing, retreating;
  for (int f = 1; f <= 60; ++f) {
    camera.depth += f <= 30 ? 0.03 : -0.03;
    const Image image = render.Frame(camera);
    model.Fit(image.View());
    const double s = Scale(model);
    ASSERT_TRUE(s >= 0.2 && s <= 5.0) << "tracking lost at frame " << f;
    if (model.UpdateMap(map, image.View()) == 0) continue;
    float velocity;
    std::memcpy(&velocity, model.LastRow().data() + 6 * 128 + 4, 4);
    // The frame that turns round is left out of both.
    if (f <= 30) advancing.push_back(velocity);
    if (f > 31) retreating.push_back(velocity);
  }
  ASSERT_GE(advancing.size(), 5u);
  ASSERT_GE(retreating.size(), 5u);
  for (float v : advancing) EXPECT_GT(v, 0);
  for (float v : retreating) EXPECT_LT(v, 0);
}

// The roll measure is the rotation of J: for top-down frames (y down) a
// counter-clockwise roll on screen is a negative angle, for bottom-up
// frames a positive one.
void ExpectRollFollowed(bool bottomUp) {
  const Rendered render;
  vireo::synth::Camera camera;
  GRID_RINGS model;
  Init(model, render.Frame(camera, bottomUp), 127, 127);
  MapWriter map;
  double worst = 0;
  for (int f = 1; f <= 20; ++f) {
    camera.rollDeg = 0.75 * f;
    const Image image = render.Frame(camera, bottomUp);
    model.Fit(image.View());
    model.UpdateMap(map, image.View());
    const double roll = model.GetAngle() * 180 / kPi;
    const double expected = bottomUp ? camera.rollDeg : -camera.rollDeg;
    worst = std::max(worst, std::fabs(roll - expected));
  }
  std::printf("roll: worst difference %.3f degrees over 15 degrees of roll\n", worst);
  EXPECT_LT(worst, 0.5);
}

TEST(TrackingRendered, RollFollowsTheRenderedRollTopDown) { ExpectRollFollowed(false); }
TEST(TrackingRendered, RollFollowsTheRenderedRollBottomUp) { ExpectRollFollowed(true); }

TEST(TrackingRendered, DriftGrowsWithLateralOffset) {
  const Rendered render;
  vireo::synth::Camera camera;
  GRID_RINGS model;
  Init(model, render.Frame(camera), 127, 127);
  MapWriter map;
  std::vector<double> drift;
  for (int f = 1; f <= 16; ++f) {
    camera.driftX = 1.0 * f;
    camera.driftY = -0.5 * f;
    const Image image = render.Frame(camera);
    model.Fit(image.View());
    model.UpdateMap(map, image.View());
    drift.push_back(std::hypot(model.GetX() - model.Xo(), model.GetY() - model.Yo()));
  }
  const double offset = std::hypot(16.0, 8.0);
  std::printf("drift: %.2f pixels for an offset of %.2f\n", drift.back(), offset);
  for (std::size_t i = 4; i < drift.size(); i += 4) EXPECT_GT(drift[i], drift[i - 4]);
  EXPECT_GT(drift.back(), 0.5 * offset);
  EXPECT_LT(drift.back(), 1.2 * offset);
}

// ---- real capsule frames ----

Image Decode(const std::string& path) {
  vtest::Frame frame = vtest::DecodeImage(path);
  return Image{frame.width, frame.height, frame.stride, std::move(frame.data)};
}

// Inside the capsule's field of view: the corners of these frames are black.
bool OnMucosa(const Image& image, double x, double y) {
  const int xi = static_cast<int>(x), yi = static_cast<int>(y);
  if (xi < 0 || yi < 0 || xi >= image.width || yi >= image.height) return false;
  const std::uint8_t* p = &image.bytes[static_cast<std::size_t>(yi) * image.stride + 3 * xi];
  return p[2] > 60 && p[2] >= p[0];  // reddish and not dark
}

TEST(TrackingReal, ConsecutiveCapsuleFramesAreTrackedAtDefaults) {
  const std::vector<std::string> files = vtest::CapsuleFramePaths();
  ASSERT_EQ(files.size(), 33u);

  std::vector<Image> frames;
  for (const std::string& file : files) frames.push_back(Decode(file));
  ASSERT_EQ(frames[0].width, 336);
  ASSERT_EQ(frames[0].height, 336);

  GRID_RINGS model;
  Init(model, frames[0], (336 - 1) / 2.0, (336 - 1) / 2.0);
  MapWriter map;
  const double startX = model.GetX(), startY = model.GetY();
  double farthest = 0;
  std::uint32_t rows = 0;
  for (std::size_t f = 1; f < frames.size(); ++f) {
    const Image& image = frames[f];
    model.Fit(image.View());
    const double s = Scale(model);
    ASSERT_TRUE(s >= 0.2 && s <= 5.0) << "tracking lost at frame " << f << " (scale " << s << ")";
    for (double v :
         {model.GetX(), model.GetY(), model.GetMotion(), model.GetDeformation(), model.GetAngle(), model.GetDilation()})
      ASSERT_TRUE(std::isfinite(v)) << "frame " << f;
    // The centroid and nearly every node stay on the wall.
    EXPECT_TRUE(OnMucosa(image, model.GetX(), model.GetY())) << "frame " << f;
    int on = 0;
    const unsigned cur = model.Cur();
    for (std::uint32_t j = 0; j < 128; ++j)
      for (std::uint32_t k = 0; k < 8; ++k) on += OnMucosa(image, model.Node(j, k).x[cur], model.Node(j, k).y[cur]);
    EXPECT_GE(on, 0.9 * 1024) << "frame " << f;
    farthest = std::max(farthest, std::hypot(model.GetX() - startX, model.GetY() - startY));
    const std::uint32_t produced = model.UpdateMap(map, image.View());
    if (produced > 0) {
      const std::uint8_t* tail = model.LastRow().data() + 6 * 128 + 4;
      for (int i = 0; i < 5; ++i) {
        float v;
        std::memcpy(&v, tail + 4 * i, 4);
        EXPECT_TRUE(std::isfinite(v)) << "frame " << f;
      }
    }
    rows += produced;
  }
  std::printf("real frames: centroid moved at most %.2f pixels, %u map rows\n", farthest, rows);
  EXPECT_LT(farthest, 40);
}

}  // namespace
}  // namespace quorlin
