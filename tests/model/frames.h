// Small in-memory frames for the model tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include <array>

#include "quorlin/model/callbacks.h"
#include "quorlin/model/rings.h"

namespace quorlin::test {

// A 24-bit frame, rows padded to 4 bytes, filled by fill(x, y, triple).
struct Frame {
  int width, height, stride;
  std::vector<std::uint8_t> bytes;

  Frame(int w, int h, const std::function<void(int, int, std::uint8_t*)>& fill)
      : width(w), height(h), stride((3 * w + 3) & ~3), bytes(static_cast<std::size_t>(stride) * h) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) fill(x, y, &bytes[static_cast<std::size_t>(y) * stride + 3 * x]);
  }
  FrameView View() const { return FrameView{bytes.data(), width, height, stride, 3}; }
};

inline Frame Uniform(int w, int h, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
  return Frame(w, h, [=](int, int, std::uint8_t* t) {
    t[0] = b;
    t[1] = g;
    t[2] = r;
  });
}

// A smooth texture with structure at several scales, shifted by (dx, dy).
inline Frame Textured(int w, int h, double dx = 0, double dy = 0) {
  return Frame(w, h, [=](int x, int y, std::uint8_t* t) {
    const double u = x - dx, v = y - dy;
    t[0] = static_cast<std::uint8_t>(128 + 50 * std::sin(u / 6.0) * std::cos(v / 8.0) + 40 * std::sin((u + v) / 13.0));
    t[1] =
        static_cast<std::uint8_t>(120 + 60 * std::cos(u / 9.0 + 1) * std::sin(v / 5.0) + 30 * std::cos((u - v) / 17.0));
    t[2] = static_cast<std::uint8_t>(128 + 70 * std::sin(u / 11.0 + v / 7.0));
  });
}

// The filter's set-up of a model: Create, the four phases, templates on
// `frame`, Prepare.
inline void Init(GRID_RINGS& model, const GRID_GEOMETRY& g, const std::array<GRID_PHASE, 4>& phases,
                 const Frame& frame) {
  const double centre[2] = {g.Xo, g.Yo};
  ASSERT_TRUE(model.Create(centre, g.Rings, g.Perimeter, g.Rmin, g.Ratio));
  for (std::uint32_t i = 0; i < 4; ++i) ASSERT_TRUE(model.SetPhase(i, phases[i]));
  model.CaptureTemplates(frame.View());
  model.Prepare();
}

}  // namespace quorlin::test
