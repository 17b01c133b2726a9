#include "pellum/pellum.h"

#include <atomic>
#include <new>

#include "filterhost/debug.h"

using namespace fh;

namespace pellum {
namespace {

FH_DEBUG_CATEGORY(PellumDebug, "pellum", "vendor subtype relabelling")
#define GST_CAT_DEFAULT PellumDebug()

// The bit count of the last vendor type the output pin turned into Motion
// JPEG; one value for every instance in the process.
std::atomic<WORD> g_rememberedBits{8};

bool IsVideoInfoVideo(const CMediaType* type) {
  return *type->FormatType() == FORMAT_VideoInfo && *type->Type() == MEDIATYPE_Video;
}

// The first type `pin` enumerates, or false when it offers none.
bool FirstTypeOf(CBasePin* pin, CMediaType* type) { return pin && pin->GetMediaType(0, type) == S_OK; }

}  // namespace

void RelabelAsVendor(CMediaType* type, WORD bits) {
  type->SetType(&MEDIATYPE_Video);
  type->SetSubtype(&MEDIASUBTYPE_VendorMIL);
  if (VIDEOINFOHEADER* vih = type->VideoInfo()) {
    vih->bmiHeader.biBitCount = bits;
    vih->bmiHeader.biCompression = kVendorFourCC;
  }
}

// ---- input pin

CNullInPlaceInputPin::CNullInPlaceInputPin(CNullInPlace* filter, std::recursive_mutex* lock)
    : CTransInPlaceInputPin("Input", filter, lock), owner_(filter) {}

HRESULT CNullInPlaceInputPin::CheckMediaType(const CMediaType* type) {
  if (!type) return E_POINTER;
  return IsVideoInfoVideo(type) && *type->Subtype() == MEDIASUBTYPE_VendorMIL ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

// What downstream takes, offered back as the vendor type of 8 or 24 bits.
HRESULT CNullInPlaceInputPin::GetMediaType(int position, CMediaType* type) {
  if (!type) return E_POINTER;
  if (position < 0) return E_INVALIDARG;
  if (position > 1) return VFW_S_NO_MORE_ITEMS;
  CMediaType downstream;
  if (!FirstTypeOf(owner_->DownstreamPin(), &downstream)) return VFW_S_NO_MORE_ITEMS;
  *type = downstream;
  RelabelAsVendor(type, position == 0 ? 8 : 24);
  return S_OK;
}

HRESULT CNullInPlaceInputPin::EnumMediaTypes(std::vector<CMediaType>* types) {
  if (!types) return E_POINTER;
  if (!owner_->OutputPin() || !owner_->OutputPin()->IsConnected()) return VFW_E_NOT_CONNECTED;
  return CBasePin::EnumMediaTypes(types);
}

// ---- output pin

CNullInPlaceOutputPin::CNullInPlaceOutputPin(CNullInPlace* filter, std::recursive_mutex* lock)
    : CTransInPlaceOutputPin("Output", filter, lock), owner_(filter) {}

HRESULT CNullInPlaceOutputPin::CheckMediaType(const CMediaType* type) {
  if (!type) return E_POINTER;
  const VIDEOINFOHEADER* vih = type->VideoInfo();
  return IsVideoInfoVideo(type) && *type->Subtype() == MEDIASUBTYPE_MJPG && vih && vih->bmiHeader.biBitCount == 24
             ? S_OK
             : VFW_E_TYPE_NOT_ACCEPTED;
}

// What upstream offers, relabelled as 24-bit Motion JPEG; the vendor type's
// bit count is remembered for the input's reconnection.
HRESULT CNullInPlaceOutputPin::GetMediaType(int position, CMediaType* type) {
  if (!type) return E_POINTER;
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  CMediaType upstream;
  if (!FirstTypeOf(owner_->UpstreamPin(), &upstream)) return VFW_S_NO_MORE_ITEMS;
  *type = upstream;
  type->SetType(&MEDIATYPE_Video);
  type->SetSubtype(&MEDIASUBTYPE_MJPG);
  if (VIDEOINFOHEADER* vih = type->VideoInfo()) {
    GST_DEBUG("vendor type of %u bits offered as Motion JPEG", vih->bmiHeader.biBitCount);
    g_rememberedBits.store(vih->bmiHeader.biBitCount);
    vih->bmiHeader.biBitCount = 24;
    vih->bmiHeader.biCompression = kMjpgFourCC;
  }
  return S_OK;
}

HRESULT CNullInPlaceOutputPin::EnumMediaTypes(std::vector<CMediaType>* types) {
  if (!types) return E_POINTER;
  if (!owner_->InputPin() || !owner_->InputPin()->IsConnected()) return VFW_E_NOT_CONNECTED;
  return CBasePin::EnumMediaTypes(types);
}

// ---- filter

CNullInPlace::CNullInPlace(IUnknown* outer) : CTransInPlaceFilter("Vireo PELLUM", outer, CLSID_NullInPlace, true) {}

HRESULT CNullInPlace::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_INullIPP) return GetInterface(static_cast<INullIPP*>(this), ppv);
  if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
  return CTransInPlaceFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CNullInPlace::GetPages(CAUUID* pages) { return GetSinglePage(pages, CLSID_NullIPPropertyPage); }

CBasePin* CNullInPlace::GetPin(int n) {
  if (!m_pInput) {
    auto* input = new (std::nothrow) CNullInPlaceInputPin(this, &m_csFilter);
    auto* output = input ? new (std::nothrow) CNullInPlaceOutputPin(this, &m_csFilter) : nullptr;
    if (!input || !output) {
      delete input;
      return nullptr;
    }
    m_pInput = input;
    m_pOutput = output;
  }
  return n == 0 ? static_cast<CBasePin*>(m_pInput) : n == 1 ? static_cast<CBasePin*>(m_pOutput) : nullptr;
}

HRESULT CNullInPlace::CheckInputType(const CMediaType* in) { return in ? S_OK : E_POINTER; }

HRESULT CNullInPlace::Transform(IMediaSample*) { return S_OK; }

// Once the output has its Motion JPEG type, the input is connected again with
// the vendor type that matches it.
HRESULT CNullInPlace::CompleteConnect(PIN_DIRECTION direction, CBasePin*) {
  if (!IsInGraph()) return VFW_E_NOT_IN_GRAPH;
  if (direction != PINDIR_OUTPUT || !m_pInput || !m_pInput->IsConnected()) return S_OK;
  CMediaType vendor = m_pOutput->CurrentMediaType();
  RelabelAsVendor(&vendor, g_rememberedBits.load());
  GST_INFO("input connected again as the vendor type of %u bits", g_rememberedBits.load());
  return ReconnectPin(m_pInput, &vendor);
}

CBasePin* CNullInPlace::UpstreamPin() {
  std::lock_guard<std::mutex> guard(pinLock_);
  return m_pInput ? m_pInput->GetConnected() : nullptr;
}

CBasePin* CNullInPlace::DownstreamPin() {
  std::lock_guard<std::mutex> guard(pinLock_);
  return m_pOutput ? m_pOutput->GetConnected() : nullptr;
}

}  // namespace pellum
