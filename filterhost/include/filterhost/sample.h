// Media samples: the IMediaSample interface and the sample object the host
// re-points at each buffer it hands a filter.
#pragma once

#include "filterhost/com.h"
#include "filterhost/mediatype.h"

namespace fh {

struct IMediaSample : IUnknown {
  virtual HRESULT GetPointer(BYTE** buffer) = 0;
  virtual long GetSize() = 0;
  virtual HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
  virtual HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
  virtual HRESULT IsSyncPoint() = 0;
  virtual HRESULT SetSyncPoint(BOOL sync) = 0;
  virtual HRESULT IsPreroll() = 0;
  virtual HRESULT SetPreroll(BOOL preroll) = 0;
  virtual long GetActualDataLength() = 0;
  virtual HRESULT SetActualDataLength(long length) = 0;
  // S_OK with a new heap type (free with DeleteMediaType) when the format
  // changed at this sample; S_FALSE and nullptr otherwise.
  virtual HRESULT GetMediaType(AM_MEDIA_TYPE** type) = 0;
  virtual HRESULT SetMediaType(AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT IsDiscontinuity() = 0;
  virtual HRESULT SetDiscontinuity(BOOL discontinuity) = 0;
  virtual HRESULT GetMediaTime(LONGLONG* start, LONGLONG* end) = 0;
  virtual HRESULT SetMediaTime(LONGLONG* start, LONGLONG* end) = 0;
};

// A sample over memory it does not own. The host keeps one per stream
// direction and re-points it for every buffer, so nothing is allocated per
// frame except when a sample carries a new media type.
class CMediaSample final : public CUnknown, public IMediaSample {
 public:
  CMediaSample();
  ~CMediaSample() override;
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Points the sample at `data` (capacity `size` bytes, `length` valid) and
  // clears every property.
  void Reset(BYTE* data, long size, long length);

  HRESULT GetPointer(BYTE** buffer) override;
  long GetSize() override { return size_; }
  HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
  HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
  HRESULT IsSyncPoint() override { return sync_ ? S_OK : S_FALSE; }
  HRESULT SetSyncPoint(BOOL sync) override;
  HRESULT IsPreroll() override { return preroll_ ? S_OK : S_FALSE; }
  HRESULT SetPreroll(BOOL preroll) override;
  long GetActualDataLength() override { return length_; }
  HRESULT SetActualDataLength(long length) override;
  HRESULT GetMediaType(AM_MEDIA_TYPE** type) override;
  HRESULT SetMediaType(AM_MEDIA_TYPE* type) override;
  HRESULT IsDiscontinuity() override { return discontinuity_ ? S_OK : S_FALSE; }
  HRESULT SetDiscontinuity(BOOL discontinuity) override;
  HRESULT GetMediaTime(LONGLONG* start, LONGLONG* end) override;
  HRESULT SetMediaTime(LONGLONG* start, LONGLONG* end) override;

  // Property state for the host.
  bool HasTime() const { return timeValid_; }
  bool HasStopTime() const { return stopValid_; }
  bool HasMediaTime() const { return mediaTimeValid_; }
  const AM_MEDIA_TYPE* PeekMediaType() const { return type_; }

 private:
  BYTE* data_ = nullptr;
  long size_ = 0;
  long length_ = 0;
  REFERENCE_TIME start_ = 0, stop_ = 0;
  LONGLONG mediaStart_ = 0, mediaStop_ = 0;
  bool timeValid_ = false, stopValid_ = false, mediaTimeValid_ = false;
  bool sync_ = false, preroll_ = false, discontinuity_ = false;
  AM_MEDIA_TYPE* type_ = nullptr;
};

struct ALLOCATOR_PROPERTIES {
  long cBuffers;
  long cbBuffer;
  long cbAlign;
  long cbPrefix;
};

struct IMemAllocator : IUnknown {
  virtual HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) = 0;
  virtual HRESULT GetProperties(ALLOCATOR_PROPERTIES* props) = 0;
};

// An allocator that grants what it is asked, up to an optional cap, and
// remembers it. The host sizes its output buffer pool from it.
class CMemAllocator final : public CUnknown, public IMemAllocator {
 public:
  explicit CMemAllocator(long maxBufferBytes = 0x7fffffff);
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
  HRESULT GetProperties(ALLOCATOR_PROPERTIES* props) override;

 private:
  long maxBufferBytes_;
  ALLOCATOR_PROPERTIES props_{};
};

}  // namespace fh
