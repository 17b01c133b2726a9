// COM-like foundation shared by the player and every plug-in: result codes,
// identifiers, IUnknown with reference counting, and a smart pointer.
#pragma once

#include <atomic>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#ifndef FALSE
#define FALSE (0)
#endif
#ifndef TRUE
#define TRUE (!FALSE)
#endif

namespace fh {

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using BOOL = int;
using BYTE = std::uint8_t;
using LONG = std::int32_t;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using LONGLONG = std::int64_t;
using REFERENCE_TIME = std::int64_t;  // 100 ns units

// Standard Windows numeric values, so that logs and tests compare by name.
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
constexpr HRESULT VFW_E_NOT_CONNECTED = static_cast<HRESULT>(0x80040209u);
constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = static_cast<HRESULT>(0x8004022Au);
constexpr HRESULT VFW_E_NOT_IN_GRAPH = static_cast<HRESULT>(0x8004025Fu);
constexpr HRESULT VFW_S_NO_MORE_ITEMS = static_cast<HRESULT>(0x00040103);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// Symbolic name of a result code ("E_FAIL"), or its hexadecimal value.
std::string HResultName(HRESULT hr);

struct GUID {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::uint8_t Data4[8] = {};

  friend constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
      if (a.Data4[i] != b.Data4[i]) return false;
    return true;
  }
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const GUID&;
using REFCLSID = const GUID&;

constexpr GUID GUID_NULL{};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" and back; false for malformed text.
std::string GuidToString(const GUID& g);
bool GuidFromString(const std::string& text, GUID* out);

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  virtual ~IUnknown() = default;
};
constexpr IID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// The inner, non-delegating identity of an object, as in COM aggregation.
struct INonDelegatingUnknown {
  virtual HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG NonDelegatingAddRef() = 0;
  virtual ULONG NonDelegatingRelease() = 0;

 protected:
  virtual ~INonDelegatingUnknown() = default;
};

// Reference-counted base object. The count starts at 0; the creator takes the
// first reference. Thread-safe.
class CUnknown : public INonDelegatingUnknown {
 public:
  explicit CUnknown(const char* name, IUnknown* outer = nullptr);
  CUnknown(const CUnknown&) = delete;
  CUnknown& operator=(const CUnknown&) = delete;

  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  ULONG NonDelegatingAddRef() override;
  ULONG NonDelegatingRelease() override;

  IUnknown* GetOwner() const { return owner_; }
  const char* Name() const { return name_; }

 protected:
  ~CUnknown() override = default;

 private:
  const char* name_;
  IUnknown* owner_;
  std::atomic<ULONG> refs_{0};
};

// Task memory: blocks that cross interfaces and are freed by the receiver.
void* CoTaskMemAlloc(std::size_t bytes);
void CoTaskMemFree(void* block);

// Hands out `iface` with a reference; E_POINTER for a null out-pointer.
HRESULT GetInterface(IUnknown* iface, void** ppv);

}  // namespace fh

// Implements IUnknown in a class derived from CUnknown and one or more
// interfaces, forwarding to the owner (the object itself unless aggregated).
#define DECLARE_IUNKNOWN                                                                                \
  ::fh::HRESULT QueryInterface(::fh::REFIID riid, void** ppv) override {                                \
    return GetOwner() ? GetOwner()->QueryInterface(riid, ppv) : NonDelegatingQueryInterface(riid, ppv); \
  }                                                                                                     \
  ::fh::ULONG AddRef() override { return GetOwner() ? GetOwner()->AddRef() : NonDelegatingAddRef(); }   \
  ::fh::ULONG Release() override { return GetOwner() ? GetOwner()->Release() : NonDelegatingRelease(); }

namespace fh {

// Owning interface pointer: one reference, released on destruction.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(T* p) : p_(p) {  // NOLINT: implicit like the pointer it holds
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
  ComPtr(ComPtr&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  ~ComPtr() { reset(); }
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }

  // Takes over a reference the caller already owns.
  static ComPtr Adopt(T* p) {
    ComPtr c;
    c.p_ = p;
    return c;
  }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }
  // For out-parameters: releases the held pointer and exposes the slot.
  T** put() {
    reset();
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  template <class U>
  HRESULT As(REFIID iid, ComPtr<U>* out) const {
    if (!out) return E_POINTER;
    if (!p_) return E_POINTER;
    return p_->QueryInterface(iid, out->put_void());
  }

 private:
  T* p_ = nullptr;
};

}  // namespace fh
