// Draws the grid into a frame buffer: single pixels, crosses and lines in the
// two grid colours, in the frame's byte order.
#pragma once

#include <cstdint>

#include "filterhost/grid_records.h"

namespace quorlin {

// Geometry of a frame as the filter sees it: rows in stored order.
struct FrameLayout {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t stride = 0;    // bytes per row
  std::int32_t bitCount = 0;  // 24 or 32

  std::int32_t BytesPerPixel() const { return bitCount / 8; }
  std::int64_t ImageBytes() const { return std::int64_t{stride} * height; }
};

class FramePainter {
 public:
  // `data` holds layout.ImageBytes() bytes or more.
  FramePainter(std::uint8_t* data, const FrameLayout& layout, const GRID_LOOK& look);

  bool Inside(std::int32_t x, std::int32_t y) const {
    return static_cast<std::uint32_t>(x) < static_cast<std::uint32_t>(layout_.width) &&
           static_cast<std::uint32_t>(y) < static_cast<std::uint32_t>(layout_.height);
  }
  // Colour 1 for a non-zero index, colour 2 for 0. The position must be inside.
  void SetPixel(std::int32_t x, std::int32_t y, std::int32_t index);
  // Clipped pixel by pixel.
  void Point(std::int32_t x, std::int32_t y, std::int32_t index);
  void Cross(std::int32_t x, std::int32_t y, std::int32_t index);
  // Drawn only when both ends are inside, stepping along the longer axis.
  void Line(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t index);

 private:
  std::uint8_t* data_;
  FrameLayout layout_;
  std::uint8_t colours_[2][4];  // [0] colour 2, [1] colour 1, in frame byte order
};

}  // namespace quorlin
