// The frame-buffer and vector paths of the model (fused patch matching,
// sums and moves in lanes) against the callback path and against the fit
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

// Fits and map steps of a moving texture, once through the frame buffer
// (with each set of image-force kernels this processor runs) and once
// through the callback, for grids inside, across the edge of and partly
// outside the frame, with local phases of several sizes and steps.
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
  const int widest = static_cast<int>(WidestForceKernels());
  for (int kernels = 0; kernels <= widest; ++kernels)
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "kernels " << kernels << ", perimeter " << c.perimeter);
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
      a.UseForceKernels(static_cast<ForceKernels>(kernels));
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

// One iteration of a whole-grid or local momentum phase against the fit
// recomputed here from its formulas, node by node in grid order with every
// sum added in the documented order, so the vector paths must agree to the
// last bit with every set of kernels this processor runs: grids whose node
// counts and perimeters leave partial groups of four and of eight, angles
// reached twice, each tension and image mode that fits.
TEST(RingsFastPaths, MomentumIterationEqualsTheFormulasBitForBit) {
  struct Case {
    std::uint32_t perimeter, rings;
    std::int32_t neighborhood, tensionMode, imageMode;
    const char* what;
  };
  const Case cases[] = {
      {128, 8, 2000, 2, 2, "defaults' whole-grid phase"},
      {7, 3, 2000, 3, 0, "21 nodes, each node's own force"},
      {33, 8, 2, 2, 3, "local, 33 angles"},
      {6, 3, 1, 3, 0, "local, own force"},
      {5, 4, 3, 1, 2, "local, angles reached twice"},
      {10, 5, 1, 3, 3, "local, both matrices affine"},
  };
  const int widest = static_cast<int>(WidestForceKernels());
  for (int kernels = 0; kernels <= widest; ++kernels)
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.what << ", kernels " << kernels);
      GRID_GEOMETRY g = DefaultGeometry();
      g.Perimeter = static_cast<std::int32_t>(c.perimeter);
      g.Rings = static_cast<std::int32_t>(c.rings);
      std::array<GRID_PHASE, 4> phases = DefaultPhases();
      GRID_PHASE& phase = phases[0];
      phase.Neighborhood = c.neighborhood;
      phase.TensionMode = c.tensionMode;
      phase.ImageMode = c.imageMode;
      phase.Momentum = 0.7;
      phase.Dumping = 0.3;
      phase.MaxIterations = 1;
      for (int p = 1; p < 4; ++p) phases[p].MaxIterations = 0;
      GRID_RINGS model;
      model.UseForceKernels(static_cast<ForceKernels>(kernels));
      Init(model, g, phases, test::Textured(256, 256));
      model.Shake();
      const std::uint32_t rings = c.rings, perimeter = c.perimeter;
      const std::size_t count = std::size_t{rings} * perimeter;
      std::vector<double> px(count), py(count);
      for (std::size_t i = 0; i < count; ++i) {
        px[i] = model.Node(static_cast<std::uint32_t>(i / rings), i % rings).x[0];
        py[i] = model.Node(static_cast<std::uint32_t>(i / rings), i % rings).y[0];
      }
      ASSERT_NE(model.Iterate(test::Textured(256, 256, 2, 1).View()), 0u);
      const bool whole = c.neighborhood + 1 >= static_cast<std::int32_t>(perimeter);
      const double mu = phase.Momentum / (phase.Momentum + phase.Dumping);
      double motion = 0, deformation = 0, j11 = 0, j12 = 0, j21 = 0, j22 = 0;
      std::vector<double> expectX(count), expectY(count);
      for (std::uint32_t j = 0; j < perimeter; ++j)
        for (std::uint32_t k = 0; k < rings; ++k) {
          std::vector<std::size_t> members;
          const std::int64_t n = c.neighborhood;
          for (std::int64_t a = whole ? 0 : -n; a <= (whole ? perimeter - 1 : n); ++a)
            for (std::int64_t kk = whole ? 0 : std::int64_t{k} - n; kk <= (whole ? rings - 1 : std::int64_t{k} + n);
                 ++kk)
              if (kk >= 0 && kk < rings)
                members.push_back(
                    static_cast<std::size_t>((whole ? a : (j + 4 * perimeter + a) % perimeter) * rings + kk));
          const GRID_NODE& node = model.Node(j, k);
          auto member = [&](std::size_t i) -> const GRID_NODE& {
            return model.Node(static_cast<std::uint32_t>(i / rings), i % rings);
          };
          const double cnt = node.n[0], m0x = node.Sx0[0] / cnt, m0y = node.Sy0[0] / cnt;
          double sx = 0, sy = 0, sfx = 0, sfy = 0;
          for (std::size_t i : members) {
            sx += px[i];
            sy += py[i];
            sfx += member(i).Fx;
            sfy += member(i).Fy;
          }
          const double mx = sx / cnt, my = sy / cnt, mfx = sfx / cnt, mfy = sfy / cnt;
          double x0x = 0, x0y = 0, y0x = 0, y0y = 0, sxx = 0, syy = 0, sxy = 0, sfxx = 0, sfxy = 0, sfyx = 0, sfyy = 0;
          for (std::size_t i : members) {
            const double dx0 = member(i).x0 - m0x, dy0 = member(i).y0 - m0y, dx = px[i] - mx, dy = py[i] - my;
            const double dfx = member(i).Fx - mfx, dfy = member(i).Fy - mfy;
            x0x += dx0 * dx;
            x0y += dx0 * dy;
            y0x += dy0 * dx;
            y0y += dy0 * dy;
            sxx += dx * dx;
            syy += dy * dy;
            sxy += dx * dy;
            sfxx += dfx * dx;
            sfxy += dfx * dy;
            sfyx += dfy * dx;
            sfyy += dfy * dy;
          }
          double t11 = 1, t12 = 0, t21 = 0, t22 = 1;
          if (c.tensionMode == 3) {
            const double d0 = node.D0[0], sxx0 = node.Sxx0[0], syy0 = node.Syy0[0], sxy0 = node.Sxy0[0];
            t11 = (y0x * sxy0 - x0x * syy0) / d0;
            t12 = (x0x * sxy0 - y0x * sxx0) / d0;
            t21 = (y0y * sxy0 - x0y * syy0) / d0;
            t22 = (x0y * sxy0 - y0y * sxx0) / d0;
          } else if (c.tensionMode != 1) {
            const double s0 = node.Sxx0[0] + node.Syy0[0], ta = (x0x + y0y) / s0, tb = (x0y - y0x) / s0;
            t11 = t22 = ta;
            t12 = -tb;
            t21 = tb;
          }
          double m11 = 1, m12 = 0, m21 = 0, m22 = 1;
          if (c.imageMode == 3) {
            const double e = sxy * sxy - syy * sxx;
            m11 = 1 + (sfxy * sxy - sfxx * syy) / e;
            m12 = (sfxx * sxy - sfxy * sxx) / e;
            m21 = (sfyy * sxy - sfyx * syy) / e;
            m22 = 1 + (sfyx * sxy - sfyy * sxx) / e;
          } else if (c.imageMode != 0 && c.imageMode != 1) {
            const double s = sxx + syy, alpha = (sfxx + sfyy) / s, beta = (sfyx - sfxy) / s;
            m11 = m22 = 1 + alpha;
            m12 = -beta;
            m21 = beta;
          }
          const double a11 = m11 * t11 + m12 * t21, a12 = m11 * t12 + m12 * t22;
          const double a21 = m21 * t11 + m22 * t21, a22 = m21 * t12 + m22 * t22;
          const double fx = c.imageMode == 0 ? node.Fx : mfx, fy = c.imageMode == 0 ? node.Fy : mfy;
          const double tt = phase.TensionTranslation, it = phase.ImageTranslation;
          const double tx = (1 - tt) * m0x + tt * mx + it * fx, ty = (1 - tt) * m0y + tt * my + it * fy;
          const double rx = node.x0 - m0x, ry = node.y0 - m0y;
          const double targetX = a11 * rx + a12 * ry + tx, targetY = a21 * rx + a22 * ry + ty;
          const std::size_t i = std::size_t{j} * rings + k;
          // Both buffers held the shaken position.
          expectX[i] = targetX + mu * (px[i] - px[i]);
          expectY[i] = targetY + mu * (py[i] - py[i]);
          motion += (targetX - px[i]) * (targetX - px[i]) + (targetY - py[i]) * (targetY - py[i]);
          const double ex = t11 * rx + t12 * ry + mx - px[i], ey = t21 * rx + t22 * ry + my - py[i];
          deformation += ex * ex + ey * ey;
          if (whole) {
            j11 = a11, j12 = a12, j21 = a21, j22 = a22;
          } else {
            j11 += a11, j12 += a12, j21 += a21, j22 += a22;
          }
        }
      const double n = static_cast<double>(count);
      if (!whole) j11 /= n, j12 /= n, j21 /= n, j22 /= n;
      EXPECT_EQ(model.GetMotion(), motion / n);
      EXPECT_EQ(model.GetDeformation(), deformation / n);
      EXPECT_EQ(model.J11(), j11);
      EXPECT_EQ(model.J12(), j12);
      EXPECT_EQ(model.J21(), j21);
      EXPECT_EQ(model.J22(), j22);
      int differing = 0;
      for (std::size_t i = 0; i < count; ++i) {
        const GRID_NODE& node = model.Node(static_cast<std::uint32_t>(i / rings), i % rings);
        differing += node.x[model.Cur()] != expectX[i] || node.y[model.Cur()] != expectY[i];
      }
      EXPECT_EQ(differing, 0);
      EXPECT_GT(motion, 0);  // the grid did move
    }
}

}  // namespace
}  // namespace quorlin
