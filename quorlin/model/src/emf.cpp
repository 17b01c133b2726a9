#include "quorlin/model/emf.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "filterhost/atomic_file.h"
#include "quorlin/model/rings.h"

namespace quorlin {

namespace {

enum : std::uint32_t {
  kEmrHeader = 1,
  kEmrPolygon = 3,
  kEmrEof = 14,
  kEmrMoveToEx = 27,
  kEmrSelectObject = 37,
  kEmrCreatePen = 38,
  kEmrCreateBrushIndirect = 39,
  kEmrDeleteObject = 40,
  kEmrLineTo = 54,
  kEmrPolygon16 = 86,
};

constexpr std::uint32_t kHeaderBytes = 108;
constexpr std::uint32_t kEmfSignature = 0x464D4520;  // " EMF"
// Reference device: 1920 x 1080 pixels at 96 dots per inch.
constexpr std::int32_t kDeviceWidth = 1920, kDeviceHeight = 1080;
constexpr std::int32_t kDeviceMicronsX = 508000, kDeviceMicronsY = 285750;

void PutWord(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutHalf(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

// Device units to hundredths of a millimetre on the reference device.
std::int32_t ToFrame(std::int64_t device, std::int32_t microns, std::int32_t pixels) {
  return static_cast<std::int32_t>(device * microns / (10LL * pixels));
}

}  // namespace

EmfWriter::EmfWriter() = default;

void EmfWriter::Record(std::uint32_t type, std::initializer_list<std::int32_t> words) {
  PutWord(records_, type);
  PutWord(records_, static_cast<std::uint32_t>(8 + 4 * words.size()));
  for (std::int32_t w : words) PutWord(records_, static_cast<std::uint32_t>(w));
  ++count_;
}

void EmfWriter::Include(std::int32_t x, std::int32_t y) {
  const std::int32_t h = static_cast<std::int32_t>(penHalfWidth_);
  if (empty_) {
    left_ = x - h;
    right_ = x + h;
    top_ = y - h;
    bottom_ = y + h;
    empty_ = false;
    return;
  }
  left_ = std::min(left_, x - h);
  right_ = std::max(right_, x + h);
  top_ = std::min(top_, y - h);
  bottom_ = std::max(bottom_, y + h);
}

void EmfWriter::MoveTo(std::int32_t x, std::int32_t y) {
  Include(x, y);
  Record(kEmrMoveToEx, {x, y});
}

void EmfWriter::LineTo(std::int32_t x, std::int32_t y) {
  Include(x, y);
  Record(kEmrLineTo, {x, y});
}

std::uint32_t EmfWriter::Allocate() {
  std::uint32_t handle = 1;
  while (handle < used_.size() && used_[handle]) ++handle;
  if (handle >= used_.size()) used_.resize(handle + 1, false);
  used_[handle] = true;
  return handle;
}

std::uint32_t EmfWriter::CreatePen(std::uint32_t width, std::uint32_t colour) {
  const std::uint32_t handle = Allocate();
  penWidths_.resize(used_.size(), 0);
  penWidths_[handle] = width;
  // LOGPEN: style PS_SOLID, width as a point (y unused), colour.
  Record(kEmrCreatePen, {static_cast<std::int32_t>(handle), 0, static_cast<std::int32_t>(width), 0,
                         static_cast<std::int32_t>(colour)});
  return handle;
}

std::uint32_t EmfWriter::CreateSolidBrush(std::uint32_t colour) {
  const std::uint32_t handle = Allocate();
  penWidths_.resize(used_.size(), 0);
  penWidths_[handle] = 0;
  // LOGBRUSH: style BS_SOLID, colour, no hatch.
  Record(kEmrCreateBrushIndirect, {static_cast<std::int32_t>(handle), 0, static_cast<std::int32_t>(colour), 0});
  return handle;
}

void EmfWriter::SelectObject(std::uint32_t handle) {
  if (handle < penWidths_.size() && penWidths_[handle] > 0) penHalfWidth_ = penWidths_[handle] / 2;
  if (handle == kStockBlackPen) penHalfWidth_ = 0;
  Record(kEmrSelectObject, {static_cast<std::int32_t>(handle)});
}

void EmfWriter::DeleteObject(std::uint32_t handle) {
  if (handle < used_.size()) used_[handle] = false;
  Record(kEmrDeleteObject, {static_cast<std::int32_t>(handle)});
}

void EmfWriter::Polygon(const std::int32_t* xy, std::uint32_t points) {
  if (points == 0) return;
  std::int32_t l = xy[0], t = xy[1], r = xy[0], b = xy[1];
  bool small = true;
  for (std::uint32_t i = 0; i < points; ++i) {
    const std::int32_t x = xy[2 * i], y = xy[2 * i + 1];
    l = std::min(l, x);
    r = std::max(r, x);
    t = std::min(t, y);
    b = std::max(b, y);
    small = small && x >= -32768 && x <= 32767 && y >= -32768 && y <= 32767;
    Include(x, y);
  }
  PutWord(records_, small ? kEmrPolygon16 : kEmrPolygon);
  PutWord(records_, 28 + points * (small ? 4 : 8));
  for (std::int32_t v : {l, t, r, b}) PutWord(records_, static_cast<std::uint32_t>(v));
  PutWord(records_, points);
  for (std::uint32_t i = 0; i < 2 * points; ++i) {
    if (small)
      PutHalf(records_, static_cast<std::uint16_t>(xy[i]));
    else
      PutWord(records_, static_cast<std::uint32_t>(xy[i]));
  }
  ++count_;
}

std::vector<std::uint8_t> EmfWriter::Finish() const {
  constexpr std::uint32_t kEofBytes = 20;
  const auto total = static_cast<std::uint32_t>(kHeaderBytes + records_.size() + kEofBytes);
  std::vector<std::uint8_t> out;
  out.reserve(total);
  PutWord(out, kEmrHeader);
  PutWord(out, kHeaderBytes);
  for (std::int32_t v : {left_, top_, right_, bottom_}) PutWord(out, static_cast<std::uint32_t>(v));
  const std::int32_t frame[4] = {ToFrame(left_, kDeviceMicronsX, kDeviceWidth),
                                 ToFrame(top_, kDeviceMicronsY, kDeviceHeight),
                                 ToFrame(std::int64_t{right_} + 1, kDeviceMicronsX, kDeviceWidth) - (empty_ ? 0 : 1),
                                 ToFrame(std::int64_t{bottom_} + 1, kDeviceMicronsY, kDeviceHeight) - (empty_ ? 0 : 1)};
  for (std::int32_t v : frame) PutWord(out, static_cast<std::uint32_t>(v));
  PutWord(out, kEmfSignature);
  PutWord(out, 0x10000);  // version
  PutWord(out, total);
  PutWord(out, count_ + 2);  // with header and end of file
  PutHalf(out, static_cast<std::uint16_t>(std::max<std::size_t>(used_.size(), 1)));
  PutHalf(out, 0);
  PutWord(out, 0);  // no description
  PutWord(out, 0);
  PutWord(out, 0);  // no palette
  PutWord(out, kDeviceWidth);
  PutWord(out, kDeviceHeight);
  PutWord(out, kDeviceMicronsX / 1000);
  PutWord(out, (kDeviceMicronsY + 500) / 1000);
  PutWord(out, 0);  // no pixel format
  PutWord(out, 0);
  PutWord(out, 0);  // no OpenGL records
  PutWord(out, kDeviceMicronsX);
  PutWord(out, kDeviceMicronsY);
  out.insert(out.end(), records_.begin(), records_.end());
  PutWord(out, kEmrEof);
  PutWord(out, kEofBytes);
  PutWord(out, 0);   // no palette entries
  PutWord(out, 16);  // offset of the (empty) palette
  PutWord(out, kEofBytes);
  return out;
}

bool EmfWriter::Save(const std::string& path, std::string* error) const {
  const std::vector<std::uint8_t> bytes = Finish();
  return fh::WriteFileAtomically(path, bytes.data(), bytes.size(), error);
}

std::string MetafileName(char which, std::time_t now) {
  char name[64];
  std::snprintf(name, sizeof name, "meta%c_%llx.emf", which, static_cast<unsigned long long>(now));
  return name;
}

EmfWriter GridLines(const GRID_RINGS& model) {
  EmfWriter emf;
  model.Draw(
      [&emf](std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2, std::int32_t) {
        emf.MoveTo(x1, y1);
        emf.LineTo(x2, y2);
      },
      {});
  return emf;
}

EmfWriter GridCells(const GRID_RINGS& model) {
  EmfWriter emf;
  const std::uint32_t rings = model.Rings(), perimeter = model.Perimeter();
  if (rings < 2 || perimeter < 2) return emf;
  const std::uint32_t pen = emf.CreatePen(3, 0x00FF0000u);  // pure blue
  emf.SelectObject(pen);
  const unsigned cur = model.Cur();
  auto put = [&](std::int32_t* at, std::uint32_t j, std::uint32_t k) {
    at[0] = TruncToInt(model.Node(j, k).x[cur]);
    at[1] = TruncToInt(model.Node(j, k).y[cur]);
  };
  for (std::uint32_t j = 0; j + 1 < perimeter; ++j)
    for (std::uint32_t k = 0; k + 1 < rings; ++k) {
      const std::uint8_t* centre = model.Node(j, k).templ + 12;  // blue, green, red
      const std::uint32_t colour = centre[2] | (std::uint32_t{centre[1]} << 8) | (std::uint32_t{centre[0]} << 16);
      const std::uint32_t brush = emf.CreateSolidBrush(colour);
      emf.SelectObject(brush);
      std::int32_t quad[8];
      put(quad, j, k);
      put(quad + 2, j + 1, k);
      put(quad + 4, j + 1, k + 1);
      put(quad + 6, j, k + 1);
      emf.Polygon(quad, 4);
      emf.SelectObject(EmfWriter::kStockWhiteBrush);
      emf.DeleteObject(brush);
    }
  emf.SelectObject(EmfWriter::kStockBlackPen);
  emf.DeleteObject(pen);
  return emf;
}

bool WriteGridMetafiles(const GRID_RINGS& model, std::time_t now, std::string* error) {
  const bool a = GridLines(model).Save(MetafileName('A', now), error);
  const bool b = GridCells(model).Save(MetafileName('B', now), a ? error : nullptr);
  return a && b;
}

}  // namespace quorlin
