// GStreamer debug categories. Each hosted element logs under its factory
// name ("quorlin", "ostrel", "durmix", "pellum", "kelbit"), the bridge under
// "fhbridge": GST_DEBUG=quorlin:5 shows the MDR tracking filter's lines.
#pragma once

#include <gst/gst.h>

namespace fh {

// The category `name`. GStreamer keeps one category per name, so the bridge
// element and the filter it hosts log under the same one; the description
// of the first caller stays.
GstDebugCategory* DebugCategory(const char* name, const char* description);

// The bridge layer's own category: registration and hosting.
GstDebugCategory* BridgeDebug();

}  // namespace fh

// Defines `function()`, the category `name` created on first use. A source
// file then sets `#define GST_CAT_DEFAULT function()` and logs with GST_INFO
// and friends.
#define FH_DEBUG_CATEGORY(function, name, description)                              \
  static GstDebugCategory* function() {                                             \
    static GstDebugCategory* const category = fh::DebugCategory(name, description); \
    return category;                                                                \
  }
