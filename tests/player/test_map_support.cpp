#include "test_map_support.h"

#include <cstring>

namespace ptest {

namespace {

void Put32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

}  // namespace

std::string MapBytes(const std::vector<MapRow>& rows, int picture) {
  const int width = picture + 8;
  const int stride = (3 * width + 3) / 4 * 4;
  std::string bytes(54 + static_cast<std::size_t>(stride) * rows.size(), '\0');
  bytes[0] = 'B';
  bytes[1] = 'M';
  Put32(bytes, 2, static_cast<std::uint32_t>(bytes.size()));
  Put32(bytes, 10, 54);
  Put32(bytes, 14, 40);
  Put32(bytes, 18, width);
  Put32(bytes, 22, static_cast<std::uint32_t>(rows.size()));
  bytes[26] = 1;
  bytes[28] = 24;
  Put32(bytes, 34, static_cast<std::uint32_t>(stride * rows.size()));
  for (std::size_t r = 0; r < rows.size(); ++r) {
    char* row = bytes.data() + 54 + r * stride;
    for (int x = 0; x < picture; ++x) {
      row[3 * x] = static_cast<char>(r);
      row[3 * x + 1] = static_cast<char>(x);
      row[3 * x + 2] = 7;
    }
    char* record = row + 3 * picture;
    const float measures[5] = {rows[r].velocity, rows[r].drift, rows[r].roll, rows[r].imageDifference,
                               rows[r].deformation};
    std::memcpy(record, &rows[r].frame, 4);
    std::memcpy(record + 4, measures, sizeof measures);
  }
  return bytes;
}

std::string UnfinishedMapBytes(const std::vector<MapRow>& rows, int picture, int extraBytes) {
  std::string bytes = MapBytes(rows, picture);
  Put32(bytes, 2, 0);
  Put32(bytes, 22, 0);
  Put32(bytes, 34, 0);
  return bytes + std::string(static_cast<std::size_t>(extraBytes), '\x55');
}

std::vector<MapRow> Rows(int count, int first, int step, MapRow measures) {
  std::vector<MapRow> rows;
  for (int i = 0; i < count; ++i) {
    measures.frame = first + i * step;
    rows.push_back(measures);
  }
  return rows;
}

}  // namespace ptest
