#include "tools/synthclip/avi_fourcc.h"

#include <fstream>
#include <vector>

namespace vireo::synth {
namespace {

class RiffFile {
 public:
  explicit RiffFile(const std::string& path) : file_(path, std::ios::in | std::ios::out | std::ios::binary) {
    if (file_) {
      file_.seekg(0, std::ios::end);
      size_ = static_cast<std::uint64_t>(file_.tellg());
    }
  }
  bool Open() const { return static_cast<bool>(file_); }
  std::uint64_t Size() const { return size_; }
  bool Read32(std::uint64_t offset, std::uint32_t& value) {
    unsigned char b[4];
    if (offset + 4 > size_) return false;
    file_.seekg(static_cast<std::streamoff>(offset));
    if (!file_.read(reinterpret_cast<char*>(b), 4)) return false;
    value = b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
    return true;
  }
  bool Write32(std::uint64_t offset, std::uint32_t value) {
    const char b[4] = {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
                       static_cast<char>(value >> 24)};
    file_.seekp(static_cast<std::streamoff>(offset));
    return static_cast<bool>(file_.write(b, 4));
  }
  bool Flush() { return static_cast<bool>(file_.flush()); }

 private:
  std::fstream file_;
  std::uint64_t size_ = 0;
};

struct Chunk {
  std::uint32_t id;
  std::uint64_t data;  // offset of the chunk data
  std::uint32_t size;  // bytes of data, without the pad byte
};

// Calls visit(chunk) for each chunk in [begin, end); false on a malformed list.
template <typename Visit>
bool ForEachChunk(RiffFile& file, std::uint64_t begin, std::uint64_t end, Visit visit) {
  std::uint64_t at = begin;
  while (at + 8 <= end) {
    Chunk chunk{};
    if (!file.Read32(at, chunk.id) || !file.Read32(at + 4, chunk.size)) return false;
    chunk.data = at + 8;
    if (chunk.data + chunk.size > end) return false;
    if (!visit(chunk)) return false;
    at = chunk.data + chunk.size + (chunk.size & 1u);
  }
  return true;
}

constexpr std::uint32_t kRiff = MakeFourcc('R', 'I', 'F', 'F');
constexpr std::uint32_t kAvi = MakeFourcc('A', 'V', 'I', ' ');
constexpr std::uint32_t kList = MakeFourcc('L', 'I', 'S', 'T');
constexpr std::uint32_t kHdrl = MakeFourcc('h', 'd', 'r', 'l');
constexpr std::uint32_t kStrl = MakeFourcc('s', 't', 'r', 'l');
constexpr std::uint32_t kStrh = MakeFourcc('s', 't', 'r', 'h');
constexpr std::uint32_t kStrf = MakeFourcc('s', 't', 'r', 'f');
constexpr std::uint32_t kVids = MakeFourcc('v', 'i', 'd', 's');
constexpr std::uint32_t kStrhHandler = 4;       // fccHandler in AVISTREAMHEADER
constexpr std::uint32_t kStrfCompression = 16;  // biCompression in BITMAPINFOHEADER

bool IsList(RiffFile& file, const Chunk& chunk, std::uint32_t type) {
  std::uint32_t listType = 0;
  return chunk.id == kList && chunk.size >= 4 && file.Read32(chunk.data, listType) && listType == type;
}

}  // namespace

int PatchAviVideoFourcc(const std::string& path, std::uint32_t fourcc, std::string& error) {
  RiffFile file(path);
  if (!file.Open()) {
    error = "cannot open " + path;
    return -1;
  }
  std::uint32_t riff = 0, riffSize = 0, form = 0;
  if (!file.Read32(0, riff) || !file.Read32(4, riffSize) || !file.Read32(8, form) || riff != kRiff || form != kAvi ||
      8ull + riffSize > file.Size()) {
    error = path + " is not an AVI file";
    return -1;
  }
  // Offsets are gathered first so that a damaged file is left untouched.
  std::vector<std::uint64_t> offsets;
  int streams = 0;
  const auto streamList = [&](const Chunk& strl) {
    bool video = false;
    return ForEachChunk(file, strl.data + 4, strl.data + strl.size, [&](const Chunk& c) {
      if (c.id == kStrh && c.size >= kStrhHandler + 4) {
        std::uint32_t type = 0;
        if (!file.Read32(c.data, type)) return false;
        video = type == kVids;
        if (video) offsets.push_back(c.data + kStrhHandler);
      } else if (c.id == kStrf && video && c.size >= kStrfCompression + 4) {
        offsets.push_back(c.data + kStrfCompression);
        ++streams;
      }
      return true;
    });
  };
  const bool wellFormed = ForEachChunk(file, 12, 8ull + riffSize, [&](const Chunk& top) {
    if (!IsList(file, top, kHdrl)) return true;
    return ForEachChunk(file, top.data + 4, top.data + top.size,
                        [&](const Chunk& c) { return !IsList(file, c, kStrl) || streamList(c); });
  });
  if (!wellFormed) {
    error = path + ": malformed AVI header";
    return -1;
  }
  bool written = true;
  for (const std::uint64_t offset : offsets) written = written && file.Write32(offset, fourcc);
  if (!written || !file.Flush()) {
    error = "cannot write " + path;
    return -1;
  }
  return streams;
}

}  // namespace vireo::synth
