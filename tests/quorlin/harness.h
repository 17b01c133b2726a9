// Helpers of the MDR filter tests: media types, a filter driven outside any
// graph, rendered capsule frames and a reader of map files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "filterhost/mediatype.h"
#include "filterhost/sample.h"
#include "quorlin.h"

namespace qtest {

// MEDIATYPE_Video / FORMAT_VideoInfo with the given subtype and header.
fh::CMediaType VideoType(int width, int height, const fh::GUID& subtype, int bits);

// Rendered capsule frames (seed 1), `size` x `size`, in DIB layout of
// `bits` 24 or 32, rows padded to 4 bytes.
std::vector<std::vector<std::uint8_t>> CapsuleFrames(int count, int size, int bits);

// A CQuorlin of its own with its input connected, fed samples by hand.
class DirectFilter {
 public:
  DirectFilter(int width, int height, int bits);
  ~DirectFilter();
  quorlin::CQuorlin& operator*() { return *filter_; }
  quorlin::CQuorlin* operator->() { return filter_; }
  fh::HRESULT Push(std::vector<std::uint8_t>& frame);
  // Reconnects the input with another type.
  fh::HRESULT Reconnect(const fh::CMediaType& type);

 private:
  quorlin::CQuorlin* filter_;
  fh::CExternalPin upstream_{"upstream", fh::PINDIR_OUTPUT};
  fh::CMediaSample sample_;
};

// A map file as read back.
struct MapFile {
  bool ok = false;  // a "BM" header of 54 bytes was read
  std::uint32_t bfSize = 0, width = 0, height = 0, sizeImage = 0;
  std::size_t rowBytes = 0;
  std::vector<std::uint8_t> bytes;  // the whole file

  std::int32_t FrameNumber(std::size_t row, std::uint32_t perimeter) const;
  float Measure(std::size_t row, std::uint32_t perimeter, int index) const;  // 0 velocity .. 4 deformation
  std::size_t StoredRows() const { return rowBytes ? (bytes.size() - 54) / rowBytes : 0; }
};
MapFile ReadMap(const std::string& path);

// Runs the current directory in a fresh temporary folder for its lifetime.
class ScopedTempDir {
 public:
  explicit ScopedTempDir(const std::string& name);
  ~ScopedTempDir();
  const std::string& Path() const { return path_; }
  std::vector<std::string> Files() const;

 private:
  std::string path_, previous_;
};

}  // namespace qtest
