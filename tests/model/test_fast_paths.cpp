// The frame-buffer paths of the model (fused patch matching, vector local
// sums) against the callback path and against the neighbourhood sums
// written out directly.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "frames.h"
#include "quorlin/model/map_writer.h"
#include "quorlin/model/params.h"
#include "quorlin/model/rings.h"

namespace quorlin {
namespace {

using test::Frame;
using test::Init;

void ExpectSameState(const GRID_RINGS& a, const GRID_RINGS& b, int frame) {
  ASSERT_EQ(a.Cur(), b.Cur());
  EXPECT_EQ(a.GetMotion(), b.GetMotion()) << frame;
  EXPECT_EQ(a.GetDeformation(), b.GetDeformation()) << frame;
  EXPECT_EQ(a.J11(), b.J11()) << frame;
  EXPECT_EQ(a.J12(), b.J12()) << frame;
  EXPECT_EQ(a.J21(), b.J21()) << frame;
  EXPECT_EQ(a.J22(), b.J22()) << frame;
  int differing = 0;
  for (std::uint32_t j = 0; j < a.Perimeter(); ++j)
    for (std::uint32_t k = 0; k < a.Rings(); ++k) {
      const GRID_NODE& p = a.Node(j, k);
      const GRID_NODE& q = b.Node(j, k);
      differing += p.x[a.Cur()] != q.x[b.Cur()] || p.y[a.Cur()] != q.y[b.Cur()] || p.Fx != q.Fx || p.Fy != q.Fy;
    }
  EXPECT_EQ(differing, 0) << frame;
}

// Fits and map steps of a moving texture, once through the frame buffer and
// once through the callback, for grids inside, across the edge of and
// partly outside the frame, with local phases of several sizes and steps.
TEST(RingsFastPaths, FrameBufferAndCallbackAgreeBitForBit) {
  struct Case {
    double xo, yo;
    std::uint32_t perimeter;
    std::int32_t neighborhood, vicinity;
    int width;
  };
  const Case cases[] = {
      {127, 127, 128, 2, 1, 256},  // the defaults
      {20, 230, 128, 2, 1, 256},   // partly outside
      {120, 110, 33, 3, 3, 250},   // odd perimeter, padded rows, step 3
      {100, 100, 6, 5, 2, 200},    // angles reached twice
  };
  for (const Case& c : cases) {
    GRID_GEOMETRY g = DefaultGeometry();
    g.Xo = c.xo;
    g.Yo = c.yo;
    g.Perimeter = c.perimeter;
    auto phases = DefaultPhases();
    for (int p = 1; p < 4; ++p) {
      phases[p].Neighborhood = c.neighborhood;
      phases[p].Vicinity = c.vicinity;
    }
    phases[2].ImageMode = 0;
    phases[3].TensionMode = 3;
    const Frame first = test::Textured(c.width, c.width);
    GRID_RINGS a, b;
    Init(a, g, phases, first);
    Init(b, g, phases, first);
    MapWriter mapA, mapB;
    for (int f = 1; f <= 6; ++f) {
      const Frame next = test::Textured(c.width, c.width, 1.3 * f, -0.7 * f);
      const FrameView view = next.View();
      a.Fit(view);
      b.Fit(PixelReadFn(view));
      ExpectSameState(a, b, f);
      EXPECT_EQ(a.UpdateMap(mapA, view), b.UpdateMap(mapB, PixelReadFn(view)));
      ExpectSameState(a, b, f);
    }
  }
}

// One local iteration against the sums of the neighbourhood computed here
// directly: similarity tension, affine image fit, mean force.
TEST(RingsFastPaths, LocalIterationFollowsTheNeighbourhoodSums) {
  for (const std::uint32_t perimeter : {32u, 33u}) {
    GRID_GEOMETRY g = DefaultGeometry();
    g.Perimeter = perimeter;
    std::array<GRID_PHASE, 4> phases = DefaultPhases();
    phases[0] = phases[1];
    phases[0].MaxIterations = 1;
    phases[0].Dumping = 0.3;
    for (int p = 1; p < 4; ++p) phases[p].MaxIterations = 0;
    const Frame first = test::Textured(256, 256);
    GRID_RINGS model;
    Init(model, g, phases, first);
    model.Shake();
    const std::uint32_t rings = model.Rings();
    std::vector<double> px, py;
    for (std::uint32_t j = 0; j < perimeter; ++j)
      for (std::uint32_t k = 0; k < rings; ++k) {
        px.push_back(model.Node(j, k).x[0]);
        py.push_back(model.Node(j, k).y[0]);
      }
    const Frame next = test::Textured(256, 256, 2, 1);
    ASSERT_NE(model.Iterate(next.View()), 0u);
    const GRID_PHASE& phase = phases[0];
    const std::uint32_t probes[][2] = {{0, 0}, {0, 7}, {perimeter - 1, 3}, {1, 1}, {perimeter / 2, 4}, {17, 6}};
    for (const auto& probe : probes) {
      const std::uint32_t j = probe[0], k = probe[1];
      std::vector<std::size_t> members;
      for (int a = -2; a <= 2; ++a)
        for (int kk = static_cast<int>(k) - 2; kk <= static_cast<int>(k) + 2; ++kk)
          if (kk >= 0 && kk < static_cast<int>(rings))
            members.push_back(((j + perimeter + a) % perimeter) * rings + kk);
      const double n = static_cast<double>(members.size());
      double m0x = 0, m0y = 0, mx = 0, my = 0, mfx = 0, mfy = 0;
      for (std::size_t i : members) {
        const GRID_NODE& q = model.Node(static_cast<std::uint32_t>(i / rings), static_cast<std::uint32_t>(i % rings));
        m0x += q.x0 / n;
        m0y += q.y0 / n;
        mx += px[i] / n;
        my += py[i] / n;
        mfx += q.Fx / n;
        mfy += q.Fy / n;
      }
      double x0x = 0, x0y = 0, y0x = 0, y0y = 0, sxx0 = 0, syy0 = 0;
      double sxx = 0, syy = 0, sxy = 0, sfxx = 0, sfxy = 0, sfyx = 0, sfyy = 0;
      for (std::size_t i : members) {
        const GRID_NODE& q = model.Node(static_cast<std::uint32_t>(i / rings), static_cast<std::uint32_t>(i % rings));
        const double dx0 = q.x0 - m0x, dy0 = q.y0 - m0y, dx = px[i] - mx, dy = py[i] - my;
        const double dfx = q.Fx - mfx, dfy = q.Fy - mfy;
        x0x += dx0 * dx;
        x0y += dx0 * dy;
        y0x += dy0 * dx;
        y0y += dy0 * dy;
        sxx0 += dx0 * dx0;
        syy0 += dy0 * dy0;
        sxx += dx * dx;
        syy += dy * dy;
        sxy += dx * dy;
        sfxx += dfx * dx;
        sfxy += dfx * dy;
        sfyx += dfy * dx;
        sfyy += dfy * dy;
      }
      const double ta = (x0x + y0y) / (sxx0 + syy0), tb = (x0y - y0x) / (sxx0 + syy0);
      const double e = sxy * sxy - syy * sxx;
      const double m11 = 1 + (sfxy * sxy - sfxx * syy) / e, m12 = (sfxx * sxy - sfxy * sxx) / e;
      const double m21 = (sfyy * sxy - sfyx * syy) / e, m22 = 1 + (sfyx * sxy - sfyy * sxx) / e;
      const double a11 = m11 * ta + m12 * tb, a12 = -m11 * tb + m12 * ta;
      const double a21 = m21 * ta + m22 * tb, a22 = -m21 * tb + m22 * ta;
      const double tt = phase.TensionTranslation, it = phase.ImageTranslation;
      const GRID_NODE& node = model.Node(j, k);
      const double rx = node.x0 - m0x, ry = node.y0 - m0y;
      const double targetX = a11 * rx + a12 * ry + (1 - tt) * m0x + tt * mx + it * mfx;
      const double targetY = a21 * rx + a22 * ry + (1 - tt) * m0y + tt * my + it * mfy;
      // Both buffers held the shaken position, so the momentum term is 0.
      EXPECT_NEAR(node.x[model.Cur()], targetX, 1e-9) << perimeter << " " << j << " " << k;
      EXPECT_NEAR(node.y[model.Cur()], targetY, 1e-9) << perimeter << " " << j << " " << k;
      EXPECT_GT(std::abs(node.x[model.Cur()] - px[j * rings + k]), 1e-6);  // the node did move
    }
  }
}

}  // namespace
}  // namespace quorlin
