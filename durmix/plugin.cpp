// The GStreamer plugin "durmix": registration of the frame multiplicator.
#include "durmix/durmix.h"
#include "durmix/modes.h"
#include "filterhost/registry.h"

using namespace fh;

namespace {

durmix::CDurmix* Durmix(CUnknown* object) { return static_cast<durmix::CDurmix*>(object); }

// The element properties set both counts through SetMode, as the player does,
// naming the page button that shows them.
void SetCounts(CUnknown* object, std::int32_t columns, std::int32_t rows) {
  Durmix(object)->SetMode(durmix::ModeIdFor(columns, rows), columns, rows);
}

struct ModeNow {
  std::int32_t id = 0, columns = 1, rows = 1;
  explicit ModeNow(CUnknown* object) { Durmix(object)->GetMode(&id, &columns, &rows); }
};

const ElementProperty kProperties[] = {
    {"columns", "Tiles across (1 to 6)", ElementProperty::Kind::Int, 1, durmix::kMaxColumns, 1,
     [](CUnknown* f, const GValue* v) { SetCounts(f, g_value_get_int(v), ModeNow(f).rows); },
     [](CUnknown* f, GValue* v) { g_value_set_int(v, ModeNow(f).columns); }},
    {"rows", "Tiles down (1 to 4)", ElementProperty::Kind::Int, 1, durmix::kMaxRows, 1,
     [](CUnknown* f, const GValue* v) { SetCounts(f, ModeNow(f).columns, g_value_get_int(v)); },
     [](CUnknown* f, GValue* v) { g_value_set_int(v, ModeNow(f).rows); }},
};

const AMOVIESETUP_MEDIATYPE kVideoAny = {&MEDIATYPE_Video, &GUID_NULL};
const AMOVIESETUP_PIN kPins[] = {
    {"Input", FALSE, FALSE, FALSE, FALSE, &GUID_NULL, nullptr, 1, &kVideoAny},
    {"Output", FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, 1, &kVideoAny},
};
const AMOVIESETUP_FILTER kSetup = {&CLSID_Durmix, "Vireo Frame Multiplicator", MERIT_DO_NOT_USE, 2, kPins};

// The page ("Frame Multiplicator Properties") lives in the page library.
const CFactoryTemplate kTemplate = {"Vireo Frame Multiplicator", &CLSID_Durmix, CreateInstance<durmix::CDurmix>,
                                    nullptr, &kSetup};

gboolean PluginInit(GstPlugin* plugin) {
  return RegisterFilter(
      plugin, kTemplate,
      {"durmix", "Filter/Effect/Video", "Shows consecutive frames side by side as a mosaic", kProperties, 2});
}

}  // namespace

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, durmix, "Vireo frame multiplicator", PluginInit, "0.1", "LGPL",
                  "Vireo", "https://vireo.invalid")
