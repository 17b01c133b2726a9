// The per-frame map step: scale of the grid, map rows and ring shifts.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "quorlin/model/map_writer.h"
#include "quorlin/model/rings.h"

namespace quorlin {

static_assert(std::endian::native == std::endian::little, "map rows are written in memory order");

namespace {

constexpr double kPi = 3.14159265358979323846;

double IntPow(double base, int exponent) {
  double result = 1;
  for (int i = 0; i < std::abs(exponent); ++i) result *= base;
  return exponent < 0 ? 1 / result : result;
}

void PutInt(std::uint8_t* at, std::int32_t v) { std::memcpy(at, &v, 4); }
void PutFloat(std::uint8_t* at, double v) {
  const float f = static_cast<float>(v);
  std::memcpy(at, &f, 4);
}

}  // namespace

double GRID_RINGS::ScaleRatio() const {
  if (nodes_.empty()) return 1;
  const unsigned cur = Cur();
  const double count = static_cast<double>(nodes_.size());
  double sx0 = 0, sy0 = 0, sx = 0, sy = 0;
  for (const GRID_NODE& node : nodes_) {
    sx0 += node.x0;
    sy0 += node.y0;
    sx += node.x[cur];
    sy += node.y[cur];
  }
  const double m0x = sx0 / count, m0y = sy0 / count, mx = sx / count, my = sy / count;
  double r0 = 0, r1 = 0;
  for (const GRID_NODE& node : nodes_) {
    r0 += (node.x0 - m0x) * (node.x0 - m0x) + (node.y0 - m0y) * (node.y0 - m0y);
    r1 += (node.x[cur] - mx) * (node.x[cur] - mx) + (node.y[cur] - my) * (node.y[cur] - my);
  }
  return r0 == 0 ? 1 : r1 / r0;
}

void GRID_RINGS::ResetToRest() {
  for (GRID_NODE& node : nodes_) {
    node.x[0] = node.x[1] = node.x0;
    node.y[0] = node.y[1] = node.y0;
  }
  ringOffset_ = 0;
}

// Between frames both buffers are equal; shifts write both.
void GRID_RINGS::ShiftInward() {
  const unsigned cur = Cur();
  for (std::uint32_t j = 0; j < perimeter_; ++j) {
    GRID_NODE* column = &Node(j, 0);
    const double x = 2 * column[rings_ - 1].x[cur] - column[rings_ - 2].x[cur];
    const double y = 2 * column[rings_ - 1].y[cur] - column[rings_ - 2].y[cur];
    for (std::uint32_t k = 0; k + 1 < rings_; ++k) {
      column[k].x[0] = column[k].x[1] = column[k + 1].x[cur];
      column[k].y[0] = column[k].y[1] = column[k + 1].y[cur];
    }
    column[rings_ - 1].x[0] = column[rings_ - 1].x[1] = x;
    column[rings_ - 1].y[0] = column[rings_ - 1].y[1] = y;
  }
}

void GRID_RINGS::ShiftOutward() {
  const unsigned cur = Cur();
  for (std::uint32_t j = 0; j < perimeter_; ++j) {
    GRID_NODE* column = &Node(j, 0);
    const double x = 2 * column[0].x[cur] - column[1].x[cur];
    const double y = 2 * column[0].y[cur] - column[1].y[cur];
    for (std::uint32_t k = rings_ - 1; k >= 1; --k) {
      column[k].x[0] = column[k].x[1] = column[k - 1].x[cur];
      column[k].y[0] = column[k].y[1] = column[k - 1].y[cur];
    }
    column[0].x[0] = column[0].x[1] = x;
    column[0].y[0] = column[0].y[1] = y;
  }
}

template <class Read>
std::uint32_t GRID_RINGS::UpdateMapWith(MapWriter& map, const Read& read) {
  if (!(ratio_ > 1) || nodes_.empty()) return 0;
  double s = std::sqrt(std::fabs(ScaleRatio()));
  // Tracking lost (a non-finite scale included): back to the rest shape.
  if (!(s >= 0.2 && s <= 5.0)) {
    ResetToRest();
    CaptureAll(read);
    return 0;
  }
  const std::uint32_t rows = WriteRowsWith(s, map, read);
  // A regular grid needs fewer shifts than this to cross the whole range of
  // scales; a folded grid that never gets there counts as lost tracking.
  const double bound = std::min(1e9, std::floor(std::log(25.0) / std::log(ratio_))) + 2;
  const auto maxShifts = static_cast<std::uint64_t>(bound);
  std::uint64_t shifts = 0;
  if (s < 1 / ratio_) {
    while (s < 1 / ratio_ && ++shifts <= maxShifts) {
      ShiftInward();
      s = std::sqrt(std::fabs(ScaleRatio()));
      ringOffset_ = (ringOffset_ + 1) % rings_;
    }
  } else if (s > ratio_) {
    while (s > ratio_ && ++shifts <= maxShifts) {
      ShiftOutward();
      s = std::sqrt(std::fabs(ScaleRatio()));
      ringOffset_ = (ringOffset_ + rings_ - 1) % rings_;
    }
  }
  if (shifts > maxShifts) ResetToRest();
  lastScale_ = s;
  CaptureAll(read);
  return rows;
}

template <class Read>
std::uint32_t GRID_RINGS::WriteRowsWith(double s, MapWriter& map, const Read& read) {
  int& g = map.subRingStep;
  g %= 3;
  const double q = std::pow(ratio_, 1.0 / 3.0);
  double u = s / IntPow(q, g);
  std::uint32_t rows = 0;
  const std::int64_t base = 3 * (static_cast<std::int64_t>(rings_) - 2);
  auto row = [&] {
    const std::int64_t idx = base - g;
    WriteRowWith(static_cast<int>(idx / 3), static_cast<int>(idx % 3), s, map, read);
    ++rows;
  };
  if (u > q) {
    do {
      ++g;
      row();
      u /= q;
    } while (u > q);
  } else {
    while (u < 1 / q) {
      --g;
      row();
      u *= q;
    }
  }
  framesSinceMap_ = 0;
  lastScale_ = s;
  return rows;
}

template <class Read>
void GRID_RINGS::WriteRowWith(int a, int b, double s, MapWriter& map, const Read& read) {
  const unsigned cur = Cur();
  const std::uint32_t last = rings_ - 1;
  const double rho = a + b / 3.0;
  const bool sampled = a < 0 || a >= static_cast<std::int64_t>(last) || (b >= 0 && b <= 2);
  // The sampling point of angle j on the segment through two of its rings.
  auto point = [&](std::uint32_t j, double& px, double& py) {
    const GRID_NODE* column = &Node(j, 0);
    auto along = [&](std::uint32_t k, double t) {
      px = column[k].x[cur] + t * (column[k + 1].x[cur] - column[k].x[cur]);
      py = column[k].y[cur] + t * (column[k + 1].y[cur] - column[k].y[cur]);
    };
    if (a < 0) {
      along(0, rho);
    } else if (a >= static_cast<std::int64_t>(last)) {
      along(last - 1, rho - (static_cast<double>(rings_) - 2));
    } else if (b == 0) {
      px = column[a].x[cur];
      py = column[a].y[cur];
    } else {
      const double t = b / 3.0;
      px = (1 - t) * column[a].x[cur] + t * column[a + 1].x[cur];
      py = (1 - t) * column[a].y[cur] + t * column[a + 1].y[cur];
    }
  };
  std::uint8_t* pixels = row_.data();
  if (sampled) {
    // The triple is not cleared between reads: a point outside the frame
    // repeats the previous pixel of the row (black before the first).
    std::uint8_t triple[3] = {0, 0, 0};
    double prevX, prevY;
    point(perimeter_ - 1, prevX, prevY);
    for (std::uint32_t j = 0; j < perimeter_; ++j) {
      double curX, curY;
      point(j, curX, curY);
      read(TruncToInt(prevX), TruncToInt(prevY), triple);
      std::memcpy(pixels + 6 * std::size_t{j}, triple, 3);
      read(TruncToInt((prevX + curX) / 2), TruncToInt((prevY + curY) / 2), triple);
      std::memcpy(pixels + 6 * std::size_t{j} + 3, triple, 3);
      prevX = curX;
      prevY = curY;
    }
  } else {
    std::memset(pixels, 0, 6 * std::size_t{perimeter_});
  }

  double velocity = 0;
  if (lastScale_ > 0.01 && s > 0.01 && framesSinceMap_ > 0)
    velocity = 6.05 * (1 / lastScale_ - 1 / s) / framesSinceMap_;
  const double dx = GetX() - xo_, dy = GetY() - yo_;
  double difference = 0;
  for (const GRID_NODE& node : nodes_) {
    std::uint8_t triple[3] = {0, 0, 0};
    read(TruncToInt(node.x[cur]), TruncToInt(node.y[cur]), triple);
    for (int i = 0; i < 3; ++i) difference += std::abs(node.templ[12 + i] - triple[i]);
  }
  difference /= 3.0 * static_cast<double>(nodes_.size());

  std::uint8_t* tail = pixels + 6 * std::size_t{perimeter_};
  PutInt(tail, static_cast<std::int32_t>(framesFitted_));
  PutFloat(tail + 4, velocity);
  PutFloat(tail + 8, std::sqrt(dx * dx + dy * dy));
  PutFloat(tail + 12, GetAngle() * 180 / kPi);
  PutFloat(tail + 16, difference);
  PutFloat(tail + 20, deformation_);
  map.Append(row_.data(), row_.size());
}

std::uint32_t GRID_RINGS::UpdateMap(MapWriter& map, PixelReadFn read) { return UpdateMapWith(map, read); }
std::uint32_t GRID_RINGS::UpdateMap(MapWriter& map, const FrameView& frame) { return UpdateMapWith(map, frame); }

}  // namespace quorlin
