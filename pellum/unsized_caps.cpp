// avidemux names vendor video it cannot decode "video/x-avi-unknown,
// fourcc=N" with no width, height or frame rate. The filter host's bridge
// gives every template and every caps it builds those fields, so decodebin,
// which wants a demuxer's fixed caps to be a subset of an element's sink
// template, would never choose pellum, and the element could not describe
// its output for such input. Until the bridge maps unsized compressed caps,
// this file mends the element's templates and caps:
// - the factory is first registered with unsized templates (a later
//   registration of the same name by the same plugin only updates the type,
//   so the bridge's registration keeps them);
// - the bridge class gets the same templates for its pads;
// - caps transforms of unsized vendor caps run the filter on a sized copy and
//   drop the size fields again.
#include "pellum/unsized_caps.h"

#include <gst/base/gstbasetransform.h>

#include <string>

#include "filterhost/lookup.h"
#include "pellum/pellum.h"

namespace pellum {
namespace {

constexpr const char* kSizeFields[] = {"width", "height", "framerate"};

struct Registration {
  const fh::CFactoryTemplate* tmpl;
  const fh::ElementInfo* info;
  std::string clsid;
};
const Registration* g_registration = nullptr;
decltype(GstBaseTransformClass::transform_caps) g_bridgeTransformCaps = nullptr;

GstCaps* SinkTemplateCaps() {
  return gst_caps_new_simple("video/x-avi-unknown", "fourcc", G_TYPE_INT, static_cast<int>(kVendorFourCC), nullptr);
}

void AddTemplates(GstElementClass* klass) {
  GstCaps* sink = SinkTemplateCaps();
  GstCaps* src = gst_caps_new_empty_simple("image/jpeg");
  gst_element_class_add_pad_template(klass, gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS, sink));
  gst_element_class_add_pad_template(klass, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, src));
  gst_caps_unref(sink);
  gst_caps_unref(src);
}

// Only describes the factory: metadata and templates of the element.
void FactoryClassInit(gpointer klass, gpointer) {
  auto* element = GST_ELEMENT_CLASS(klass);
  gst_element_class_set_static_metadata(element, g_registration->tmpl->m_pAMovieSetup_Filter->strName,
                                        g_registration->info->klass, g_registration->info->description, "Vireo");
  gst_element_class_add_metadata(element, fh::kClsidMetadataKey, g_registration->clsid.c_str());
  AddTemplates(element);
}

GType FactoryType() {
  static GType type = [] {
    GTypeInfo info{};
    info.class_size = sizeof(GstElementClass);
    info.class_init = FactoryClassInit;
    info.instance_size = sizeof(GstElement);
    return g_type_register_static(GST_TYPE_ELEMENT, "PellumFactoryTemplates", &info, G_TYPE_FLAG_ABSTRACT);
  }();
  return type;
}

bool IsUnsizedVendor(const GstStructure* s) {
  return gst_structure_has_name(s, "video/x-avi-unknown") &&
         (!gst_structure_has_field(s, "width") || !gst_structure_has_field(s, "height"));
}

void RemoveFieldsAbsentFrom(GstCaps* caps, const GstStructure* from) {
  for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
    GstStructure* s = gst_caps_get_structure(caps, i);
    for (const char* field : kSizeFields)
      if (!gst_structure_has_field(from, field)) gst_structure_remove_field(s, field);
  }
}

GstCaps* TransformCaps(GstBaseTransform* trans, GstPadDirection direction, GstCaps* caps, GstCaps* filter) {
  GstCaps* result = gst_caps_new_empty();
  for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
    const GstStructure* s = gst_caps_get_structure(caps, i);
    GstStructure* asked = gst_structure_copy(s);
    const bool unsized = direction == GST_PAD_SINK && IsUnsizedVendor(s);
    if (unsized) {
      // Any size: the relabelling does not depend on it.
      if (!gst_structure_has_field(asked, "width")) gst_structure_set(asked, "width", G_TYPE_INT, 1, nullptr);
      if (!gst_structure_has_field(asked, "height")) gst_structure_set(asked, "height", G_TYPE_INT, 1, nullptr);
    }
    GstCaps* one = gst_caps_new_full(asked, nullptr);
    GstCaps* out = g_bridgeTransformCaps(trans, direction, one, nullptr);
    gst_caps_unref(one);
    if (unsized) RemoveFieldsAbsentFrom(out, s);
    if (direction == GST_PAD_SRC) {
      // Upstream may leave the size out.
      out = gst_caps_make_writable(out);
      for (guint j = 0; j < gst_caps_get_size(out); ++j)
        if (gst_structure_has_name(gst_caps_get_structure(out, j), "video/x-avi-unknown"))
          gst_structure_remove_fields(gst_caps_get_structure(out, j), "width", "height", "framerate", nullptr);
    }
    result = gst_caps_merge(result, out);
  }
  if (filter) {
    GstCaps* both = gst_caps_intersect_full(filter, result, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(result);
    result = both;
  }
  return result;
}

}  // namespace

gboolean RegisterUnsizedElement(GstPlugin* plugin, const fh::CFactoryTemplate& t, const fh::ElementInfo& info) {
  static const Registration registration{&t, &info, fh::GuidToString(*t.m_ClsID)};
  g_registration = &registration;
  const GstRank rank = fh::RankFromMerit(t.m_pAMovieSetup_Filter->dwMerit);
  if (!gst_element_register(plugin, info.elementName, rank, FactoryType())) return FALSE;
  if (!fh::RegisterFilter(plugin, t, info)) return FALSE;

  GstElementFactory* factory = gst_element_factory_find(info.elementName);
  if (!factory) return FALSE;
  const GType type = gst_element_factory_get_element_type(factory);
  gst_object_unref(factory);
  if (!g_type_is_a(type, GST_TYPE_BASE_TRANSFORM)) return FALSE;
  // The class stays referenced for the life of the process, as element
  // classes do.
  auto* klass = static_cast<GstBaseTransformClass*>(g_type_class_ref(type));
  if (klass->transform_caps != TransformCaps) {
    g_bridgeTransformCaps = klass->transform_caps;
    klass->transform_caps = TransformCaps;
    AddTemplates(GST_ELEMENT_CLASS(klass));
  }
  return TRUE;
}

}  // namespace pellum
