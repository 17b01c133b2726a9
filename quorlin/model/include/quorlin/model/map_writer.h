// The MDR map file: a 24-bit bitmap, one row per third of a ring step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "filterhost/atomic_file.h"

namespace quorlin {

inline constexpr std::size_t kMapHeaderBytes = 54;

// Stride of a map row for a grid of `perimeter` nodes per ring: 2*P + 8 pixels.
inline std::size_t MapRowBytes(std::uint32_t perimeter) { return (6 * std::size_t{perimeter} + 27) & ~std::size_t{3}; }

// "map_%x.bmp" with the time in seconds since 1970.
std::string DefaultMapName(std::time_t now);

// The map file of one filter instance, plus the map's sub-ring step counter,
// which belongs to the instance and survives every re-initialisation (so the
// map of a clip depends on that clip and its parameters only). When no file
// is open, rows are still sampled and counted by the model but not written.
//
// The map is written under a temporary name beside the target and put in
// place only complete, with its header's sizes: whenever the stream rests
// (WriteSizes) and when it is closed. A failed write loses the rows since the
// last such point; the target keeps what it held, and its header never counts
// a row the file lacks.
class MapWriter {
 public:
  MapWriter() = default;
  MapWriter(const MapWriter&) = delete;
  MapWriter& operator=(const MapWriter&) = delete;
  ~MapWriter() { CloseMap(); }

  // Starts a map of `perimeter` nodes per ring at `path` (nothing on disk
  // changes yet). On failure returns false with the reason in `error` (when
  // given); no map is then open.
  bool OpenMap(const std::string& path, std::uint32_t perimeter, std::string* error = nullptr);
  // Puts the map as it is in place of the target, header sizes included;
  // later rows go on from there.
  bool WriteSizes();
  // WriteSizes, then ends the map.
  bool CloseMap();
  // Appends one row of MapRowBytes(perimeter) bytes; false when it was not
  // written (see Error()). After a failed write further rows are dropped
  // until the map is opened again.
  bool Append(const std::uint8_t* row, std::size_t bytes);

  bool IsOpen() const { return open_; }
  std::uint32_t Rows() const { return rows_; }
  // The reason the first failed write failed, empty while all went well.
  const std::string& Error() const { return file_.Error(); }

  int subRingStep = 0;  // the counter g of the map step

 private:
  fh::AtomicFile file_;
  bool open_ = false;
  std::uint32_t perimeter_ = 0;
  std::uint32_t rows_ = 0;     // rows in the file
  std::uint32_t pending_ = 0;  // of which not yet put in place
};

}  // namespace quorlin
