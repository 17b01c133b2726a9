// Reading an MDR map bitmap without trusting it: every size in the headers is
// checked against the others and against the file's length before anything
// is allocated or read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vireo {

struct MapFile {
  enum class Status { kOk, kCannotOpen, kBadHeader };
  Status status = Status::kBadHeader;
  // The writer never completed the header: the rows present were taken.
  bool unfinished = false;
  std::vector<std::uint8_t> header;  // BITMAPINFO block (bfOffBits - 14 bytes)
  std::vector<std::uint8_t> pixels;  // rows x stride bytes, stored order
  int width = 0;                     // biWidth
  int rows = 0;
  int stride = 0;
  int bitCount = 0;
};

// Bit depths shown as a picture (uncompressed).
bool MapDepthSupported(int bitCount);

MapFile ReadMapFile(const std::string& path);

}  // namespace vireo
