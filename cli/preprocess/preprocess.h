// One preprocessing run: a clip through the MDR graph of the player's graph
// layer, headless, writing the clip's MDR map.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace vireo::cli {

// The map the player writes for a clip: the clip's path with the extension
// of its file name replaced by ".bmp" (added when it has none).
std::string DefaultMapPath(const std::string& clip);

// Whether `path` could be created or written, without truncating an existing
// file or leaving a new one; the reason when not.
bool CanCreateFile(const std::string& path, std::string* reason);

// What a map file on disk holds.
struct MapState {
  bool exists = false;
  bool complete = false;  // the header's sizes describe exactly the file
  std::uint32_t rows = 0;
};
MapState InspectMap(const std::string& path);

// Live figures of a run, read by the progress display from another thread.
struct Progress {
  std::atomic<std::int64_t> frames{0};
  std::atomic<std::int64_t> total{0};  // 0 while unknown
};

struct ClipResult {
  bool ok = false;
  std::string error;      // why the clip failed
  std::int64_t frames = 0;
  double seconds = 0;
  MapState map;
};

// Runs `clip` through the MDR graph into `map`. `stop` ends the run early
// (the clip then fails as interrupted).
ClipResult PreprocessClip(const std::string& clip, const std::string& map, Progress& progress,
                          const std::atomic<bool>& stop);

}  // namespace vireo::cli
