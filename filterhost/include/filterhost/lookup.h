// Plug-in lookup: elements created by the class identifier of the filter they
// host, and the hosted filter's interfaces.
#pragma once

#include <gst/gst.h>

#include "filterhost/com.h"

namespace fh {

constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);

// Creates a new element of the factory that carries `clsid` (floating
// reference, as gst_element_factory_make). nullptr with *hr =
// REGDB_E_CLASSNOTREG when no registered factory carries it.
GstElement* CreateElementByClsid(REFCLSID clsid, const char* name, HRESULT* hr);

// QueryInterface on the filter hosted by `element`. E_POINTER for null
// arguments, E_NOINTERFACE for elements that host no filter.
HRESULT QueryElementInterface(GstElement* element, REFIID iid, void** ppv);

// The class identifier carried by an element factory's metadata, if any.
bool FactoryClsid(GstElementFactory* factory, CLSID* clsid);

// Metadata key under which each bridge factory carries its CLSID.
constexpr const char* kClsidMetadataKey = "vireo-clsid";

}  // namespace fh
