#include "filterhost/com.h"

#include <cstdlib>

#include "filterhost/interfaces.h"

namespace fh {

std::string HResultName(HRESULT hr) {
  struct Name {
    HRESULT hr;
    const char* text;
  };
  static constexpr Name kNames[] = {
      {S_OK, "S_OK"},
      {S_FALSE, "S_FALSE"},
      {E_NOTIMPL, "E_NOTIMPL"},
      {E_NOINTERFACE, "E_NOINTERFACE"},
      {E_POINTER, "E_POINTER"},
      {E_FAIL, "E_FAIL"},
      {E_UNEXPECTED, "E_UNEXPECTED"},
      {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
      {E_INVALIDARG, "E_INVALIDARG"},
      {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE"},
      {VFW_E_NOT_CONNECTED, "VFW_E_NOT_CONNECTED"},
      {VFW_E_TYPE_NOT_ACCEPTED, "VFW_E_TYPE_NOT_ACCEPTED"},
      {VFW_E_NOT_IN_GRAPH, "VFW_E_NOT_IN_GRAPH"},
      {VFW_S_NO_MORE_ITEMS, "VFW_S_NO_MORE_ITEMS"},
  };
  for (const Name& n : kNames)
    if (n.hr == hr) return n.text;
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
  return buf;
}

std::string GuidToString(const GUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

bool GuidFromString(const std::string& text, GUID* out) {
  if (!out || text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
  static constexpr int kDashes[] = {9, 14, 19, 24};
  for (int d : kDashes)
    if (text[d] != '-') return false;
  auto hex = [&](int pos, int digits, std::uint64_t* v) {
    *v = 0;
    for (int i = 0; i < digits; ++i) {
      char c = text[pos + i];
      int x = (c >= '0' && c <= '9')   ? c - '0'
              : (c >= 'a' && c <= 'f') ? c - 'a' + 10
              : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                       : -1;
      if (x < 0) return false;
      *v = *v * 16 + static_cast<unsigned>(x);
    }
    return true;
  };
  std::uint64_t v;
  GUID g;
  if (!hex(1, 8, &v)) return false;
  g.Data1 = static_cast<std::uint32_t>(v);
  if (!hex(10, 4, &v)) return false;
  g.Data2 = static_cast<std::uint16_t>(v);
  if (!hex(15, 4, &v)) return false;
  g.Data3 = static_cast<std::uint16_t>(v);
  static constexpr int kBytes[] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!hex(kBytes[i], 2, &v)) return false;
    g.Data4[i] = static_cast<std::uint8_t>(v);
  }
  *out = g;
  return true;
}

CUnknown::CUnknown(const char* name, IUnknown* outer) : name_(name), owner_(outer) {}

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown) {
    *ppv = static_cast<INonDelegatingUnknown*>(this);
    NonDelegatingAddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef() { return ++refs_; }

ULONG CUnknown::NonDelegatingRelease() {
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT GetInterface(IUnknown* iface, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = iface;
  iface->AddRef();
  return S_OK;
}

void* CoTaskMemAlloc(std::size_t bytes) { return std::malloc(bytes ? bytes : 1); }
void CoTaskMemFree(void* block) { std::free(block); }

HRESULT GetSinglePage(CAUUID* pages, REFCLSID page) {
  if (!pages) return E_POINTER;
  pages->cElems = 0;
  pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
  if (!pages->pElems) return E_OUTOFMEMORY;
  pages->cElems = 1;
  pages->pElems[0] = page;
  return S_OK;
}

}  // namespace fh
