// Times in a clip as the reviewer reads them.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vireo {

// "h:mm:ss" of the start of `frame` at `frameRate` frames per second.
inline std::string ClockText(std::int64_t frame, double frameRate) {
  const auto seconds = static_cast<std::int64_t>(std::floor(frame / (frameRate > 0 ? frameRate : 1.0)));
  char text[48];
  std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(seconds / 3600),
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  return text;
}

}  // namespace vireo
