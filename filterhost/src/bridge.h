// Internal: the bridge element type and access to the object it hosts.
#pragma once

#include <gst/gst.h>

#include "filterhost/com.h"

namespace fh {

GType BridgeGetType();
// The filter object an element hosts, or nullptr for other elements.
CUnknown* BridgeObject(GstElement* element);

}  // namespace fh
