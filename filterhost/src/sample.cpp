#include "filterhost/sample.h"

#include "filterhost/interfaces.h"

namespace fh {

CMediaSample::CMediaSample() : CUnknown("media sample") {}

CMediaSample::~CMediaSample() { DeleteMediaType(type_); }

HRESULT CMediaSample::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IMediaSample || riid == IID_IUnknown) return GetInterface(static_cast<IMediaSample*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

void CMediaSample::Reset(BYTE* data, long size, long length) {
  data_ = data;
  size_ = size;
  length_ = length;
  timeValid_ = stopValid_ = mediaTimeValid_ = false;
  sync_ = preroll_ = discontinuity_ = false;
  if (type_) {
    DeleteMediaType(type_);
    type_ = nullptr;
  }
}

HRESULT CMediaSample::GetPointer(BYTE** buffer) {
  if (!buffer) return E_POINTER;
  *buffer = data_;
  return S_OK;
}

// As the platform does: no time gives VFW_E_SAMPLE_TIME_NOT_SET, a start
// without a stop gives VFW_S_NO_STOP_TIME with stop = start + 1.
HRESULT CMediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
  constexpr HRESULT kNotSet = static_cast<HRESULT>(0x80040249u);
  constexpr HRESULT kNoStop = static_cast<HRESULT>(0x00040270);
  if (!timeValid_) return kNotSet;
  if (!start || !end) return E_POINTER;
  *start = start_;
  if (!stopValid_) {
    *end = start_ + 1;
    return kNoStop;
  }
  *end = stop_;
  return S_OK;
}

HRESULT CMediaSample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
  timeValid_ = start != nullptr;
  stopValid_ = start != nullptr && end != nullptr;
  if (start) start_ = *start;
  if (end) stop_ = *end;
  return S_OK;
}

HRESULT CMediaSample::SetSyncPoint(BOOL sync) {
  sync_ = sync != FALSE;
  return S_OK;
}

HRESULT CMediaSample::SetPreroll(BOOL preroll) {
  preroll_ = preroll != FALSE;
  return S_OK;
}

HRESULT CMediaSample::SetActualDataLength(long length) {
  if (length < 0 || length > size_) return E_INVALIDARG;
  length_ = length;
  return S_OK;
}

HRESULT CMediaSample::GetMediaType(AM_MEDIA_TYPE** type) {
  if (!type) return E_POINTER;
  *type = nullptr;
  if (!type_) return S_FALSE;
  *type = CreateMediaType(type_);
  return *type ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMediaSample::SetMediaType(AM_MEDIA_TYPE* type) {
  DeleteMediaType(type_);
  type_ = nullptr;
  if (!type) return S_OK;
  type_ = CreateMediaType(type);
  return type_ ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMediaSample::SetDiscontinuity(BOOL discontinuity) {
  discontinuity_ = discontinuity != FALSE;
  return S_OK;
}

HRESULT CMediaSample::GetMediaTime(LONGLONG* start, LONGLONG* end) {
  constexpr HRESULT kNotSet = static_cast<HRESULT>(0x80040251u);
  if (!start || !end) return E_POINTER;
  if (!mediaTimeValid_) return kNotSet;
  *start = mediaStart_;
  *end = mediaStop_;
  return S_OK;
}

HRESULT CMediaSample::SetMediaTime(LONGLONG* start, LONGLONG* end) {
  if (!start || !end) {
    mediaTimeValid_ = false;
    return S_OK;
  }
  mediaStart_ = *start;
  mediaStop_ = *end;
  mediaTimeValid_ = true;
  return S_OK;
}

CMemAllocator::CMemAllocator(long maxBufferBytes) : CUnknown("allocator"), maxBufferBytes_(maxBufferBytes) {}

HRESULT CMemAllocator::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IMemAllocator || riid == IID_IUnknown) return GetInterface(static_cast<IMemAllocator*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
  if (!request || !actual) return E_POINTER;
  if (request->cBuffers < 0 || request->cbBuffer < 0) return E_INVALIDARG;
  if (request->cbBuffer > maxBufferBytes_) return E_OUTOFMEMORY;
  props_ = *request;
  if (props_.cBuffers < 1) props_.cBuffers = 1;
  if (props_.cbAlign < 1) props_.cbAlign = 1;
  *actual = props_;
  return S_OK;
}

HRESULT CMemAllocator::GetProperties(ALLOCATOR_PROPERTIES* props) {
  if (!props) return E_POINTER;
  *props = props_;
  return S_OK;
}

}  // namespace fh
