#include "rate_table.h"

#include <algorithm>
#include <cmath>

namespace vireo {

namespace {

// Truncation toward zero that stays defined for any float.
int Trunc(float v) {
  if (!(v == v)) return 0;
  return static_cast<int>(std::clamp(v, -1.0e6f, 1.0e6f));
}

// A measure that is not a number counts as missing, like 0.
float Finite(float v) { return std::isfinite(v) ? v : 0.0f; }

constexpr int kRed = 4, kGreen = 2, kBlue = 1;

void FillStripRow(std::uint8_t* out, float velocity, float drift, float d, float imageDifference, float deformation) {
  const int R = Trunc(static_cast<float>(d * 5.68));
  const int V = Trunc(static_cast<float>(velocity * 64.0));
  const int I = Trunc(static_cast<float>(imageDifference / 2.0));
  const int D = Trunc(static_cast<float>(deformation * 512.0));
  const int drift0 = Trunc(drift);
  for (int p = 0; p < kStripWidth; ++p) {
    int index = 0;
    if (p < 128) {
      if (D > p) index |= kRed;
      if (I > 127 - p) index |= kGreen;
      if (drift0 > 127 - p) index |= kBlue;
    } else {
      const int k = p - 192;
      if (k < 0) {
        if (R < k) index |= kRed;
        if (V < k) index |= kGreen;
      } else {
        if (R > k) index |= kRed;
        if (V > k) index |= kGreen;
      }
    }
    std::uint8_t& byte = out[p / 2];
    byte = (p % 2 == 0) ? static_cast<std::uint8_t>(index << 4) : static_cast<std::uint8_t>(byte | index);
  }
}

float Measure(const MapRecord& r, float rollChange, int rateControl) {
  switch (rateControl) {
    case 134: return static_cast<float>(std::fabs(r.velocity) * 5.0);
    case 135: return static_cast<float>(std::fabs(r.drift) * 0.1);
    case 136: return static_cast<float>(rollChange * 0.1);
    case 137: return static_cast<float>(std::fabs(r.deformation) * 10.0);
    case 138: {
      const auto a = static_cast<float>(std::fabs(r.drift) * 0.008);
      const auto b = static_cast<float>(std::fabs(r.deformation) * 8.0);
      const auto c = static_cast<float>(std::fabs(r.imageDifference) * 0.01);
      const auto e = static_cast<float>(std::fabs(r.velocity) * 0.5);
      const auto sum = static_cast<float>(double{a} * a + double{b} * b + double{c} * c + double{e} * e);
      const auto root = static_cast<float>(std::sqrt(double{sum}));
      return static_cast<float>(std::sqrt(double{root}));
    }
    case 139: return static_cast<float>(std::fabs(r.imageDifference) * 0.05);
    default: return 1.0f;
  }
}

}  // namespace

int StripPixel(const RateTables& tables, int row, int p) {
  const std::uint8_t byte = tables.strip[static_cast<std::size_t>(row) * kStripRowBytes + p / 2];
  return p % 2 == 0 ? byte >> 4 : byte & 0x0F;
}

RateTables BuildRateTable(const MapState& map, int rateControl) {
  RateTables out;
  const int rows = map.Rows();
  if (rows <= 0) return out;

  out.strip.assign(static_cast<std::size_t>(rows) * kStripRowBytes, 0);
  float prevRoll = 0.0f;
  for (int row = 0; row < rows; ++row) {
    const MapRecord r = map.Record(row);
    const float roll = Finite(r.roll);
    float d = roll - prevRoll;
    prevRoll = roll;
    if (d > 180.0f)
      d -= 360.0f;
    else if (d < -180.0f)
      d += 360.0f;
    FillStripRow(out.strip.data() + static_cast<std::size_t>(row) * kStripRowBytes, Finite(r.velocity), Finite(r.drift),
                 d, Finite(r.imageDifference), Finite(r.deformation));
  }

  const std::int32_t last = std::clamp(map.Record(rows - 1).frame, 0, kMaxRateFrame);
  const std::size_t n = static_cast<std::size_t>(last) + 1;
  std::vector<float>& table = out.table;
  table.assign(n, 0.0f);
  table[0] = 1.0f;
  prevRoll = 0.0f;
  for (int row = 0; row < rows; ++row) {
    const MapRecord r = map.Record(row);
    if (r.frame < 0 || r.frame > last) continue;
    const float roll = Finite(r.roll);
    const float t = std::fabs(roll - prevRoll);
    prevRoll = roll;
    table[r.frame] = Finite(Measure(r, t, rateControl));
  }

  // Frames without a row take the value of the next frame that has one.
  table[last] = 1.0f;
  float carry = 1.0f;
  for (std::int32_t k = last; k >= 0; --k) {
    if (table[k] == 0.0f)
      table[k] = carry;
    else
      carry = table[k];
  }
  for (std::int32_t k = 2; k <= last - 2; ++k)
    table[k] =
        static_cast<float>((table[k - 2] / 2.0 + table[k - 1] + table[k] + table[k + 1] + table[k + 2] / 2.0) / 4.0);
  for (float& v : table) v = v == 0.0f ? 1.0f : static_cast<float>(1.0 / std::clamp(v, 0.05f, 5.0f));

  // No frame plays faster than the frame after it allows.
  table[last] = 1.0f;
  float next = 1.0f;
  for (std::int32_t k = last; k >= 0; --k) {
    const float before = table[k];
    if (table[k] > next) table[k] = next;
    next = before;
  }
  return out;
}

}  // namespace vireo
