// Conversion between GStreamer caps and media types.
#pragma once

#include <gst/gst.h>

#include "filterhost/mediatype.h"

namespace fh {

// Caps of raw video are presented bottom-up (positive biHeight).
bool IsRawVideo(const GstStructure* s);

// A fixed caps structure as a media type; false for caps with no mapping.
bool StructureToMediaType(const GstStructure* s, CMediaType* mt);

// A media type as a caps structure; nullptr when it has no mapping. Fields
// the media type cannot express exactly (the frame-rate fraction, pixel
// aspect ratio, interlacing) are taken from `reference` when it describes
// the same rate.
GstStructure* MediaTypeToStructure(const AM_MEDIA_TYPE& mt, const GstStructure* reference);

// The media types probed to build an element's pad templates: one per
// format the bridge can carry, at a nominal size. Raw templates take any
// size and rate; compressed ones name none.
struct ProbeFormat {
  const char* capsName;
  const char* format;  // raw video format, or nullptr
  int fourcc;          // for video/x-avi-unknown
};
const ProbeFormat* ProbeFormats(int* count);
// The probe media type of one format.
CMediaType ProbeMediaType(const ProbeFormat& f);
// `s` as a template: any size and rate.
GstStructure* GeneralizeStructure(const GstStructure* s);

}  // namespace fh
