#include "frame_painter.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace quorlin {

namespace {

// 0x00BBGGRR to blue, green, red, 0.
void ToFrameOrder(std::uint32_t colour, std::uint8_t* bytes) {
  bytes[0] = static_cast<std::uint8_t>(colour >> 16);
  bytes[1] = static_cast<std::uint8_t>(colour >> 8);
  bytes[2] = static_cast<std::uint8_t>(colour);
  bytes[3] = 0;
}

}  // namespace

FramePainter::FramePainter(std::uint8_t* data, const FrameLayout& layout, const GRID_LOOK& look)
    : data_(data), layout_(layout) {
  ToFrameOrder(look.Color2, colours_[0]);
  ToFrameOrder(look.Color1, colours_[1]);
}

void FramePainter::SetPixel(std::int32_t x, std::int32_t y, std::int32_t index) {
  const int bpp = layout_.BytesPerPixel();
  std::uint8_t* at = data_ + static_cast<std::ptrdiff_t>(y) * layout_.stride + static_cast<std::ptrdiff_t>(x) * bpp;
  std::memcpy(at, colours_[index != 0 ? 1 : 0], static_cast<std::size_t>(bpp));
}

void FramePainter::Point(std::int32_t x, std::int32_t y, std::int32_t index) {
  if (Inside(x, y)) SetPixel(x, y, index);
}

void FramePainter::Cross(std::int32_t x, std::int32_t y, std::int32_t index) {
  Point(x, y, index);
  Point(x - 1, y, index);
  Point(x, y - 1, index);
  Point(x + 1, y, index);
  Point(x, y + 1, index);
}

void FramePainter::Line(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t index) {
  if (!Inside(x1, y1) || !Inside(x2, y2)) return;
  // Both ends are inside, so every difference below fits in 32 bits.
  const std::int32_t ex = std::abs(x2 - x1), ey = std::abs(y2 - y1);
  if (ex == 0 && ey == 0) {
    SetPixel(x1, y1, index);
    return;
  }
  if (ex >= ey) {
    if (x2 < x1) {
      std::swap(x1, x2);
      std::swap(y1, y2);
    }
    const std::int32_t dir = y2 >= y1 ? 1 : -1;
    for (std::int32_t i = 0; i <= ex; ++i)
      SetPixel(x1 + i, y1 + dir * static_cast<std::int32_t>(std::int64_t{i} * ey / ex), index);
  } else {
    if (y2 < y1) {
      std::swap(x1, x2);
      std::swap(y1, y2);
    }
    const std::int32_t dir = x2 >= x1 ? 1 : -1;
    for (std::int32_t i = 0; i <= ey; ++i)
      SetPixel(x1 + dir * static_cast<std::int32_t>(std::int64_t{i} * ex / ey), y1 + i, index);
  }
}

}  // namespace quorlin
