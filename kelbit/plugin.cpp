// The GStreamer plugin "kelbit": registration of the frame-capture filter.
#include "filterhost/registry.h"
#include "kelbit/kelbit.h"

using namespace fh;

namespace {

kelbit::CKelbitFilter* Kelbit(CUnknown* object) { return static_cast<kelbit::CKelbitFilter*>(object); }

const ElementProperty kProperties[] = {
    {"capture-file", "Bitmap file the next frame is written to (empty: none)", ElementProperty::Kind::String, 0, 0, 0,
     [](CUnknown* f, const GValue* v) {
       const char* path = g_value_get_string(v);
       Kelbit(f)->SetCaptureFile(path ? path : "");
     },
     [](CUnknown* f, GValue* v) {
       char name[kelbit::kMaxPath + 1];
       Kelbit(f)->GetCaptureFile(name);
       g_value_set_string(v, name);
     }},
};

const AMOVIESETUP_MEDIATYPE kAnyType = {&GUID_NULL, &GUID_NULL};
const AMOVIESETUP_PIN kPins[] = {
    {"Input", FALSE, FALSE, FALSE, FALSE, &GUID_NULL, nullptr, 1, &kAnyType},
    {"Output", FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, 1, &kAnyType},
};
const AMOVIESETUP_FILTER kSetup = {&CLSID_KelbitFilter, "Vireo Capture Bitmap", MERIT_DO_NOT_USE, 2, kPins};
const CFactoryTemplate kTemplate = {"Vireo Capture Bitmap", &CLSID_KelbitFilter, CreateInstance<kelbit::CKelbitFilter>,
                                    nullptr, &kSetup};

gboolean PluginInit(GstPlugin* plugin) {
  return RegisterFilter(plugin, kTemplate,
                        {"kelbit", "Filter/Video", "Writes one frame to a bitmap file on request", kProperties, 1});
}

}  // namespace

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, kelbit, "Vireo frame capture", PluginInit, "0.1", "LGPL",
                  "Vireo", "https://vireo.invalid")
