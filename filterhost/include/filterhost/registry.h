// Plug-in registration: the template table a plug-in declares, and the call
// its GStreamer plugin_init makes to turn it into element factories.
#pragma once

#include <gst/gst.h>

#include <new>

#include "filterhost/com.h"

namespace fh {

constexpr DWORD MERIT_PREFERRED = 0x800000;
constexpr DWORD MERIT_NORMAL = 0x600000;
constexpr DWORD MERIT_UNLIKELY = 0x400000;
constexpr DWORD MERIT_DO_NOT_USE = 0x200000;

struct AMOVIESETUP_MEDIATYPE {
  const GUID* clsMajorType;
  const GUID* clsMinorType;
};

struct AMOVIESETUP_PIN {
  const char* strName;
  BOOL bRendered;
  BOOL bOutput;
  BOOL bZero;
  BOOL bMany;
  const CLSID* clsConnectsToFilter;
  const char* strConnectsToPin;
  unsigned nMediaTypes;
  const AMOVIESETUP_MEDIATYPE* lpMediaType;
};

struct AMOVIESETUP_FILTER {
  const CLSID* clsID;
  const char* strName;
  DWORD dwMerit;
  unsigned nPins;
  const AMOVIESETUP_PIN* lpPin;
};

using LPFNNewCOMObject = CUnknown* (*)(IUnknown* outer, HRESULT* hr);

// The creation function of a template for the filter class `Filter`:
// E_OUTOFMEMORY in *hr and null when there is no memory for it.
template <class Filter>
CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr) {
  auto* filter = new (std::nothrow) Filter(outer);
  if (!filter && hr) *hr = E_OUTOFMEMORY;
  return filter;
}

struct CFactoryTemplate {
  const char* m_Name;
  const CLSID* m_ClsID;
  LPFNNewCOMObject m_lpfnNew;
  void (*m_lpfnInit)(BOOL loading, const CLSID* clsid);
  const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter;
};

// GStreamer's view of a merit: decodebin autoplugs marginal and above.
GstRank RankFromMerit(DWORD merit);

// A GObject property of a bridge element, read and written through the
// hosted filter (normally its custom interface).
struct ElementProperty {
  enum class Kind { String, Int };
  const char* name;  // e.g. "map-file"
  const char* blurb;
  Kind kind;
  int minimum, maximum, defaultValue;  // Int properties only
  void (*set)(CUnknown* filter, const GValue* value);
  void (*get)(CUnknown* filter, GValue* value);
};

// How a filter template appears as a GStreamer element.
struct ElementInfo {
  const char* elementName;  // factory name, e.g. "quorlin"
  const char* klass;        // e.g. "Filter/Analyzer/Video"
  const char* description;
  const ElementProperty* properties = nullptr;
  int propertyCount = 0;
};

// Registers one element factory for the filter template `t` (templates
// without setup data, such as property pages, are not elements). Called from
// a plug-in's plugin_init.
gboolean RegisterFilter(GstPlugin* plugin, const CFactoryTemplate& t, const ElementInfo& info);

// Creates the C++ filter of a template by its creation function, holding one
// reference; nullptr with the creation result in *hr on failure.
CUnknown* CreateFromTemplate(const CFactoryTemplate& t, HRESULT* hr);

}  // namespace fh
