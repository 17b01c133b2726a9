#include "ostrel/detections.h"

#include <cstdio>
#include <cstring>

namespace ostrel {

namespace {

struct Marker {
  CAnalizaDetektor::Flag flag;
  int dx, dy;  // plus centre relative to the block centre
  std::uint8_t bgr[3];
};

// Drawing order: later markers cover earlier ones.
constexpr Marker kMarkers[] = {
    {CAnalizaDetektor::kBlood2, -2, -1, {0, 255, 255}},    // yellow
    {CAnalizaDetektor::kBlood1, -1, -1, {255, 255, 255}},  // white
    {CAnalizaDetektor::kUlcer2, 1, 1, {255, 0, 0}},        // blue
    {CAnalizaDetektor::kUlcer1, 0, 0, {0, 0, 0}},          // black
};

void Paint(std::uint8_t* frame, int stride, int x, int y, const std::uint8_t* bgr) {
  std::memcpy(frame + static_cast<std::ptrdiff_t>(y) * stride + 3 * x, bgr, 3);
}

}  // namespace

int FormatFindingsLine(const CAnalizaDetektor& engine, std::int32_t frame, char* line) {
  bool any = false;
  for (int flag = 0; flag < CAnalizaDetektor::kFlagCount && !any; ++flag)
    any = engine.FrameShows(static_cast<CAnalizaDetektor::Flag>(flag));
  if (!any) return 0;
  int length = std::snprintf(line, kFindingsLineSize, "%i\t0\t", frame);
  for (int flag = 0; flag < CAnalizaDetektor::kFlagCount; ++flag) {
    if (!engine.FrameShows(static_cast<CAnalizaDetektor::Flag>(flag))) continue;
    const char* label = CAnalizaDetektor::kFlagLabels[flag];
    const std::size_t n = std::strlen(label);
    std::memcpy(line + length, label, n);
    length += static_cast<int>(n);
  }
  std::memcpy(line + length, "\r\n", 3);
  return length + 2;
}

bool DrawMarkers(const CAnalizaDetektor& engine, std::uint8_t* frame, int stride) {
  bool drew = false;
  for (int block = 0; block < CAnalizaDetektor::kBlocks; ++block) {
    const CAnalizaDetektor::Point centre = CAnalizaDetektor::BlockCentre(block);
    const CAnalizaDetektor::FlagRecord& flags = engine.Flags(block);
    for (const Marker& m : kMarkers) {
      if (!flags[m.flag]) continue;
      const int x = centre.x + m.dx, y = centre.y + m.dy;
      Paint(frame, stride, x, y, m.bgr);
      Paint(frame, stride, x - 1, y, m.bgr);
      Paint(frame, stride, x + 1, y, m.bgr);
      Paint(frame, stride, x, y - 1, m.bgr);
      Paint(frame, stride, x, y + 1, m.bgr);
      drew = true;
    }
  }
  return drew;
}

}  // namespace ostrel
