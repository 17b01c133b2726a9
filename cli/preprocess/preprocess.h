// One preprocessing run: a clip through the MDR graph of the player's graph
// layer, headless, writing the clip's MDR map.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "cli/progress.h"
#include "player/graph.h"

namespace vireo::cli {

// The map the player writes for a clip: the clip's path with the extension
// of its file name replaced by ".bmp" (added when it has none).
std::string DefaultMapPath(const std::string& clip);

// The longest map name the MDR filter accepts.
inline constexpr std::size_t kMapPathMax = 1022;

// What a map file on disk holds.
struct MapState {
  bool exists = false;
  bool complete = false;  // the header's sizes describe exactly the file
  std::uint32_t rows = 0;
};
MapState InspectMap(const std::string& path);

struct ClipResult {
  bool ok = false;
  std::string error;  // why the clip failed
  std::int64_t frames = 0;
  double seconds = 0;
  bool written = false;  // the map on disk is this run's
  MapState map;
};

// Runs `clip` through the MDR graph into `map`, with the model's
// `parameters` (its defaults when unset); the clip and the map were checked
// before (CheckBatch). `stop` ends the run early (the clip then fails as
// interrupted, its map holding the frames done).
ClipResult PreprocessClip(const std::string& clip, const std::string& map, Progress& progress,
                          const std::atomic<bool>& stop, const std::optional<MdrParameters>& parameters = {});

}  // namespace vireo::cli
