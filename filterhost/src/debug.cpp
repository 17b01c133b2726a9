#include "filterhost/debug.h"

namespace fh {

GstDebugCategory* DebugCategory(const char* name, const char* description) {
  GstDebugCategory* category = nullptr;
  GST_DEBUG_CATEGORY_INIT(category, name, 0, description);
  return category;
}

GstDebugCategory* BridgeDebug() {
  static GstDebugCategory* const category = DebugCategory("fhbridge", "Vireo filter host bridge");
  return category;
}

}  // namespace fh
