// The GStreamer plug-in "quorlin": the MDR tracking filter as element "quorlin".
#include "filterhost/registry.h"
#include "quorlin.h"

using namespace fh;

namespace {

const AMOVIESETUP_MEDIATYPE kAnyType = {&GUID_NULL, &GUID_NULL};
const AMOVIESETUP_PIN kPins[] = {
    {"Input", FALSE, FALSE, FALSE, FALSE, &GUID_NULL, nullptr, 1, &kAnyType},
    {"Output", FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, 1, &kAnyType},
};
const AMOVIESETUP_FILTER kSetup = {&CLSID_Quorlin, "Vireo Deformable Rings", MERIT_DO_NOT_USE, 2, kPins};

// The property page is registered by its own library (RegisterQuorlinPages).
const CFactoryTemplate kFilterTemplate = {"Model of Deformable Rings", &CLSID_Quorlin,
                                          CreateInstance<quorlin::CQuorlin>, nullptr, &kSetup};

quorlin::CQuorlin* Filter(CUnknown* object) { return static_cast<quorlin::CQuorlin*>(object); }

const ElementProperty kProperties[] = {
    {"map-file", "MDR map written from the next initialisation (empty: map_<time>.bmp)", ElementProperty::Kind::String,
     0, 0, 0,
     [](CUnknown* f, const GValue* v) {
       const char* path = g_value_get_string(v);
       Filter(f)->SetFileName(path ? path : "");
     },
     [](CUnknown* f, GValue* v) { g_value_set_string(v, Filter(f)->FileName().c_str()); }},
    {"look", "How the grid is drawn: 1 points, 2 crosses, 3 lines", ElementProperty::Kind::Int, kLookPoints, kLookLines,
     kLookLines,
     [](CUnknown* f, const GValue* v) {
       GRID_LOOK look{};
       Filter(f)->GetLook(&look);
       look.Mode = g_value_get_int(v);
       Filter(f)->SetLook(&look);
     },
     [](CUnknown* f, GValue* v) {
       GRID_LOOK look{};
       Filter(f)->GetLook(&look);
       g_value_set_int(v, look.Mode);
     }},
};

gboolean PluginInit(GstPlugin* plugin) {
  return RegisterFilter(
      plugin, kFilterTemplate,
      {"quorlin", "Filter/Analyzer/Video",
       "Tracks the gut wall with the model of deformable rings, writes the MDR map and draws the grid", kProperties,
       2});
}

}  // namespace

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, quorlin, "Vireo MDR tracking filter", PluginInit, "0.1", "LGPL",
                  "Vireo", "https://vireo.invalid")
