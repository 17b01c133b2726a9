#include "plugin_pages.h"

// Each page library exports one registration function; CMake defines the
// VIREO_HAVE_*_PAGE macros for the libraries that exist in this build.
#ifdef VIREO_HAVE_QUORLIN_PAGE
void RegisterQuorlinPages();
#endif
#ifdef VIREO_HAVE_OSTREL_PAGE
void RegisterOstrelPages();
#endif
#ifdef VIREO_HAVE_DURMIX_PAGE
void RegisterDurmixPages();
#endif
#ifdef VIREO_HAVE_PELLUM_PAGE
void RegisterPellumPages();
#endif

namespace vireo {

void RegisterPluginPages() {
  static const bool registered = [] {
#ifdef VIREO_HAVE_QUORLIN_PAGE
    RegisterQuorlinPages();
#endif
#ifdef VIREO_HAVE_OSTREL_PAGE
    RegisterOstrelPages();
#endif
#ifdef VIREO_HAVE_DURMIX_PAGE
    RegisterDurmixPages();
#endif
#ifdef VIREO_HAVE_PELLUM_PAGE
    RegisterPellumPages();
#endif
    return true;
  }();
  (void)registered;
}

}  // namespace vireo
