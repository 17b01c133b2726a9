// Linked into every test program: the environment its tests rely on, set
// before main() so that GStreamer and Qt see it when they start. Values
// already in the environment win.
#include <cstdlib>

namespace {

struct TestEnvironment {
  TestEnvironment() {
    setenv("GST_PLUGIN_PATH", VIREO_TEST_PLUGIN_DIR, 0);
    setenv("GST_REGISTRY_1_0", VIREO_TEST_REGISTRY, 0);
    setenv("GST_REGISTRY_FORK", "no", 0);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("VIREO_DATA_DIR", VIREO_TEST_DATA_DIR, 0);
    setenv("VIREO_BIN_DIR", VIREO_TEST_BIN_DIR, 0);
  }
} const environment;

}  // namespace
