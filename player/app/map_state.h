#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vireo {

// One row's per-frame measures record (the last 24 bytes of picture data of the row).
struct MapRecord {
  std::int32_t frame;
  float velocity, drift, roll, imageDifference, deformation;
};

// The loaded MDR map, owned by the main window; empty when no map is loaded.
class MapState {
 public:
  bool Loaded() const { return !pixels_.empty() && rows_ > 0; }  // map blocks exist
  bool Egomotion() const { return egomotion_; }                  // measures records valid
  int Width() const { return width_; }                           // picture pixels per row
  int Rows() const { return rows_; }
  int Stride() const { return stride_; }  // bytes per stored row
  int BitCount() const { return bitCount_; }
  const std::vector<std::uint8_t>& Header() const { return header_; }  // BITMAPINFO block
  const std::uint8_t* Row(int row) const;  // stored row `row` (bottom-up order as stored), BGR bytes
  MapRecord Record(int row) const;         // the 24-byte measures record of that row
  // The first stored row whose frame index is at least `frame`, the last row when none;
  // -1 without a map carrying valid measures.
  int RowForFrame(std::int64_t frame) const;
  // Whether the rows' frame indices start at 0 or more and never decrease,
  // which makes the measures records valid (24-bit maps only).
  bool FramesNeverDecrease() const;

  void Clear();
  // Takes the blocks read from a checked map file.
  void Assign(std::vector<std::uint8_t> header, std::vector<std::uint8_t> pixels, int biWidth, int rows, int stride,
              int bitCount, bool egomotion);
  void SetEgomotion(bool egomotion);

 private:
  std::vector<std::uint8_t> header_;
  std::vector<std::uint8_t> pixels_;
  int biWidth_ = 0;
  int width_ = 0;
  int rows_ = 0;
  int stride_ = 0;
  int bitCount_ = 0;
  bool egomotion_ = false;
};

}  // namespace vireo
