#include "filterhost/lookup.h"

#include "bridge.h"

namespace fh {

bool FactoryClsid(GstElementFactory* factory, CLSID* clsid) {
  if (!factory) return false;
  const gchar* text = gst_element_factory_get_metadata(factory, kClsidMetadataKey);
  return text && GuidFromString(text, clsid);
}

GstElement* CreateElementByClsid(REFCLSID clsid, const char* name, HRESULT* hr) {
  HRESULT local = S_OK;
  if (!hr) hr = &local;
  GList* factories = gst_registry_get_feature_list(gst_registry_get(), GST_TYPE_ELEMENT_FACTORY);
  GstElement* element = nullptr;
  *hr = REGDB_E_CLASSNOTREG;
  for (GList* l = factories; l; l = l->next) {
    auto* factory = GST_ELEMENT_FACTORY(l->data);
    CLSID id;
    if (!FactoryClsid(factory, &id) || !(id == clsid)) continue;
    element = gst_element_factory_create(factory, name);
    *hr = element ? S_OK : E_OUTOFMEMORY;
    break;
  }
  gst_plugin_feature_list_free(factories);
  return element;
}

HRESULT QueryElementInterface(GstElement* element, REFIID iid, void** ppv) {
  if (!element || !ppv) return E_POINTER;
  *ppv = nullptr;
  CUnknown* object = BridgeObject(element);
  if (!object) return E_NOINTERFACE;
  return object->NonDelegatingQueryInterface(iid, ppv);
}

}  // namespace fh
