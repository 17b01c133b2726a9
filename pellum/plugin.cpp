// The GStreamer plugin "pellum": registration of the relabelling filter with
// a rank and a parser class, so that decodebin inserts it by itself between
// avidemux and a Motion JPEG decoder.
#include "filterhost/registry.h"
#include "pellum/pellum.h"

using namespace fh;

namespace {

constexpr DWORD kMerit = MERIT_UNLIKELY + 0x7B3;  // 0x4007B3

const AMOVIESETUP_MEDIATYPE kAnyType = {&GUID_NULL, &GUID_NULL};
const AMOVIESETUP_PIN kPins[] = {
    {"Input", FALSE, FALSE, FALSE, FALSE, &GUID_NULL, "Output", 1, &kAnyType},
    {"Output", FALSE, TRUE, FALSE, FALSE, &GUID_NULL, "Input", 1, &kAnyType},
};
const AMOVIESETUP_FILTER kSetup = {&CLSID_NullInPlace, "Vireo PELLUM", kMerit, 2, kPins};
// The page ("PELLUM Property Page") lives in the page library.
const CFactoryTemplate kTemplate = {"PELLUM", &CLSID_NullInPlace, CreateInstance<pellum::CNullInPlace>, nullptr,
                                    &kSetup};

const ElementInfo kElement = {"pellum", "Codec/Parser/Video",
                              "Offers capsule vendor \"MIL \" video as Motion JPEG, samples unchanged"};

gboolean PluginInit(GstPlugin* plugin) { return RegisterFilter(plugin, kTemplate, kElement); }

}  // namespace

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, pellum, "Vireo vendor subtype relabelling", PluginInit, "0.1",
                  "LGPL", "Vireo", "https://vireo.invalid")
