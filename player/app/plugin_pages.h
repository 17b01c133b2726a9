// The property pages of the plug-ins this build has page libraries for.
#pragma once

namespace vireo {

// Registers every linked page library with the page registry (once).
void RegisterPluginPages();

}  // namespace vireo
