// The MDR map file: a 24-bit bitmap, one row per third of a ring step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace quorlin {

inline constexpr std::size_t kMapHeaderBytes = 54;

// Stride of a map row for a grid of `perimeter` nodes per ring: 2*P + 8 pixels.
inline std::size_t MapRowBytes(std::uint32_t perimeter) {
  return (6 * std::size_t{perimeter} + 27) & ~std::size_t{3};
}

// "map_%x.bmp" with the time in seconds since 1970.
std::string DefaultMapName(std::time_t now);

// The map file of one filter instance, plus the map's sub-ring step counter,
// which belongs to the instance and survives every re-initialisation (so the
// map of a clip depends on that clip and its parameters only). When no file
// is open, rows are still sampled and counted by the model but not written.
class MapWriter {
 public:
  MapWriter() = default;
  MapWriter(const MapWriter&) = delete;
  MapWriter& operator=(const MapWriter&) = delete;
  ~MapWriter() { CloseMap(); }

  // Creates (truncates) the file and writes the header. The width is
  // recorded at once so that an unfinished map can be recovered; the other
  // size fields stay 0 until CloseMap. On failure returns false with the
  // reason in `error` (when given); no file is then open.
  bool OpenMap(const std::string& path, std::uint32_t perimeter, std::string* error = nullptr);
  // Writes the header's size fields for the rows so far and flushes, so the
  // file is a complete bitmap on disk; it stays open for further rows.
  void WriteSizes();
  // Completes the header with the row count and closes the file.
  void CloseMap();
  // Appends one row of MapRowBytes(perimeter) bytes; write errors are ignored.
  void Append(const std::uint8_t* row, std::size_t bytes);

  bool IsOpen() const { return file_ != nullptr; }
  std::uint32_t Rows() const { return rows_; }

  int subRingStep = 0;  // the counter g of the map step

 private:
  std::FILE* file_ = nullptr;
  std::uint32_t perimeter_ = 0;
  std::uint32_t rows_ = 0;
};

}  // namespace quorlin
