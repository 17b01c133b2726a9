#include "filterhost/filter.h"

namespace fh {

// ---- CBasePin

CBasePin::CBasePin(const char* name, CBaseFilter* filter, std::recursive_mutex* lock, PIN_DIRECTION dir)
    : lock_(lock), name_(name), filter_(filter), dir_(dir) {}

HRESULT CBasePin::GetMediaType(int position, CMediaType* type) {
  if (!type) return E_POINTER;
  if (position < 0) return E_INVALIDARG;
  return VFW_S_NO_MORE_ITEMS;
}

HRESULT CBasePin::EnumMediaTypes(std::vector<CMediaType>* types) {
  if (!types) return E_POINTER;
  types->clear();
  for (int i = 0;; ++i) {
    CMediaType mt;
    HRESULT hr = GetMediaType(i, &mt);
    if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
    types->push_back(mt);
  }
}

HRESULT CBasePin::SetMediaType(const CMediaType* type) {
  if (!type) return E_POINTER;
  mt_ = *type;
  return S_OK;
}

HRESULT CBasePin::CompleteConnect(CBasePin*) { return S_OK; }
HRESULT CBasePin::BreakConnect() { return S_OK; }

HRESULT CBasePin::Connect(CBasePin* peer, const CMediaType& type) {
  if (!peer) return E_POINTER;
  std::lock_guard<std::recursive_mutex> guard(*lock_);
  if (connected_) Disconnect();
  HRESULT hr = CheckMediaType(&type);
  if (hr != S_OK) return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
  connected_ = peer;
  peer->connected_ = this;
  peer->mt_ = type;
  hr = SetMediaType(&type);
  if (SUCCEEDED(hr)) hr = CompleteConnect(peer);
  if (FAILED(hr)) Disconnect();
  return hr;
}

void CBasePin::Disconnect() {
  std::lock_guard<std::recursive_mutex> guard(*lock_);
  if (!connected_) return;
  BreakConnect();
  connected_->connected_ = nullptr;
  connected_->mt_.InitMediaType();
  connected_ = nullptr;
  mt_.InitMediaType();
}

void CBasePin::SetConnectionForQuery(CBasePin* peer, const CMediaType* type) {
  connected_ = peer;
  if (type)
    mt_ = *type;
  else
    mt_.InitMediaType();
}

HRESULT CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* type) const {
  if (!type) return E_POINTER;
  if (!connected_) {
    *type = AM_MEDIA_TYPE{};
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaType(type, &mt_);
}

// ---- CExternalPin

CExternalPin::CExternalPin(const char* name, PIN_DIRECTION dir) : CBasePin(name, nullptr, &ownLock_, dir) {}

HRESULT CExternalPin::CheckMediaType(const CMediaType* type) {
  if (!type) return E_POINTER;
  if (acceptsAll_) return S_OK;
  for (const CMediaType& mt : offered_)
    if (mt == *type) return S_OK;
  return VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CExternalPin::GetMediaType(int position, CMediaType* type) {
  if (!type) return E_POINTER;
  if (position < 0) return E_INVALIDARG;
  if (static_cast<size_t>(position) >= offered_.size()) return VFW_S_NO_MORE_ITEMS;
  *type = offered_[position];
  return S_OK;
}

// ---- CBaseFilter

CBaseFilter::CBaseFilter(const char* name, IUnknown* outer, std::recursive_mutex* lock, REFCLSID clsid)
    : CUnknown(name, outer), filterLock_(lock), clsid_(clsid) {}

CBaseFilter::~CBaseFilter() = default;

HRESULT CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IBaseFilter || riid == IID_IUnknown) return GetInterface(static_cast<IBaseFilter*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseFilter::ReconnectPin(CBasePin* pin, const AM_MEDIA_TYPE* type) {
  if (!pin) return E_POINTER;
  if (!host_) return VFW_E_NOT_IN_GRAPH;
  return host_->Reconnect(pin, type);
}

void CBaseFilter::PostWarning(const std::string& text) {
  if (host_) host_->PostWarning(text);
}

// ---- CTransformInputPin / CTransformOutputPin

CTransformInputPin::CTransformInputPin(const char* name, CTransformFilter* filter, std::recursive_mutex* lock)
    : CBasePin(name, filter, lock, PINDIR_INPUT), transform_(filter) {}

HRESULT CTransformInputPin::CheckMediaType(const CMediaType* type) {
  if (!type) return E_POINTER;
  HRESULT hr = transform_->CheckInputType(type);
  if (hr != S_OK) return hr;
  // With the output connected, the filter must still be able to produce it.
  CTransformOutputPin* out = transform_->OutputPin();
  if (out && out->IsConnected() && !transform_->IsInPlace())
    return transform_->CheckTransform(type, &out->CurrentMediaType());
  return S_OK;
}

HRESULT CTransformInputPin::SetMediaType(const CMediaType* type) {
  HRESULT hr = CBasePin::SetMediaType(type);
  return FAILED(hr) ? hr : transform_->SetMediaType(PINDIR_INPUT, type);
}

HRESULT CTransformInputPin::CompleteConnect(CBasePin* receivePin) {
  HRESULT hr = transform_->CheckConnect(PINDIR_INPUT, receivePin);
  return FAILED(hr) ? hr : transform_->CompleteConnect(PINDIR_INPUT, receivePin);
}

HRESULT CTransformInputPin::BreakConnect() { return transform_->BreakConnect(PINDIR_INPUT); }

CTransformOutputPin::CTransformOutputPin(const char* name, CTransformFilter* filter, std::recursive_mutex* lock)
    : CBasePin(name, filter, lock, PINDIR_OUTPUT), transform_(filter) {}

HRESULT CTransformOutputPin::CheckMediaType(const CMediaType* type) {
  if (!type) return E_POINTER;
  CTransformInputPin* in = transform_->InputPin();
  if (!in || !in->IsConnected()) return E_UNEXPECTED;
  return transform_->CheckTransform(&in->CurrentMediaType(), type);
}

HRESULT CTransformOutputPin::GetMediaType(int position, CMediaType* type) {
  CTransformInputPin* in = transform_->InputPin();
  if (!in || !in->IsConnected()) return E_UNEXPECTED;
  return transform_->GetMediaType(position, type);
}

HRESULT CTransformOutputPin::SetMediaType(const CMediaType* type) {
  HRESULT hr = CBasePin::SetMediaType(type);
  return FAILED(hr) ? hr : transform_->SetMediaType(PINDIR_OUTPUT, type);
}

// Connecting the output sizes its buffers, as the allocator negotiation does.
HRESULT CTransformOutputPin::CompleteConnect(CBasePin* receivePin) {
  HRESULT hr = transform_->CheckConnect(PINDIR_OUTPUT, receivePin);
  if (FAILED(hr)) return hr;
  if (!transform_->IsInPlace()) {
    auto* allocator = new CMemAllocator();
    allocator->NonDelegatingAddRef();
    ALLOCATOR_PROPERTIES request{};
    hr = transform_->DecideBufferSize(allocator, &request);
    if (SUCCEEDED(hr)) allocator->GetProperties(&props_);
    allocator->NonDelegatingRelease();
    if (FAILED(hr)) return hr;
  }
  return transform_->CompleteConnect(PINDIR_OUTPUT, receivePin);
}

HRESULT CTransformOutputPin::BreakConnect() { return transform_->BreakConnect(PINDIR_OUTPUT); }

// ---- CTransformFilter

CTransformFilter::CTransformFilter(const char* name, IUnknown* outer, REFCLSID clsid)
    : CBaseFilter(name, outer, &m_csFilter, clsid) {}

CTransformFilter::~CTransformFilter() {
  delete m_pInput;
  delete m_pOutput;
}

CBasePin* CTransformFilter::GetPin(int n) {
  if (!m_pInput) {
    m_pInput = new CTransformInputPin("Input", this, &m_csFilter);
    m_pOutput = new CTransformOutputPin("Output", this, &m_csFilter);
  }
  return n == 0 ? static_cast<CBasePin*>(m_pInput) : n == 1 ? static_cast<CBasePin*>(m_pOutput) : nullptr;
}

HRESULT CTransformFilter::Transform(IMediaSample*, IMediaSample*) { return E_UNEXPECTED; }
HRESULT CTransformFilter::SetMediaType(PIN_DIRECTION, const CMediaType*) { return S_OK; }
HRESULT CTransformFilter::CheckConnect(PIN_DIRECTION, CBasePin*) { return S_OK; }
HRESULT CTransformFilter::BreakConnect(PIN_DIRECTION) { return S_OK; }
HRESULT CTransformFilter::CompleteConnect(PIN_DIRECTION, CBasePin*) { return S_OK; }
HRESULT CTransformFilter::StartStreaming() { return S_OK; }
HRESULT CTransformFilter::StopStreaming() { return S_OK; }
HRESULT CTransformFilter::EndOfStream() { return S_OK; }

// ---- CTransInPlaceFilter

CTransInPlaceInputPin::CTransInPlaceInputPin(const char* name, CTransInPlaceFilter* filter, std::recursive_mutex* lock)
    : CTransformInputPin(name, filter, lock) {}

CTransInPlaceOutputPin::CTransInPlaceOutputPin(const char* name, CTransInPlaceFilter* filter,
                                               std::recursive_mutex* lock)
    : CTransformOutputPin(name, filter, lock) {}

HRESULT CTransInPlaceOutputPin::GetMediaType(int position, CMediaType* type) {
  if (!type) return E_POINTER;
  if (position < 0) return E_INVALIDARG;
  CTransformInputPin* in = transform_->InputPin();
  if (!in || !in->IsConnected()) return VFW_E_NOT_CONNECTED;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  *type = in->CurrentMediaType();
  return S_OK;
}

HRESULT CTransInPlaceOutputPin::CheckMediaType(const CMediaType* type) {
  if (!type) return E_POINTER;
  return transform_->CheckInputType(type);
}

CTransInPlaceFilter::CTransInPlaceFilter(const char* name, IUnknown* outer, REFCLSID clsid, bool modifiesData)
    : CTransformFilter(name, outer, clsid), modifiesData_(modifiesData) {}

CBasePin* CTransInPlaceFilter::GetPin(int n) {
  if (!m_pInput) {
    m_pInput = new CTransInPlaceInputPin("Input", this, &m_csFilter);
    m_pOutput = new CTransInPlaceOutputPin("Output", this, &m_csFilter);
  }
  return n == 0 ? static_cast<CBasePin*>(m_pInput) : n == 1 ? static_cast<CBasePin*>(m_pOutput) : nullptr;
}

HRESULT CTransInPlaceFilter::DecideBufferSize(IMemAllocator*, ALLOCATOR_PROPERTIES*) { return S_OK; }

}  // namespace fh
