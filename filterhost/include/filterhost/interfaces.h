// Class and interface identifiers of the plug-ins and their control
// interfaces, shared by the player and the plug-ins.
#pragma once

#include "filterhost/com.h"
#include "filterhost/grid_records.h"

namespace fh {

// Plug-in filters and their property pages.
constexpr CLSID CLSID_Quorlin{0x24d9a741, 0x926e, 0x4aad, {0xbc, 0x67, 0xf5, 0xdc, 0xa4, 0x0a, 0x00, 0x82}};
constexpr CLSID CLSID_QuorlinProperties{0xf48cd1a3, 0xf241, 0x4c0e, {0xa6, 0x72, 0x55, 0x9f, 0x43, 0x2e, 0x0a, 0x31}};
constexpr CLSID CLSID_FiltrDetektor{0x2509367b, 0xab81, 0x4866, {0xb3, 0x23, 0xbe, 0xe4, 0x24, 0x4d, 0xa5, 0x60}};
constexpr CLSID CLSID_WlasciwosciDetektor{0x427fb313, 0x38b7, 0x40aa, {0x91, 0x6c, 0x27, 0x70, 0x0d, 0x56, 0xd5, 0xfc}};
constexpr CLSID CLSID_Durmix{0x8cd4b62e, 0xd5b1, 0x40f2, {0xad, 0x33, 0xf0, 0x4c, 0x1c, 0xc8, 0x13, 0xb0}};
constexpr CLSID CLSID_DurmixProperties{0xcc9a6ca5, 0x0986, 0x482f, {0x91, 0x85, 0x54, 0x09, 0xa1, 0xc2, 0x7b, 0x5c}};
constexpr CLSID CLSID_NullInPlace{0x785ffbca, 0x65c3, 0x4817, {0xb4, 0x9f, 0x10, 0x1b, 0x20, 0x20, 0xd4, 0xa5}};
constexpr CLSID CLSID_NullIPPropertyPage{0x6040a2ee, 0x4d45, 0x43d2, {0x95, 0xa1, 0x4b, 0x68, 0x1d, 0xe4, 0xcf, 0xbd}};
constexpr CLSID CLSID_KelbitFilter{0x72070901, 0xe147, 0x4ec1, {0x97, 0xa8, 0xde, 0xf5, 0x5e, 0xb8, 0x52, 0x1d}};

// Custom interfaces.
constexpr IID IID_IQuorlinInterface{0xc4697043, 0xd396, 0x4bc7, {0xba, 0xbd, 0xff, 0x51, 0x2e, 0x6a, 0xb7, 0x42}};
constexpr IID IID_IOstrelInterfejs{0x61ae8f95, 0x0f3b, 0x4eb7, {0xbc, 0x1c, 0x3f, 0x41, 0x8b, 0x4b, 0xe1, 0x43}};
constexpr IID IID_DurmixInterface{0xc2057812, 0x87ba, 0x4dc9, {0x8f, 0xc1, 0x7f, 0x32, 0xc3, 0x13, 0x30, 0x24}};
constexpr IID IID_INullIPP{0x30f49667, 0x767f, 0x4e15, {0xa7, 0xea, 0x5c, 0xb7, 0x3c, 0xdb, 0xf5, 0xf5}};
constexpr IID IID_IKelbitFiltInterface{0x3550e386, 0xad9a, 0x496f, {0x98, 0x0c, 0xa6, 0x6e, 0xea, 0x7d, 0x70, 0x9b}};

// Standard interfaces of the filter host.
constexpr IID IID_IBaseFilter{0x56a86895, 0x0ad4, 0x11ce, {0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
constexpr IID IID_ISpecifyPropertyPages{0xb196b28b, 0xbab4, 0x101a, {0xb6, 0x9c, 0x00, 0xaa, 0x00, 0x34, 0x1d, 0x07}};
constexpr IID IID_IMediaSample{0x56a8689a, 0x0ad4, 0x11ce, {0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
constexpr IID IID_IMemAllocator{0x56a8689c, 0x0ad4, 0x11ce, {0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};

// Methods follow QueryInterface, AddRef and Release in declaration order.
struct IQuorlinInterface : IUnknown {
  virtual HRESULT SetLook(const GRID_LOOK* look) = 0;
  virtual HRESULT GetLook(GRID_LOOK* look) = 0;
  virtual HRESULT SetParams(const GRID_PHASE phases[4], const GRID_GEOMETRY* geometry, const char* text) = 0;
  virtual HRESULT SetPhaseParams(const GRID_PHASE phases[4]) = 0;
  virtual HRESULT SetFileName(const char* path) = 0;
  virtual HRESULT GetData(char* buffer) = 0;  // buffer of at least 2048 bytes
  virtual HRESULT Reserved() = 0;
  virtual HRESULT GetParams(GRID_PHASE phases[4], GRID_GEOMETRY* geometry) = 0;
};

struct IOstrelInterfejs : IUnknown {
  virtual HRESULT SetFindingsFile(const char* path) = 0;
  virtual HRESULT GetFindingsFile(char* buffer) = 0;  // buffer of 2048 characters
};

struct DurmixInterface : IUnknown {
  virtual HRESULT GetMode(std::int32_t* modeId, std::int32_t* columns, std::int32_t* rows) = 0;
  virtual HRESULT SetMode(std::int32_t modeId, std::int32_t columns, std::int32_t rows) = 0;
};

// Called after each armed capture on the streaming thread: S_OK and a null
// reason when the whole file was written; a failure code and the system's
// reason (valid during the call) when no file was written.
using CaptureCallback = void (*)(HRESULT result, const char* reason);
struct IKelbitFiltInterface : IUnknown {
  virtual HRESULT SetCaptureFile(const char* path) = 0;
  virtual HRESULT SetCaptureCallback(CaptureCallback callback) = 0;
};

struct INullIPP : IUnknown {};

// A counted array of identifiers; pElems is allocated with CoTaskMemAlloc and
// freed by the caller with CoTaskMemFree.
struct CAUUID {
  ULONG cElems = 0;
  GUID* pElems = nullptr;
};

struct ISpecifyPropertyPages : IUnknown {
  virtual HRESULT GetPages(CAUUID* pages) = 0;
};

// GetPages of a filter with exactly one page: E_POINTER for null,
// E_OUTOFMEMORY when the array cannot be allocated.
HRESULT GetSinglePage(CAUUID* pages, REFCLSID page);

}  // namespace fh
