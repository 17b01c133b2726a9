#include "quorlin/model/map_writer.h"

#include <cstdio>
#include <utility>

namespace quorlin {

namespace {

void Put16(std::uint8_t* at, std::uint16_t v) {
  at[0] = static_cast<std::uint8_t>(v);
  at[1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::uint8_t* at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

std::string DefaultMapName(std::time_t now) {
  char name[64];
  std::snprintf(name, sizeof name, "map_%llx.bmp", static_cast<unsigned long long>(now));
  return name;
}

bool MapWriter::OpenMap(const std::string& path, std::uint32_t perimeter, std::string* error) {
  CloseMap();
  rows_ = pending_ = 0;
  perimeter_ = perimeter;
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
  if (!file_.Open(path) || !file_.Write(header, sizeof header)) {
    if (error) *error = file_.Error();
    file_.Discard();
    return false;
  }
  open_ = true;
  return true;
}

bool MapWriter::Append(const std::uint8_t* row, std::size_t bytes) {
  if (!open_ || file_.Failed()) return false;
  // After a rest the map is in place: go on from a copy of it.
  if (!file_.IsOpen() && !file_.OpenToAppend()) return false;
  if (!file_.Write(row, bytes)) {
    rows_ -= pending_;
    pending_ = 0;
    return false;
  }
  ++rows_;
  ++pending_;
  return true;
}

// Sizes beyond 4 GiB saturate.
bool MapWriter::WriteSizes() {
  if (!open_ || file_.Failed()) return false;
  if (!file_.IsOpen()) return true;  // nothing new since the last rest
  const std::uint64_t image = std::uint64_t{MapRowBytes(perimeter_)} * rows_;
  const auto field = [](std::uint64_t v) { return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v); };
  std::uint8_t sizes[4];
  bool ok = true;
  for (const auto& [offset, value] : {std::pair<std::uint64_t, std::uint64_t>{2, kMapHeaderBytes + image},
                                      {18, 2 * std::uint64_t{perimeter_} + 8},
                                      {22, rows_},
                                      {34, image}}) {
    Put32(sizes, field(value));
    ok = ok && file_.WriteAt(offset, sizes, sizeof sizes);
  }
  ok = ok && file_.Commit();
  if (!ok) rows_ -= pending_;
  pending_ = 0;
  return ok;
}

bool MapWriter::CloseMap() {
  if (!open_) return true;
  const bool ok = WriteSizes();
  open_ = false;
  return ok;
}

}  // namespace quorlin
