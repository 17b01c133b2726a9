#include "map_file.h"

#include <cstdio>
#include <limits>
#include <memory>

#include "filterhost/mediatype.h"

namespace vireo {

namespace {

constexpr std::uint32_t kFileHeaderBytes = 14;
constexpr std::uint32_t kInfoHeaderBytes = 40;
// Far more than any capsule video produces; keeps every product in range.
constexpr std::int64_t kMaxWidth = 1 << 20;

std::uint32_t U32(const std::uint8_t* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}
std::uint16_t U16(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] | (at[1] << 8)); }

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

bool MapDepthSupported(int bitCount) {
  return bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32;
}

MapFile ReadMapFile(const std::string& path) {
  MapFile map;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    map.status = MapFile::Status::kCannotOpen;
    return map;
  }
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return map;
  const long end = std::ftell(file.get());
  if (end < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) return map;
  const std::int64_t length = end;

  std::uint8_t fileHeader[kFileHeaderBytes];
  if (length < kFileHeaderBytes || std::fread(fileHeader, 1, sizeof fileHeader, file.get()) != sizeof fileHeader)
    return map;
  if (fileHeader[0] != 'B' || fileHeader[1] != 'M') return map;
  const std::uint32_t bfSize = U32(fileHeader + 2);
  const std::uint32_t offBits = U32(fileHeader + 10);
  if (offBits < kFileHeaderBytes + kInfoHeaderBytes || offBits > length) return map;

  std::vector<std::uint8_t> header(offBits - kFileHeaderBytes);
  if (std::fread(header.data(), 1, header.size(), file.get()) != header.size()) return map;
  const std::uint32_t biSize = U32(header.data());
  const auto biWidth = static_cast<std::int32_t>(U32(header.data() + 4));
  const auto biHeight = static_cast<std::int32_t>(U32(header.data() + 8));
  const int bitCount = U16(header.data() + 14);
  const std::uint32_t compression = U32(header.data() + 16);
  const std::uint32_t sizeImage = U32(header.data() + 20);
  const std::uint32_t clrUsed = U32(header.data() + 32);
  if (biSize < kInfoHeaderBytes || biSize > header.size()) return map;
  if (biWidth <= 0 || biWidth > kMaxWidth || biHeight < 0) return map;
  if (!MapDepthSupported(bitCount) || compression != 0) return map;
  // The 24-byte measures record needs the last 8 pixels of a wider row.
  if (bitCount == 24 && biWidth < 9) return map;
  if (bitCount <= 8) {
    const std::int64_t colours = clrUsed ? clrUsed : (std::int64_t{1} << bitCount);
    if (colours > (std::int64_t{1} << bitCount) || biSize + colours * 4 > static_cast<std::int64_t>(header.size()))
      return map;
  }

  const std::int64_t stride = fh::DibStride(std::int64_t{biWidth}, bitCount);
  const std::int64_t available = length - offBits;
  std::int64_t rows = biHeight;
  if (bfSize == 0 && sizeImage == 0 && biHeight == 0) {
    // Header never completed by the writer: the whole rows present count.
    rows = available / stride;
    map.unfinished = true;
  } else {
    // A size of 0 is allowed for uncompressed bitmaps: it follows from the rows.
    const std::int64_t image = sizeImage ? sizeImage : stride * biHeight;
    if (image < stride * biHeight || image > available) return map;
  }
  if (rows > std::numeric_limits<int>::max() / stride) return map;

  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(rows * stride));
  if (std::fread(pixels.data(), 1, pixels.size(), file.get()) != pixels.size()) return map;
  map.status = MapFile::Status::kOk;
  map.header = std::move(header);
  map.pixels = std::move(pixels);
  map.width = biWidth;
  map.rows = static_cast<int>(rows);
  map.stride = static_cast<int>(stride);
  map.bitCount = bitCount;
  return map;
}

}  // namespace vireo
