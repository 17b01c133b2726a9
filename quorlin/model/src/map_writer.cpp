#include "quorlin/model/map_writer.h"

#include <cerrno>
#include <cstring>

namespace quorlin {

namespace {

void Put16(std::uint8_t* at, std::uint16_t v) {
  at[0] = static_cast<std::uint8_t>(v);
  at[1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::uint8_t* at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Writes a 32-bit field at `offset`; sizes beyond 4 GiB saturate.
void PatchField(std::FILE* file, long offset, std::uint64_t value) {
  std::uint8_t bytes[4];
  Put32(bytes, value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value));
  if (std::fseek(file, offset, SEEK_SET) == 0) std::fwrite(bytes, 1, 4, file);
}

}  // namespace

std::string DefaultMapName(std::time_t now) {
  char name[64];
  std::snprintf(name, sizeof name, "map_%llx.bmp", static_cast<unsigned long long>(now));
  return name;
}

bool MapWriter::OpenMap(const std::string& path, std::uint32_t perimeter, std::string* error) {
  CloseMap();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  std::uint8_t header[kMapHeaderBytes] = {};
  header[0] = 'B';
  header[1] = 'M';
  Put32(header + 10, kMapHeaderBytes);
  Put32(header + 14, 40);
  Put32(header + 18, 2 * perimeter + 8);
  Put16(header + 26, 1);
  Put16(header + 28, 24);
  Put32(header + 38, 3780);
  Put32(header + 42, 3780);
  if (std::fwrite(header, 1, sizeof header, file) != sizeof header) {
    if (error) *error = std::strerror(errno);
    std::fclose(file);
    return false;
  }
  // On disk at once, so that a map left unfinished can still be read.
  std::fflush(file);
  file_ = file;
  perimeter_ = perimeter;
  rows_ = 0;
  return true;
}

void MapWriter::Append(const std::uint8_t* row, std::size_t bytes) {
  if (!file_) return;
  std::fwrite(row, 1, bytes, file_);
  ++rows_;
}

void MapWriter::WriteSizes() {
  if (!file_) return;
  const std::uint64_t image = std::uint64_t{MapRowBytes(perimeter_)} * rows_;
  PatchField(file_, 2, kMapHeaderBytes + image);
  PatchField(file_, 18, 2 * std::uint64_t{perimeter_} + 8);
  PatchField(file_, 22, rows_);
  PatchField(file_, 34, image);
  std::fseek(file_, 0, SEEK_END);
  std::fflush(file_);
}

void MapWriter::CloseMap() {
  if (!file_) return;
  WriteSizes();
  std::fclose(file_);
  file_ = nullptr;
}

}  // namespace quorlin
