// A small writer of enhanced metafiles (EMF) and the two grid drawings.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace quorlin {

class GRID_RINGS;

// Records a drawing in device units and writes it as an EMF file whose
// header bounds are those of the drawing. The reference device is a
// 1920 x 1080 display at 96 dots per inch.
class EmfWriter {
 public:
  EmfWriter();

  void MoveTo(std::int32_t x, std::int32_t y);
  void LineTo(std::int32_t x, std::int32_t y);
  // Solid pen `width` units wide; colour 0x00BBGGRR. Returns its handle.
  std::uint32_t CreatePen(std::uint32_t width, std::uint32_t colour);
  std::uint32_t CreateSolidBrush(std::uint32_t colour);
  void SelectObject(std::uint32_t handle);
  void DeleteObject(std::uint32_t handle);
  // A closed polygon, outlined with the current pen, filled with the current brush.
  void Polygon(const std::int32_t* xy, std::uint32_t points);

  // The whole file: header, records, end of file.
  std::vector<std::uint8_t> Finish() const;
  // Writes the file whole or not at all; the reason in `error` on failure.
  bool Save(const std::string& path, std::string* error = nullptr) const;

  static constexpr std::uint32_t kStockWhiteBrush = 0x80000000u;
  static constexpr std::uint32_t kStockBlackPen = 0x80000007u;

 private:
  void Record(std::uint32_t type, std::initializer_list<std::int32_t> words);
  void Include(std::int32_t x, std::int32_t y);
  std::uint32_t Allocate();

  std::vector<std::uint8_t> records_;
  std::uint32_t count_ = 0;
  std::vector<bool> used_{true};          // object table; entry 0 is reserved
  std::vector<std::uint32_t> penWidths_;  // per table entry, 0 for brushes
  std::uint32_t penHalfWidth_ = 0;        // widens the bounds of what the current pen draws
  bool empty_ = true;
  std::int32_t left_ = 0, top_ = 0, right_ = -1, bottom_ = -1;
};

// "metaA_%x.emf" / "metaB_%x.emf" with the time in seconds since 1970.
std::string MetafileName(char which, std::time_t now);

// metaA: every segment of the grid's line drawing, with the default pen.
EmfWriter GridLines(const GRID_RINGS& model);
// metaB: the cells between neighbouring rings and angles (not the cells
// across the seam between the last and the first angle), outlined in blue
// 3 units wide and filled with the colour of the centre pixel of the
// template of the cell's first node.
EmfWriter GridCells(const GRID_RINGS& model);
// Writes both files into the current directory; false with the first
// failure's reason if either failed.
bool WriteGridMetafiles(const GRID_RINGS& model, std::time_t now, std::string* error = nullptr);

}  // namespace quorlin
