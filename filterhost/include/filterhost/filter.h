// Filters and pins: the two transform base classes plug-ins derive from.
// The GStreamer bridge drives them the way a filter graph would: it connects
// the pins with media types, sizes the output, and calls Transform on the
// streaming thread under the receive lock.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "filterhost/com.h"
#include "filterhost/interfaces.h"
#include "filterhost/mediatype.h"
#include "filterhost/sample.h"

namespace fh {

enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };
enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };

class CBaseFilter;
class CBasePin;

struct IBaseFilter : IUnknown {};

// What a filter needs of the graph that hosts it. The bridge element
// implements it; a filter outside any graph has none.
class IFilterHost {
 public:
  // Renegotiates the connection of `pin`, optionally with `type`.
  virtual HRESULT Reconnect(CBasePin* pin, const AM_MEDIA_TYPE* type) = 0;
  // Tells the application something went wrong without stopping the stream.
  virtual void PostWarning(const std::string& text) = 0;

 protected:
  ~IFilterHost() = default;
};

// A connection end. Pins belong to their filter and are not reference
// counted on their own.
class CBasePin {
 public:
  CBasePin(const char* name, CBaseFilter* filter, std::recursive_mutex* lock, PIN_DIRECTION dir);
  virtual ~CBasePin() = default;
  CBasePin(const CBasePin&) = delete;
  CBasePin& operator=(const CBasePin&) = delete;

  const std::string& Name() const { return name_; }
  PIN_DIRECTION Direction() const { return dir_; }
  CBaseFilter* Filter() const { return filter_; }

  // Whether the pin can take `type`.
  virtual HRESULT CheckMediaType(const CMediaType* type) = 0;
  // The pin's preferred types, position 0 first; VFW_S_NO_MORE_ITEMS past the end.
  virtual HRESULT GetMediaType(int position, CMediaType* type);
  // Every type the pin offers now (from GetMediaType).
  virtual HRESULT EnumMediaTypes(std::vector<CMediaType>* types);
  // Takes the connection's type after CheckMediaType accepted it.
  virtual HRESULT SetMediaType(const CMediaType* type);
  virtual HRESULT CompleteConnect(CBasePin* receivePin);
  virtual HRESULT BreakConnect();

  // Connects this pin to `peer` with `type`: CheckMediaType, SetMediaType,
  // CompleteConnect. On failure the pin stays unconnected.
  HRESULT Connect(CBasePin* peer, const CMediaType& type);
  // Drops the connection (both ends).
  void Disconnect();

  // For the host's caps queries only: makes the pin look connected to `peer`
  // with `type` (or unconnected for nullptr) without telling the filter, so
  // that GetMediaType answers as it would for that connection.
  void SetConnectionForQuery(CBasePin* peer, const CMediaType* type);

  bool IsConnected() const { return connected_ != nullptr; }
  CBasePin* GetConnected() const { return connected_; }
  const CMediaType& CurrentMediaType() const { return mt_; }
  HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) const;

 protected:
  CMediaType mt_;
  std::recursive_mutex* lock_;

 private:
  std::string name_;
  CBaseFilter* filter_;
  PIN_DIRECTION dir_;
  CBasePin* connected_ = nullptr;
};

// The other end of a connection, outside any filter of ours: for the bridge
// the neighbouring GStreamer element's pad, in tests a scripted peer. It
// accepts what it lists (everything when it lists nothing and accepts all).
class CExternalPin final : public CBasePin {
 public:
  CExternalPin(const char* name, PIN_DIRECTION dir);
  void SetOfferedTypes(std::vector<CMediaType> types) { offered_ = std::move(types); }
  void SetAcceptsAll(bool all) { acceptsAll_ = all; }

  HRESULT CheckMediaType(const CMediaType* type) override;
  HRESULT GetMediaType(int position, CMediaType* type) override;

 private:
  std::recursive_mutex ownLock_;
  std::vector<CMediaType> offered_;
  bool acceptsAll_ = true;
};

class CBaseFilter : public CUnknown, public IBaseFilter {
 public:
  CBaseFilter(const char* name, IUnknown* outer, std::recursive_mutex* lock, REFCLSID clsid);
  ~CBaseFilter() override;
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  virtual int GetPinCount() = 0;
  virtual CBasePin* GetPin(int n) = 0;

  const CLSID& ClassId() const { return clsid_; }
  FILTER_STATE State() const { return state_; }
  void SetState(FILTER_STATE s) { state_ = s; }

  // The graph hosting this filter, or none.
  void SetHost(IFilterHost* host) { host_ = host; }
  IFilterHost* Host() const { return host_; }
  bool IsInGraph() const { return host_ != nullptr; }

  // Asks the graph to reconnect `pin`, optionally with `type`.
  HRESULT ReconnectPin(CBasePin* pin, const AM_MEDIA_TYPE* type);
  // A warning for the application (a bus warning under GStreamer).
  void PostWarning(const std::string& text);

 protected:
  std::recursive_mutex* filterLock_;

 private:
  CLSID clsid_;
  FILTER_STATE state_ = State_Stopped;
  IFilterHost* host_ = nullptr;
};

class CTransformFilter;

class CTransformInputPin : public CBasePin {
 public:
  CTransformInputPin(const char* name, CTransformFilter* filter, std::recursive_mutex* lock);
  HRESULT CheckMediaType(const CMediaType* type) override;
  HRESULT SetMediaType(const CMediaType* type) override;
  HRESULT CompleteConnect(CBasePin* receivePin) override;
  HRESULT BreakConnect() override;

 protected:
  CTransformFilter* transform_;
};

class CTransformOutputPin : public CBasePin {
 public:
  CTransformOutputPin(const char* name, CTransformFilter* filter, std::recursive_mutex* lock);
  HRESULT CheckMediaType(const CMediaType* type) override;
  HRESULT GetMediaType(int position, CMediaType* type) override;
  HRESULT SetMediaType(const CMediaType* type) override;
  HRESULT CompleteConnect(CBasePin* receivePin) override;
  HRESULT BreakConnect() override;

  // Output buffers as sized by the filter's DecideBufferSize at the last
  // connection.
  const ALLOCATOR_PROPERTIES& AllocatorProperties() const { return props_; }

 protected:
  CTransformFilter* transform_;
  ALLOCATOR_PROPERTIES props_{};
};

// A filter that fills a new output sample for every input sample.
class CTransformFilter : public CBaseFilter {
 public:
  CTransformFilter(const char* name, IUnknown* outer, REFCLSID clsid);
  ~CTransformFilter() override;

  int GetPinCount() override { return 2; }
  CBasePin* GetPin(int n) override;

  virtual HRESULT Transform(IMediaSample* in, IMediaSample* out);
  virtual HRESULT CheckInputType(const CMediaType* in) = 0;
  virtual HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) = 0;
  virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
  virtual HRESULT GetMediaType(int position, CMediaType* type) = 0;

  virtual HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* type);
  virtual HRESULT CheckConnect(PIN_DIRECTION direction, CBasePin* pin);
  virtual HRESULT BreakConnect(PIN_DIRECTION direction);
  virtual HRESULT CompleteConnect(PIN_DIRECTION direction, CBasePin* receivePin);

  // Stream notifications from the host, on the streaming thread or the
  // thread that changes state; the defaults do nothing.
  virtual HRESULT StartStreaming();
  virtual HRESULT StopStreaming();
  virtual HRESULT EndOfStream();

  // In-place filters transform one sample where it lies.
  virtual bool IsInPlace() const { return false; }

  CTransformInputPin* InputPin() const { return m_pInput; }
  CTransformOutputPin* OutputPin() const { return m_pOutput; }

  // Held by the host around every Transform and connection change.
  std::recursive_mutex m_csReceive;

 protected:
  std::recursive_mutex m_csFilter;
  CTransformInputPin* m_pInput = nullptr;
  CTransformOutputPin* m_pOutput = nullptr;
};

class CTransInPlaceFilter;

class CTransInPlaceInputPin : public CTransformInputPin {
 public:
  CTransInPlaceInputPin(const char* name, CTransInPlaceFilter* filter, std::recursive_mutex* lock);
};

// Offers the input connection's type downstream.
class CTransInPlaceOutputPin : public CTransformOutputPin {
 public:
  CTransInPlaceOutputPin(const char* name, CTransInPlaceFilter* filter, std::recursive_mutex* lock);
  HRESULT GetMediaType(int position, CMediaType* type) override;
  HRESULT CheckMediaType(const CMediaType* type) override;
};

// A filter that works on each sample in place before it goes downstream.
class CTransInPlaceFilter : public CTransformFilter {
 public:
  CTransInPlaceFilter(const char* name, IUnknown* outer, REFCLSID clsid, bool modifiesData = true);

  CBasePin* GetPin(int n) override;
  bool IsInPlace() const override { return true; }
  bool ModifiesData() const { return modifiesData_; }

  virtual HRESULT Transform(IMediaSample* sample) = 0;
  // Whether the last Transform wrote into its sample. The host copies a
  // frame back into the stream only then; a filter that writes only in some
  // modes (a drawing switched off) answers per frame.
  virtual bool WroteLastFrame() const { return modifiesData_; }
  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override { return S_OK; }
  HRESULT GetMediaType(int position, CMediaType* type) override { return E_UNEXPECTED; }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

 private:
  bool modifiesData_;
};

}  // namespace fh
