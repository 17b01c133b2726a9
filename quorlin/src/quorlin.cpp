#include "quorlin.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "filterhost/debug.h"
#include "quorlin/model/emf.h"
#include "quorlin/model/params.h"

using namespace fh;

namespace quorlin {

namespace {
FH_DEBUG_CATEGORY(QuorlinDebug, "quorlin", "MDR tracking filter")
}  // namespace
#define GST_CAT_DEFAULT QuorlinDebug()

bool AcceptedLayout(const CMediaType* type, FrameLayout* layout) {
  if (!type || !(*type->Type() == MEDIATYPE_Video)) return false;
  const VIDEOINFOHEADER* vih = type->VideoInfo();
  if (!vih) return false;
  const BITMAPINFOHEADER& bmi = vih->bmiHeader;
  const bool rgb24 = *type->Subtype() == MEDIASUBTYPE_RGB24 && bmi.biBitCount == 24;
  const bool rgb32 = *type->Subtype() == MEDIASUBTYPE_RGB32 && bmi.biBitCount == 32;
  if (!rgb24 && !rgb32) return false;
  // Sizes whose frame would not fit a sample are refused rather than wrapped.
  const std::int64_t width = bmi.biWidth;
  const std::int64_t height = std::llabs(std::int64_t{bmi.biHeight});
  if (width <= 0 || height == 0 || width > 0x10000 || height > 0x10000) return false;
  const std::int64_t stride = DibStride(width, bmi.biBitCount);
  if (stride * height > 0x7FFFFFFF) return false;
  if (layout)
    *layout = {static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), static_cast<std::int32_t>(stride),
               bmi.biBitCount};
  return true;
}

CQuorlin::CQuorlin(IUnknown* outer)
    : CTransInPlaceFilter("Vireo Deformable Rings", outer, CLSID_Quorlin),
      geometry_(DefaultGeometry()),
      phases_(DefaultPhases()) {}

CQuorlin::~CQuorlin() {
  std::lock_guard<std::mutex> guard(lock_);
  CloseMap();
}

HRESULT CQuorlin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IQuorlinInterface) return GetInterface(static_cast<IQuorlinInterface*>(this), ppv);
  if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
  return CTransInPlaceFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CQuorlin::CheckInputType(const CMediaType* in) {
  return AcceptedLayout(in, nullptr) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CQuorlin::Transform(IMediaSample* sample) {
  drewLastFrame_ = false;
  FrameLayout layout;
  if (!sample || !InputPin() || !AcceptedLayout(&InputPin()->CurrentMediaType(), &layout)) return E_FAIL;
  BYTE* data = nullptr;
  if (FAILED(sample->GetPointer(&data)) || !data || sample->GetSize() < layout.ImageBytes()) return E_FAIL;
  const FrameView frame{data, layout.width, layout.height, layout.stride, layout.BytesPerPixel()};

  std::lock_guard<std::mutex> guard(lock_);
  if (initialise_ && !Initialise(frame)) return E_FAIL;
  model_->Fit(frame);
  rows_ += model_->UpdateMap(map_, frame);
  ReportMapFailure();

  FramePainter painter(data, layout, look_);
  drewLastFrame_ = look_.Mode == kLookPoints || look_.Mode == kLookCrosses || look_.Mode == kLookLines;
  switch (look_.Mode) {
    case kLookPoints:
      model_->Draw(DrawLineFn{}, [&](std::int32_t x, std::int32_t y, std::int32_t c) { painter.Point(x, y, c); });
      break;
    case kLookCrosses:
      model_->Draw(DrawLineFn{}, [&](std::int32_t x, std::int32_t y, std::int32_t c) { painter.Cross(x, y, c); });
      break;
    case kLookLines:
      model_->Draw([&](std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                       std::int32_t c) { painter.Line(x1, y1, x2, y2, c); },
                   DrawPointFn{});
      break;
    default: break;
  }
  return S_OK;
}

bool CQuorlin::Initialise(const FrameView& frame) {
  CloseMap();
  rows_ = 0;
  model_ = std::make_unique<GRID_RINGS>();
  const double centre[2] = {geometry_.Xo, geometry_.Yo};
  // The parameters were checked when they were set; this fails only when
  // the grid cannot be allocated.
  if (!model_->Create(centre, static_cast<std::uint32_t>(geometry_.Rings),
                      static_cast<std::uint32_t>(geometry_.Perimeter), geometry_.Rmin, geometry_.Ratio)) {
    model_.reset();
    return false;
  }
  GST_INFO("model of %d rings x %d nodes at (%.1f, %.1f), frames %d x %d", geometry_.Rings, geometry_.Perimeter,
           geometry_.Xo, geometry_.Yo, frame.width, frame.height);
  OpenMap();
  for (std::uint32_t i = 0; i < 4; ++i) model_->SetPhase(i, phases_[i]);
  model_->CaptureTemplates(frame);
  model_->Prepare();
  initialise_ = false;
  return true;
}

void CQuorlin::OpenMap() {
  mapPath_ = fileName_.empty() ? DefaultMapName(std::time(nullptr)) : fileName_;
  std::string reason;
  mapFailureTold_ = !map_.OpenMap(mapPath_, model_->Perimeter(), &reason);
  if (!mapFailureTold_) {
    GST_INFO("map \"%s\" opened", mapPath_.c_str());
    return;
  }
  GST_WARNING("cannot create map \"%s\": %s", mapPath_.c_str(), reason.c_str());
  PostWarning("Error creating file \"" + mapPath_ + "\": " + reason + "; frames are processed without a map");
}

// A failed write loses the map being written (an earlier file of that name
// stays as it was); the reason is told once.
void CQuorlin::ReportMapFailure() {
  if (mapFailureTold_ || map_.Error().empty()) return;
  mapFailureTold_ = true;
  GST_WARNING("writing map \"%s\" failed: %s", mapPath_.c_str(), map_.Error().c_str());
  PostWarning("Error writing file \"" + mapPath_ + "\": " + map_.Error() + "; the map is not written");
}

void CQuorlin::CloseMap() {
  const bool wasOpen = map_.IsOpen();
  const std::uint32_t rows = map_.Rows();
  if (!map_.CloseMap())
    ReportMapFailure();
  else if (wasOpen)
    GST_INFO("map \"%s\" closed with %u rows", mapPath_.c_str(), rows);
}

// The header's sizes go to disk at every end of stream and stop, so that a
// reader finds a valid bitmap whenever the stream rests; rows that follow
// after a restart are appended and counted at the next such point.
void CQuorlin::CompleteMap() {
  GST_DEBUG("map sizes written: %u rows", map_.Rows());
  map_.WriteSizes();
  ReportMapFailure();
}

HRESULT CQuorlin::EndOfStream() {
  std::lock_guard<std::mutex> guard(lock_);
  CompleteMap();
  return S_OK;
}

HRESULT CQuorlin::StopStreaming() {
  std::lock_guard<std::mutex> guard(lock_);
  CompleteMap();
  return S_OK;
}

HRESULT CQuorlin::SetLook(const GRID_LOOK* look) {
  if (!look) return E_POINTER;
  std::lock_guard<std::mutex> guard(lock_);
  look_ = *look;
  return S_OK;
}

HRESULT CQuorlin::GetLook(GRID_LOOK* look) {
  if (!look) return E_POINTER;
  std::lock_guard<std::mutex> guard(lock_);
  *look = look_;
  return S_OK;
}

// The text is the page's rendering of the parameters; nothing reads it back.
HRESULT CQuorlin::SetParams(const GRID_PHASE phases[4], const GRID_GEOMETRY* geometry, const char*) {
  if (!phases || !geometry) return E_POINTER;
  const std::span<const GRID_PHASE, 4> four(phases, 4);
  if (CheckGeometry(*geometry) ||
      CheckPhases(four, static_cast<std::uint32_t>(geometry->Rings), static_cast<std::uint32_t>(geometry->Perimeter)))
    return E_INVALIDARG;
  std::lock_guard<std::mutex> guard(lock_);
  geometry_ = *geometry;
  std::copy(four.begin(), four.end(), phases_.begin());
  initialise_ = true;
  return S_OK;
}

HRESULT CQuorlin::SetPhaseParams(const GRID_PHASE phases[4]) {
  if (!phases) return E_POINTER;
  const std::span<const GRID_PHASE, 4> four(phases, 4);
  std::lock_guard<std::mutex> guard(lock_);
  if (CheckPhases(four, static_cast<std::uint32_t>(geometry_.Rings), static_cast<std::uint32_t>(geometry_.Perimeter)))
    return E_INVALIDARG;
  std::copy(four.begin(), four.end(), phases_.begin());
  return S_OK;
}

HRESULT CQuorlin::SetFileName(const char* path) {
  if (!path) return E_POINTER;
  const std::size_t length = strnlen(path, kMapNameMax + 1);
  // A name that does not fit is refused whole: a cut name could be another file.
  if (length > kMapNameMax) {
    PostWarning("The map file name is longer than " + std::to_string(kMapNameMax) + " characters; it is refused");
    return E_INVALIDARG;
  }
  std::lock_guard<std::mutex> guard(lock_);
  fileName_.assign(path, length);
  return S_OK;
}

std::string CQuorlin::FileName() {
  std::lock_guard<std::mutex> guard(lock_);
  return fileName_;
}

HRESULT CQuorlin::GetData(char* buffer) {
  if (!buffer) return E_POINTER;
  std::lock_guard<std::mutex> guard(lock_);
  buffer[0] = '\0';
  if (!model_) return S_OK;
  model_->FormatReport(buffer, kDataBufferBytes);
  std::string error;
  if (!WriteGridMetafiles(*model_, std::time(nullptr), &error))
    PostWarning("Cannot write the grid metafiles: " + error);
  return S_OK;
}

HRESULT CQuorlin::Reserved() { return S_OK; }

HRESULT CQuorlin::GetParams(GRID_PHASE phases[4], GRID_GEOMETRY* geometry) {
  if (!phases || !geometry) return E_POINTER;
  std::lock_guard<std::mutex> guard(lock_);
  std::copy(phases_.begin(), phases_.end(), phases);
  *geometry = geometry_;
  return S_OK;
}

HRESULT CQuorlin::GetPages(CAUUID* pages) { return GetSinglePage(pages, CLSID_QuorlinProperties); }

}  // namespace quorlin
