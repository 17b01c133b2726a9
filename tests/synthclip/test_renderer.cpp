#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "tools/synthclip/renderer.h"

namespace vireo::synth {
namespace {

struct Image {
  int size = 0, stride = 0;
  std::vector<std::uint8_t> bgr;
  explicit Image(int n, int padding = 0)
      : size(n), stride(3 * n + padding), bgr(static_cast<std::size_t>(stride) * n) {}
  const std::uint8_t* At(int x, int y) const { return &bgr[static_cast<std::size_t>(y) * stride + 3 * x]; }
  // Bilinear green channel at (x, y) in pixel-centre coordinates.
  double Green(double x, double y) const {
    const double fx = x - 0.5, fy = y - 0.5;
    const int x0 = static_cast<int>(std::floor(fx)), y0 = static_cast<int>(std::floor(fy));
    const double ax = fx - x0, ay = fy - y0;
    const auto g = [this](int xi, int yi) { return static_cast<double>(At(xi, yi)[1]); };
    return (g(x0, y0) * (1 - ax) + g(x0 + 1, y0) * ax) * (1 - ay) +
           (g(x0, y0 + 1) * (1 - ax) + g(x0 + 1, y0 + 1) * ax) * ay;
  }
};

Image Draw(const TunnelRenderer& renderer, const Camera& camera) {
  Image image(renderer.Size());
  renderer.Render(camera, image.bgr.data(), image.stride);
  return image;
}

// Fine wall detail at (x, y): the green channel minus its surroundings, so
// that the smooth shading and tint do not dominate a comparison.
double Detail(const Image& image, double x, double y) {
  constexpr double d = 2.0;
  return image.Green(x, y) -
         0.25 * (image.Green(x - d, y) + image.Green(x + d, y) + image.Green(x, y - d) + image.Green(x, y + d));
}

// Correlation of the wall detail in `a` with `b` under the motion that maps
// the point at polar (r, angle) about axis A to (scale * r, angle + rollDeg)
// about axis B (angles counter-clockwise on screen). Sampled on rings of the
// lit wall well inside the field of view.
double MotionCorrelation(const Image& a, const Image& b, double axX, double axY, double bxX, double bxY, double scale,
                         double rollDeg) {
  const double n = a.size, roll = rollDeg * std::numbers::pi / 180.0;
  std::vector<double> va, vb;
  for (double r = 0.20 * n; r <= 0.34 * n; r += 0.02 * n) {
    for (int k = 0; k < 720; ++k) {
      const double angle = k * std::numbers::pi / 360.0;
      va.push_back(Detail(a, axX + r * std::cos(angle), axY - r * std::sin(angle)));
      vb.push_back(Detail(b, bxX + scale * r * std::cos(angle + roll), bxY - scale * r * std::sin(angle + roll)));
    }
  }
  const auto mean = [](const std::vector<double>& v) {
    double s = 0;
    for (double x : v) s += x;
    return s / v.size();
  };
  const double ma = mean(va), mb = mean(vb);
  double cov = 0, saa = 0, sbb = 0;
  for (std::size_t i = 0; i < va.size(); ++i) {
    cov += (va[i] - ma) * (vb[i] - mb);
    saa += (va[i] - ma) * (va[i] - ma);
    sbb += (vb[i] - mb) * (vb[i] - mb);
  }
  return cov / std::sqrt(saa * sbb);
}

double Centre(const TunnelRenderer& r) { return 0.5 * r.Size(); }

TEST(SynthRenderer, SameOptionsGiveSameFramesAndSeedsDiffer) {
  const TunnelRenderer a({256, 25.0, 7, kBleeding | kUlcer}), b({256, 25.0, 7, kBleeding | kUlcer});
  const TunnelRenderer other({256, 25.0, 8, kBleeding | kUlcer});
  Image ia(256), ib(256), io(256);
  for (std::int64_t frame : {0, 1, 137, 999}) {
    EXPECT_EQ(a.RenderFrame(frame, ia.bgr.data(), ia.stride), b.RenderFrame(frame, ib.bgr.data(), ib.stride));
    EXPECT_EQ(ia.bgr, ib.bgr) << "frame " << frame;
    other.RenderFrame(frame, io.bgr.data(), io.stride);
    EXPECT_NE(ia.bgr, io.bgr) << "frame " << frame;
    const Camera ca = a.CameraAt(frame), co = other.CameraAt(frame);
    EXPECT_NE(ca.depth + ca.rollDeg + ca.driftX, co.depth + co.rollDeg + co.driftX);
  }
}

TEST(SynthRenderer, BlackOutsideTheCircleAndLitInside) {
  for (int size : {16, 17, 256, 301}) {
    const TunnelRenderer renderer({size, 25.0, 3, 0});
    Image image(size, 5);
    std::fill(image.bgr.begin(), image.bgr.end(), 0xAB);
    renderer.RenderFrame(40, image.bgr.data(), image.stride);
    const double c = 0.5 * size;
    int outsideLit = 0, wallLit = 0, wall = 0;
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) {
        const double d = std::hypot(x + 0.5 - c, y + 0.5 - c) / size;
        const std::uint8_t* p = image.At(x, y);
        const int sum = p[0] + p[1] + p[2];
        if (d > 0.49) outsideLit += sum != 0;
        if (d > 0.36 && d < 0.45) wall++, wallLit += sum > 60;
      }
      for (int pad = 0; pad < 5; ++pad)
        ASSERT_EQ(image.bgr[static_cast<std::size_t>(y) * image.stride + 3 * size + pad], 0xAB);
    }
    EXPECT_EQ(outsideLit, 0) << "size " << size;
    EXPECT_GT(wallLit, wall * 9 / 10) << "size " << size;
  }
}

TEST(SynthRenderer, LumenIsDarkerThanTheWallAndWallIsReddish) {
  const TunnelRenderer renderer({256, 25.0, 5, 0});
  const Image image = Draw(renderer, Camera{});
  double lumen = 0, wallR = 0, wallG = 0, wallB = 0;
  int nl = 0, nw = 0;
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) {
      const double d = std::hypot(x + 0.5 - 128, y + 0.5 - 128);
      const std::uint8_t* p = image.At(x, y);
      if (d < 15) lumen += p[1] + p[2], ++nl;
      if (d > 90 && d < 110) wallB += p[0], wallG += p[1], wallR += p[2], ++nw;
    }
  EXPECT_LT(lumen / nl * 4, (wallR + wallG) / nw);
  EXPECT_GT(wallR, 1.4 * wallG);
  EXPECT_GT(wallG, wallB);
}

TEST(SynthRenderer, AdvancingExpandsTheWall) {
  const TunnelRenderer renderer({256, 25.0, 11, 0});
  const double c = Centre(renderer);
  const Image near = Draw(renderer, Camera{2.0});
  const Image far = Draw(renderer, Camera{2.1});
  double best = 0, bestScale = 0;
  for (double scale = 0.90; scale <= 1.12; scale += 0.005) {
    const double corr = MotionCorrelation(near, far, c, c, c, c, scale, 0);
    if (corr > best) best = corr, bestScale = scale;
  }
  EXPECT_GT(bestScale, 1.02);
  EXPECT_GT(best, 0.9);
  // Retreating shrinks it again.
  EXPECT_GT(MotionCorrelation(far, near, c, c, c, c, 1.0 / bestScale, 0), 0.9);
}

TEST(SynthRenderer, RollRotatesCounterClockwiseAndDriftMovesTheAxis) {
  const TunnelRenderer renderer({256, 25.0, 12, 0});
  const double c = Centre(renderer);
  const Image base = Draw(renderer, Camera{1.0});
  const Image rolled = Draw(renderer, Camera{1.0, 12.0});
  EXPECT_GT(MotionCorrelation(base, rolled, c, c, c, c, 1.0, 12.0), 0.95);
  EXPECT_LT(MotionCorrelation(base, rolled, c, c, c, c, 1.0, -12.0), 0.5);
  EXPECT_LT(MotionCorrelation(base, rolled, c, c, c, c, 1.0, 0.0), 0.7);

  const Image drifted = Draw(renderer, Camera{1.0, 0.0, 9.0, -6.0});
  EXPECT_GT(MotionCorrelation(base, drifted, c, c, c + 9.0, c - 6.0, 1.0, 0.0), 0.95);
  EXPECT_LT(MotionCorrelation(base, drifted, c, c, c, c, 1.0, 0.0), 0.7);
}

TEST(SynthRenderer, TruthDescribesTheMotionBetweenFrames) {
  const TunnelRenderer renderer({256, 25.0, 21, 0});
  const double c = Centre(renderer);
  int moving = 0;
  double minScale = 1, maxScale = 1, maxRoll = 0;
  for (std::int64_t frame = 1; frame < 1500; ++frame) {
    const FrameTruth t = renderer.TruthAt(frame);
    minScale = std::min(minScale, t.scaleChange), maxScale = std::max(maxScale, t.scaleChange);
    maxRoll = std::max(maxRoll, std::fabs(t.rollDeg));
    const Camera cam = renderer.CameraAt(frame);
    EXPECT_EQ(t.frame, frame);
    EXPECT_DOUBLE_EQ(t.driftX, cam.driftX);
    EXPECT_DOUBLE_EQ(t.driftY, cam.driftY);
    // Check the pictures of strongly moving frames that are not contracting.
    if (frame % 7 != 0 || cam.contraction != 0 || std::fabs(t.scaleChange - 1) < 0.01 || moving >= 6) continue;
    ++moving;
    const FrameTruth p = renderer.TruthAt(frame - 1);
    const Image before = Draw(renderer, renderer.CameraAt(frame - 1));
    const Image after = Draw(renderer, cam);
    const double predicted = MotionCorrelation(before, after, c + p.driftX, c + p.driftY, c + t.driftX, c + t.driftY,
                                               t.scaleChange, t.rollDeg);
    const double still = MotionCorrelation(before, after, c + p.driftX, c + p.driftY, c + p.driftX, c + p.driftY, 1, 0);
    EXPECT_GT(predicted, 0.95) << "frame " << frame;
    EXPECT_GT(predicted, still + 0.03) << "frame " << frame;
  }
  EXPECT_EQ(moving, 6);
  // The script both advances and retreats, and rolls.
  EXPECT_LT(minScale, 0.995);
  EXPECT_GT(maxScale, 1.01);
  EXPECT_GT(maxRoll, 0.3);
  EXPECT_EQ(renderer.TruthAt(0).scaleChange, 1.0);
}

TEST(SynthRenderer, MotionIsSmooth) {
  const TunnelRenderer renderer({256, 25.0, 4, 0});
  Camera previous = renderer.CameraAt(0);
  double maxContraction = 0;
  for (std::int64_t frame = 1; frame < 3000; ++frame) {
    const Camera cam = renderer.CameraAt(frame);
    EXPECT_LT(std::fabs(cam.depth - previous.depth), 0.1);
    EXPECT_LT(std::fabs(cam.rollDeg - previous.rollDeg), 2.0);
    EXPECT_LT(std::hypot(cam.driftX - previous.driftX, cam.driftY - previous.driftY), 1.5);
    EXPECT_GE(cam.contraction, 0.0);
    EXPECT_LE(cam.contraction, 0.3 + 1e-9);
    maxContraction = std::max(maxContraction, cam.contraction);
    previous = cam;
  }
  EXPECT_GT(maxContraction, 0.2);
}

// Pixels a lesion changed against the same frame of the same wall without
// lesions: redder (bleeding) or paler (the fibrin of an ulcer).
struct LesionPixels {
  int bleeding = 0, pale = 0;
};

LesionPixels CountLesionPixels(const Image& plain, const Image& image) {
  LesionPixels count;
  for (int y = 0; y < image.size; ++y)
    for (int x = 0; x < image.size; ++x) {
      const std::uint8_t* p = plain.At(x, y);
      const std::uint8_t* q = image.At(x, y);
      if (q[2] > 25 && q[1] * p[2] < 0.85 * p[1] * q[2]) ++count.bleeding;
      if (q[2] > 40 && q[1] > 0.8 * q[2] && q[0] > 0.45 * q[2] && q[1] > p[1]) ++count.pale;
    }
  return count;
}

TEST(SynthRenderer, LesionsShowWhenTheTruthSaysSo) {
  const TunnelRenderer plain({256, 25.0, 9, 0});
  const TunnelRenderer bleeding({256, 25.0, 9, kBleeding});
  const TunnelRenderer ulcer({256, 25.0, 9, kUlcer});
  int bleedingFrames = 0, ulcerFrames = 0, hiddenFrames = 0;
  Image wall(256), image(256);
  for (std::int64_t frame = 0; frame < 3000; frame += 10) {
    EXPECT_EQ(plain.TruthAt(frame).lesions, 0u);
    EXPECT_EQ(plain.RenderFrame(frame, wall.bgr.data(), wall.stride), 0u);

    const unsigned bleedingSeen = bleeding.RenderFrame(frame, image.bgr.data(), image.stride);
    EXPECT_EQ(bleedingSeen, bleeding.TruthAt(frame).lesions);
    EXPECT_EQ(bleedingSeen & kUlcer, 0u);
    const int red = CountLesionPixels(wall, image).bleeding;
    if (bleedingSeen) {
      ++bleedingFrames;
      EXPECT_GE(red, 12) << "frame " << frame;
    } else {
      ++hiddenFrames;
    }

    const unsigned ulcerSeen = ulcer.RenderFrame(frame, image.bgr.data(), image.stride);
    EXPECT_EQ(ulcerSeen, ulcer.TruthAt(frame).lesions);
    if (ulcerSeen) {
      ++ulcerFrames;
      EXPECT_GE(CountLesionPixels(wall, image).pale, 8) << "frame " << frame;
    }
  }
  EXPECT_GT(bleedingFrames, 10);
  EXPECT_GT(ulcerFrames, 10);
  EXPECT_GT(hiddenFrames, 10);
}

}  // namespace
}  // namespace vireo::synth
