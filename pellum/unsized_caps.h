// Registration of the pellum element for the caps avidemux really gives.
#pragma once

#include <gst/gst.h>

#include "filterhost/registry.h"

namespace pellum {

// Registers the bridge element of `t` like fh::RegisterFilter, with templates
// and caps that take vendor video without width, height or frame rate.
gboolean RegisterUnsizedElement(GstPlugin* plugin, const fh::CFactoryTemplate& t, const fh::ElementInfo& info);

}  // namespace pellum
