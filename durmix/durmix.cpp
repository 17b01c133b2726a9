#include "durmix/durmix.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "durmix/modes.h"
#include "filterhost/debug.h"

using namespace fh;

namespace durmix {
namespace {

FH_DEBUG_CATEGORY(DurmixDebug, "durmix", "frame multiplicator")
#define GST_CAT_DEFAULT DurmixDebug()

bool IsAcceptedFrame(const CMediaType* mt) {
  const VIDEOINFOHEADER* vih = mt->VideoInfo();
  if (!(*mt->Type() == MEDIATYPE_Video) || !vih) return false;
  const WORD bits = vih->bmiHeader.biBitCount;
  return (*mt->Subtype() == MEDIASUBTYPE_RGB24 && bits == 24) || (*mt->Subtype() == MEDIASUBTYPE_RGB32 && bits == 32);
}

// S_OK and S_FALSE of the Is... sample queries as a flag; false for others.
bool FlagOf(HRESULT hr, BOOL* on) {
  if (hr != S_OK && hr != S_FALSE) return false;
  *on = hr == S_OK ? TRUE : FALSE;
  return true;
}

// One bit per pair of counts in 1..kMaxColumns x 1..kMaxRows.
std::uint32_t OfferBit(std::int32_t columns, std::int32_t rows) { return 1u << ((columns - 1) * kMaxRows + rows - 1); }

constexpr long long kMaxBytes = std::numeric_limits<LONG>::max();

}  // namespace

CDurmix::CDurmix(IUnknown* outer) : CTransformFilter("Vireo Frame Multiplicator", outer, CLSID_Durmix) {}

HRESULT CDurmix::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_DurmixInterface) return GetInterface(static_cast<DurmixInterface*>(this), ppv);
  if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
  return CTransformFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CDurmix::GetMode(std::int32_t* modeId, std::int32_t* columns, std::int32_t* rows) {
  if (!modeId || !columns || !rows) return E_POINTER;
  std::lock_guard<std::mutex> guard(modeLock_);
  *modeId = modeId_;
  *columns = columns_;
  *rows = rows_;
  return S_OK;
}

// The new counts take effect at the next output connection, which the
// reconnection asks for; frames keep the last connection's tiles until then.
HRESULT CDurmix::SetMode(std::int32_t modeId, std::int32_t columns, std::int32_t rows) {
  std::lock_guard<std::mutex> guard(modeLock_);
  modeId_ = modeId;
  columns_ = std::clamp(columns, 1, kMaxColumns);
  rows_ = std::clamp(rows, 1, kMaxRows);
  GST_INFO("mode %d: %d x %d frames from the next connection", modeId_, columns_, rows_);
  ReconnectPin(GetPin(1), nullptr);
  return S_OK;
}

HRESULT CDurmix::GetPages(CAUUID* pages) { return GetSinglePage(pages, CLSID_DurmixProperties); }

CDurmix::Counts CDurmix::OfferCounts() {
  std::lock_guard<std::mutex> guard(modeLock_);
  offered_ |= OfferBit(columns_, rows_);
  return {columns_, rows_};
}

bool CDurmix::MayConnect(Counts counts) {
  std::lock_guard<std::mutex> guard(modeLock_);
  if (counts.columns == columns_ && counts.rows == rows_) return true;
  return counts.columns >= 1 && counts.columns <= kMaxColumns && counts.rows >= 1 && counts.rows <= kMaxRows &&
         (offered_ & OfferBit(counts.columns, counts.rows)) != 0;
}

bool CDurmix::Measure(const BITMAPINFOHEADER& bih, Counts counts, Geometry* g) {
  if (bih.biWidth <= 0 || bih.biHeight == 0 || (bih.biBitCount != 24 && bih.biBitCount != 32)) return false;
  const long long width = bih.biWidth;
  const long long tile = width * (bih.biBitCount / 8);
  const long long inStride = DibStride(width, bih.biBitCount);
  const long long outStride = DibStride(width * counts.columns, bih.biBitCount);
  const long long height = std::llabs(static_cast<long long>(bih.biHeight));
  if (outStride > kMaxBytes / height / counts.rows) return false;
  g->columns = counts.columns;
  g->rows = counts.rows;
  g->tileRowBytes = static_cast<long>(tile);
  g->inStride = static_cast<long>(inStride);
  g->outStride = static_cast<long>(outStride);
  g->frameHeight = static_cast<long>(height);
  return true;
}

void CDurmix::ScaleToMosaic(AM_MEDIA_TYPE* type, Counts counts) {
  if (!(type->formattype == FORMAT_VideoInfo) || !type->pbFormat || type->cbFormat < sizeof(VIDEOINFOHEADER)) return;
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
  vih->bmiHeader.biWidth *= counts.columns;
  vih->bmiHeader.biHeight *= counts.rows;
  for (RECT* r : {&vih->rcSource, &vih->rcTarget}) {
    r->left *= counts.columns;
    r->right *= counts.columns;
    r->top *= counts.rows;
    r->bottom *= counts.rows;
  }
}

HRESULT CDurmix::CheckInputType(const CMediaType* in) {
  if (!in) return E_POINTER;
  if (!(*in->FormatType() == FORMAT_VideoInfo)) return E_INVALIDARG;
  return IsAcceptedFrame(in) ? S_OK : E_FAIL;
}

HRESULT CDurmix::CheckTransform(const CMediaType* in, const CMediaType* out) {
  if (!in || !out) return E_POINTER;
  if (!IsAcceptedFrame(in)) return E_FAIL;
  const VIDEOINFOHEADER* vi = in->VideoInfo();
  const VIDEOINFOHEADER* vo = out->VideoInfo();
  if (!vo) return E_FAIL;
  const BITMAPINFOHEADER& bi = vi->bmiHeader;
  const BITMAPINFOHEADER& bo = vo->bmiHeader;
  if (bi.biWidth <= 0 || bi.biHeight == 0 || bo.biWidth % bi.biWidth != 0 || bo.biHeight % bi.biHeight != 0 ||
      bo.biBitCount != bi.biBitCount)
    return E_FAIL;
  const long long height = std::llabs(static_cast<long long>(bo.biHeight / bi.biHeight));
  if (height > kMaxRows || bo.biWidth / bi.biWidth > kMaxColumns) return E_FAIL;
  const Counts counts{static_cast<std::int32_t>(bo.biWidth / bi.biWidth), static_cast<std::int32_t>(height)};
  if (!MayConnect(counts)) return E_FAIL;
  Geometry g;
  if (!Measure(vi->bmiHeader, counts, &g)) return E_FAIL;
  g.flip = bo.biHeight / bi.biHeight < 0;
  checked_ = g;
  GST_DEBUG("mosaic of %d x %d frames of %ld x %ld%s", g.columns, g.rows, static_cast<long>(vi->bmiHeader.biWidth),
            static_cast<long>(g.frameHeight), g.flip ? ", rows reversed" : "");
  return S_OK;
}

HRESULT CDurmix::GetMediaType(int position, CMediaType* type) {
  if (!m_pInput || !m_pInput->IsConnected()) return E_UNEXPECTED;
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  if (!type) return E_POINTER;
  const Counts counts = OfferCounts();
  *type = m_pInput->CurrentMediaType();
  ScaleToMosaic(type, counts);
  type->lSampleSize = m_pInput->CurrentMediaType().lSampleSize * static_cast<ULONG>(counts.columns * counts.rows);
  return S_OK;
}

// One output buffer of a whole mosaic; the mosaic itself is blanked here and
// only here. Strides and counts are those CheckTransform accepted for this
// connection, so tile placement always stays inside this buffer.
HRESULT CDurmix::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  if (!m_pInput || !m_pInput->IsConnected()) return E_UNEXPECTED;
  if (!allocator || !request) return E_POINTER;
  const Geometry g = checked_;
  {
    std::lock_guard<std::mutex> guard(modeLock_);
    offered_ = 0;
  }
  const long long frameBytes =
      std::max<long long>(m_pInput->CurrentMediaType().lSampleSize, static_cast<long long>(g.inStride) * g.frameHeight);
  const long long bytes = frameBytes * g.columns * g.rows;
  if (bytes > kMaxBytes) return E_FAIL;
  request->cBuffers = 1;
  request->cbBuffer = static_cast<long>(bytes);

  mosaic_.reset();
  mosaicBytes_ = 0;
  mosaic_.reset(new (std::nothrow) BYTE[static_cast<std::size_t>(bytes)]());
  if (mosaic_) mosaicBytes_ = static_cast<std::size_t>(bytes);
  geometry_ = g;

  ALLOCATOR_PROPERTIES actual{};
  HRESULT hr = allocator->SetProperties(request, &actual);
  if (FAILED(hr)) {
    GST_WARNING("the allocator refused %lld bytes (hr=0x%08X)", bytes, static_cast<unsigned>(hr));
    return hr;
  }
  if (actual.cBuffers < 1 || actual.cbBuffer < request->cbBuffer) return E_FAIL;
  return S_OK;
}

HRESULT CDurmix::TakeSampleType(AM_MEDIA_TYPE* type, IMediaSample* out) {
  if (!(type->formattype == FORMAT_VideoInfo) || !type->pbFormat || type->cbFormat < sizeof(VIDEOINFOHEADER))
    return E_UNEXPECTED;
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
  Geometry g = geometry_;
  if (!Measure(vih->bmiHeader, {g.columns, g.rows}, &g)) return E_UNEXPECTED;
  if (mosaic_ && g.MosaicBytes() > mosaicBytes_) return E_UNEXPECTED;
  geometry_ = g;
  ScaleToMosaic(type, {g.columns, g.rows});
  out->SetMediaType(type);
  return S_OK;
}

HRESULT CDurmix::Transform(IMediaSample* in, IMediaSample* out) {
  ++frames_;
  if (!in || !out) return E_POINTER;
  BYTE* src = nullptr;
  BYTE* dst = nullptr;
  if (FAILED(in->GetPointer(&src)) || FAILED(out->GetPointer(&dst))) return E_POINTER;

  // One consistent pair of counts for this frame: the last connection's.
  const std::int32_t columns = geometry_.columns;
  const std::int32_t rows = geometry_.rows;
  const std::uint64_t slot = frames_ % static_cast<std::uint64_t>(columns * rows);
  const long tileRow = static_cast<long>(slot / columns);
  const long inRow = static_cast<long>(slot % columns);
  const long tileColumn = tileRow % 2 == 0 ? columns - 1 - inRow : inRow;

  REFERENCE_TIME start = 0, stop = 0;
  HRESULT hr = in->GetTime(&start, &stop);
  if (hr == S_OK)
    out->SetTime(&start, &stop);
  else if (SUCCEEDED(hr))
    out->SetTime(&start, nullptr);  // a start without a stop
  LONGLONG mediaStart = 0, mediaStop = 0;
  if (in->GetMediaTime(&mediaStart, &mediaStop) == S_OK) out->SetMediaTime(&mediaStart, &mediaStop);
  BOOL flag = FALSE;
  if (!FlagOf(in->IsSyncPoint(), &flag)) return E_UNEXPECTED;
  out->SetSyncPoint(flag);

  AM_MEDIA_TYPE* type = nullptr;
  if (in->GetMediaType(&type) == S_OK && type) {
    hr = TakeSampleType(type, out);
    DeleteMediaType(type);
    if (FAILED(hr)) return hr;
  }

  const Geometry& g = geometry_;
  if (mosaic_) {
    const long long inNeeded = static_cast<long long>(g.frameHeight - 1) * g.inStride + g.tileRowBytes;
    if (in->GetActualDataLength() < inNeeded || static_cast<std::size_t>(out->GetSize()) < g.MosaicBytes())
      return E_FAIL;
    BYTE* tile = mosaic_.get() + static_cast<std::size_t>(tileRow) * g.frameHeight * g.outStride +
                 static_cast<std::size_t>(tileColumn) * g.tileRowBytes;
    for (long i = 0; i < g.frameHeight; ++i)
      std::memcpy(tile + static_cast<std::size_t>(i) * g.outStride, src + static_cast<std::size_t>(i) * g.inStride,
                  static_cast<std::size_t>(g.tileRowBytes));
    if (!g.flip) {
      std::memcpy(dst, mosaic_.get(), g.MosaicBytes());
    } else {
      const long total = g.frameHeight * g.rows;
      for (long j = 0; j < total; ++j)
        std::memcpy(dst + static_cast<std::size_t>(j) * g.outStride,
                    mosaic_.get() + static_cast<std::size_t>(total - 1 - j) * g.outStride,
                    static_cast<std::size_t>(g.outStride));
    }
  }

  if (!FlagOf(in->IsPreroll(), &flag)) return E_UNEXPECTED;
  out->SetPreroll(flag);
  if (!FlagOf(in->IsDiscontinuity(), &flag)) return E_UNEXPECTED;
  out->SetDiscontinuity(flag);
  out->SetActualDataLength(static_cast<long>(g.MosaicBytes()));
  return S_OK;
}

}  // namespace durmix
