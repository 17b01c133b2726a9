#include "map_state.h"

#include <cstring>

namespace vireo {

void MapState::Clear() {
  header_.clear();
  pixels_.clear();
  biWidth_ = width_ = rows_ = stride_ = bitCount_ = 0;
  egomotion_ = false;
}

void MapState::Assign(std::vector<std::uint8_t> header, std::vector<std::uint8_t> pixels, int biWidth, int rows,
                      int stride, int bitCount, bool egomotion) {
  header_ = std::move(header);
  pixels_ = std::move(pixels);
  biWidth_ = biWidth;
  rows_ = rows;
  stride_ = stride;
  bitCount_ = bitCount;
  egomotion_ = egomotion;
  width_ = egomotion ? biWidth - 8 : biWidth;
}

void MapState::SetEgomotion(bool egomotion) {
  egomotion_ = egomotion;
  width_ = egomotion ? biWidth_ - 8 : biWidth_;
}

const std::uint8_t* MapState::Row(int row) const {
  if (row < 0 || row >= rows_) return nullptr;
  return pixels_.data() + static_cast<std::size_t>(row) * stride_;
}

MapRecord MapState::Record(int row) const {
  MapRecord record{};
  const std::uint8_t* data = Row(row);
  if (!data || bitCount_ != 24 || biWidth_ < 9) return record;
  const std::uint8_t* at = data + static_cast<std::size_t>(biWidth_ - 8) * 3;
  std::memcpy(&record.frame, at, 4);
  std::memcpy(&record.velocity, at + 4, 4);
  std::memcpy(&record.drift, at + 8, 4);
  std::memcpy(&record.roll, at + 12, 4);
  std::memcpy(&record.imageDifference, at + 16, 4);
  std::memcpy(&record.deformation, at + 20, 4);
  return record;
}

int MapState::RowForFrame(std::int64_t frame) const {
  if (!Loaded() || !egomotion_) return -1;
  for (int row = 0; row < rows_; ++row)
    if (Record(row).frame >= frame) return row;
  return rows_ - 1;
}

bool MapState::FramesNeverDecrease() const {
  if (bitCount_ != 24 || rows_ == 0) return false;
  std::int32_t previous = 0;
  for (int row = 0; row < rows_; ++row) {
    const std::int32_t frame = Record(row).frame;
    if (frame < previous) return false;
    previous = frame;
  }
  return true;
}

}  // namespace vireo
