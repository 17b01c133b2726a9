// The GStreamer plug-in "ostrel": the pathology detector as the element
// "ostrel", its findings file also settable as the property "findings-file".
#include <gst/gst.h>

#include "filterhost/registry.h"
#include "ostrel/filtr_detektor.h"

using namespace fh;
using ostrel::CFiltrDetektor;

namespace {

const AMOVIESETUP_MEDIATYPE kAnyType = {&GUID_NULL, &GUID_NULL};
const AMOVIESETUP_PIN kPins[] = {
    {"Input", FALSE, FALSE, FALSE, FALSE, &GUID_NULL, "Output", 1, &kAnyType},
    {"Output", FALSE, TRUE, FALSE, FALSE, &GUID_NULL, "Input", 1, &kAnyType},
};
const AMOVIESETUP_FILTER kSetup = {&CLSID_FiltrDetektor, "Vireo Ostrelector", MERIT_DO_NOT_USE, 2, kPins};
const CFactoryTemplate kTemplate = {"Vireo Ostrelector", &CLSID_FiltrDetektor, CreateInstance<CFiltrDetektor>, nullptr,
                                    &kSetup};

const ElementProperty kProperties[] = {
    {"findings-file", "Findings text file written while frames pass (empty: none)", ElementProperty::Kind::String, 0, 0,
     0,
     [](CUnknown* f, const GValue* v) {
       const char* path = g_value_get_string(v);
       static_cast<CFiltrDetektor*>(f)->SetFindingsFile(path ? path : "");
     },
     [](CUnknown* f, GValue* v) {
       char name[CFiltrDetektor::kNameSize];
       static_cast<CFiltrDetektor*>(f)->GetFindingsFile(name);
       g_value_set_string(v, name);
     }},
};

gboolean PluginInit(GstPlugin* plugin) {
  return RegisterFilter(plugin, kTemplate,
                        {"ostrel", "Filter/Analyzer/Video",
                         "Marks bleeding and ulcer findings in capsule endoscopy frames", kProperties, 1});
}

}  // namespace

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, ostrel, "Vireo pathology detector", PluginInit, "0.1", "LGPL",
                  "Vireo", "https://vireo.invalid")
