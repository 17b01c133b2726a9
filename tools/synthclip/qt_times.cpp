#include "tools/synthclip/qt_times.h"

#include <cstdint>
#include <fstream>

namespace vireo::synth {
namespace {

class AtomFile {
 public:
  explicit AtomFile(const std::string& path) : file_(path, std::ios::in | std::ios::out | std::ios::binary) {
    if (file_) {
      file_.seekg(0, std::ios::end);
      size_ = static_cast<std::uint64_t>(file_.tellg());
    }
  }
  bool Open() const { return static_cast<bool>(file_); }
  std::uint64_t Size() const { return size_; }
  bool Read(std::uint64_t offset, int bytes, std::uint64_t& value) {
    unsigned char b[8];
    if (offset + bytes > size_) return false;
    file_.seekg(static_cast<std::streamoff>(offset));
    if (!file_.read(reinterpret_cast<char*>(b), bytes)) return false;
    value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | b[i];
    return true;
  }
  bool Zero(std::uint64_t offset, int bytes) {  // at most 16 bytes
    const char zeros[16] = {};
    file_.seekp(static_cast<std::streamoff>(offset));
    return static_cast<bool>(file_.write(zeros, bytes));
  }
  bool Flush() { return static_cast<bool>(file_.flush()); }

 private:
  std::fstream file_;
  std::uint64_t size_ = 0;
};

constexpr std::uint32_t Tag(const char (&s)[5]) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(s[0])) << 24 | static_cast<unsigned char>(s[1]) << 16 |
         static_cast<unsigned char>(s[2]) << 8 | static_cast<unsigned char>(s[3]);
}

class TimeClearer {
 public:
  explicit TimeClearer(AtomFile& file) : file_(file) {}
  // Walks the atoms in [begin, end), descending into the containers on the
  // way to the headers.
  bool Walk(std::uint64_t begin, std::uint64_t end) {
    std::uint64_t at = begin;
    while (at + 8 <= end) {
      std::uint64_t size = 0, type = 0, header = 8;
      if (!file_.Read(at, 4, size) || !file_.Read(at + 4, 4, type)) return false;
      if (size == 1) {
        if (!file_.Read(at + 8, 8, size)) return false;
        header = 16;
      } else if (size == 0) {
        size = end - at;
      }
      if (size < header || at + size > end) return false;
      const std::uint64_t data = at + header, dataEnd = at + size;
      if (type == Tag("moov") || type == Tag("trak") || type == Tag("mdia")) {
        if (!Walk(data, dataEnd)) return false;
      } else if (type == Tag("mvhd") || type == Tag("tkhd") || type == Tag("mdhd")) {
        if (!ClearHeader(data, dataEnd)) return false;
      }
      at = dataEnd;
    }
    return true;
  }
  int Cleared() const { return cleared_; }

 private:
  // Version 0 headers hold two 32-bit times after version and flags,
  // version 1 headers two 64-bit times.
  bool ClearHeader(std::uint64_t data, std::uint64_t end) {
    std::uint64_t version = 0;
    if (!file_.Read(data, 1, version)) return false;
    const int width = version == 1 ? 8 : 4;
    if (data + 4 + 2 * width > end) return false;
    if (!file_.Zero(data + 4, 2 * width)) return false;
    ++cleared_;
    return true;
  }

  AtomFile& file_;
  int cleared_ = 0;
};

}  // namespace

int ClearQuickTimeTimes(const std::string& path, std::string& error) {
  AtomFile file(path);
  if (!file.Open()) {
    error = "cannot open " + path;
    return -1;
  }
  TimeClearer clearer(file);
  if (!clearer.Walk(0, file.Size()) || !file.Flush()) {
    error = path + ": malformed QuickTime atoms";
    return -1;
  }
  return clearer.Cleared();
}

}  // namespace vireo::synth
