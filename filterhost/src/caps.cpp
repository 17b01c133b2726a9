#include "caps.h"

#include <gst/video/video.h>

#include <cstring>
#include <numeric>

namespace fh {
namespace {

struct RawFormat {
  const char* gstFormat;
  const GUID* subtype;
  WORD bits;
  DWORD compression;
};

constexpr RawFormat kRawFormats[] = {
    {"BGR", &MEDIASUBTYPE_RGB24, 24, BI_RGB},
    {"BGRx", &MEDIASUBTYPE_RGB32, 32, BI_RGB},
    {"RGB16", &MEDIASUBTYPE_RGB565, 16, BI_BITFIELDS},
    {"RGB15", &MEDIASUBTYPE_RGB555, 16, BI_RGB},
};

constexpr ProbeFormat kProbes[] = {
    {"video/x-raw", "BGR", 0},
    {"video/x-raw", "BGRx", 0},
    {"video/x-raw", "RGB16", 0},
    {"video/x-raw", "RGB15", 0},
    {"image/jpeg", nullptr, 0},
    // Vendor video that avidemux cannot name; known vendor codes only.
    {"video/x-avi-unknown", nullptr, static_cast<int>(0x204C494D)},  // "MIL "
};

constexpr REFERENCE_TIME kUnitsPerSecond = 10000000;

REFERENCE_TIME FrameTime(int num, int den) {
  if (num <= 0 || den <= 0) return 0;
  return static_cast<REFERENCE_TIME>(kUnitsPerSecond * static_cast<double>(den) / num);
}

}  // namespace

bool IsRawVideo(const GstStructure* s) { return gst_structure_has_name(s, "video/x-raw"); }

bool StructureToMediaType(const GstStructure* s, CMediaType* mt) {
  int width = 0, height = 0, fpsN = 0, fpsD = 1;
  gst_structure_get_int(s, "width", &width);
  gst_structure_get_int(s, "height", &height);
  gst_structure_get_fraction(s, "framerate", &fpsN, &fpsD);
  if (width < 0 || height < 0) return false;
  const REFERENCE_TIME frameTime = FrameTime(fpsN, fpsD);
  if (IsRawVideo(s)) {
    const char* format = gst_structure_get_string(s, "format");
    if (!format) return false;
    for (const RawFormat& f : kRawFormats) {
      if (std::strcmp(format, f.gstFormat) != 0) continue;
      *mt = VideoInfoType(*f.subtype, width, height, f.bits, f.compression, frameTime);
      return true;
    }
    return false;
  }
  if (gst_structure_has_name(s, "image/jpeg")) {
    *mt = VideoInfoType(MEDIASUBTYPE_MJPG, width, height, 24, MEDIASUBTYPE_MJPG.Data1, frameTime);
    return true;
  }
  if (gst_structure_has_name(s, "video/x-avi-unknown")) {
    int fourcc = 0;
    if (!gst_structure_get_int(s, "fourcc", &fourcc)) return false;
    *mt = VideoInfoType(FourCCSubtype(static_cast<DWORD>(fourcc)), width, height, 24, static_cast<DWORD>(fourcc),
                        frameTime);
    return true;
  }
  return false;
}

GstStructure* MediaTypeToStructure(const AM_MEDIA_TYPE& mt, const GstStructure* reference) {
  if (!(mt.majortype == MEDIATYPE_Video) || !(mt.formattype == FORMAT_VideoInfo) || !mt.pbFormat ||
      mt.cbFormat < sizeof(VIDEOINFOHEADER))
    return nullptr;
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
  const int width = vih->bmiHeader.biWidth;
  const int height = vih->bmiHeader.biHeight < 0 ? -vih->bmiHeader.biHeight : vih->bmiHeader.biHeight;

  GstStructure* s = nullptr;
  DWORD fourcc = 0;
  for (const RawFormat& f : kRawFormats) {
    if (mt.subtype == *f.subtype && vih->bmiHeader.biBitCount == f.bits) {
      s = gst_structure_new("video/x-raw", "format", G_TYPE_STRING, f.gstFormat, nullptr);
      break;
    }
  }
  if (!s && mt.subtype == MEDIASUBTYPE_MJPG) s = gst_structure_new_empty("image/jpeg");
  if (!s && IsFourCCSubtype(mt.subtype, &fourcc))
    s = gst_structure_new("video/x-avi-unknown", "fourcc", G_TYPE_INT, static_cast<int>(fourcc), nullptr);
  if (!s) return nullptr;
  // Raw frames need a size; compressed streams may come without one (avidemux
  // gives unknown codecs no size), and then none is claimed.
  const bool raw = IsRawVideo(s);
  if (width > 0 && height > 0) {
    gst_structure_set(s, "width", G_TYPE_INT, width, "height", G_TYPE_INT, height, nullptr);
  } else if (raw) {
    gst_structure_free(s);
    return nullptr;
  }

  int refN = 0, refD = 1;
  if (reference && gst_structure_get_fraction(reference, "framerate", &refN, &refD) &&
      FrameTime(refN, refD) == vih->AvgTimePerFrame) {
    gst_structure_set(s, "framerate", GST_TYPE_FRACTION, refN, refD, nullptr);
  } else if (vih->AvgTimePerFrame > 0) {
    const auto g = std::gcd(kUnitsPerSecond, vih->AvgTimePerFrame);
    gst_structure_set(s, "framerate", GST_TYPE_FRACTION, static_cast<int>(kUnitsPerSecond / g),
                      static_cast<int>(vih->AvgTimePerFrame / g), nullptr);
  } else if (raw) {
    gst_structure_set(s, "framerate", GST_TYPE_FRACTION, 0, 1, nullptr);
  }
  // The picture's shape applies to raw frames and encoded ones alike, not
  // across a decoder.
  if (reference && raw == IsRawVideo(reference)) {
    for (const char* field : {"pixel-aspect-ratio", "interlace-mode"}) {
      const GValue* v = gst_structure_get_value(reference, field);
      if (v) gst_structure_set_value(s, field, v);
    }
  }
  return s;
}

const ProbeFormat* ProbeFormats(int* count) {
  *count = static_cast<int>(sizeof kProbes / sizeof kProbes[0]);
  return kProbes;
}

CMediaType ProbeMediaType(const ProbeFormat& f) {
  GstStructure* s = gst_structure_new_empty(f.capsName);
  if (f.format) gst_structure_set(s, "format", G_TYPE_STRING, f.format, nullptr);
  if (f.fourcc) gst_structure_set(s, "fourcc", G_TYPE_INT, f.fourcc, nullptr);
  gst_structure_set(s, "width", G_TYPE_INT, 64, "height", G_TYPE_INT, 48, "framerate", GST_TYPE_FRACTION, 25, 1,
                    nullptr);
  CMediaType mt;
  StructureToMediaType(s, &mt);
  gst_structure_free(s);
  return mt;
}

GstStructure* GeneralizeStructure(const GstStructure* s) {
  GstStructure* g = gst_structure_copy(s);
  gst_structure_remove_fields(g, "width", "height", "framerate", "pixel-aspect-ratio", "interlace-mode", nullptr);
  // Raw frames always have a size; compressed ones match with or without.
  if (IsRawVideo(g))
    gst_structure_set(g, "width", GST_TYPE_INT_RANGE, 1, G_MAXINT, "height", GST_TYPE_INT_RANGE, 1, G_MAXINT,
                      "framerate", GST_TYPE_FRACTION_RANGE, 0, 1, G_MAXINT, 1, nullptr);
  return g;
}

}  // namespace fh
