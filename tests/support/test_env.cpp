// Linked into every test program: the environment its tests rely on, set
// before main() so that GStreamer and Qt see it when they start. Values
// already in the environment win.
//
// Each test program also gets a temporary folder of its own (TMPDIR, which
// the programs it starts inherit), removed when it exits, so that the
// clips and files a run makes never pile up in the system's temporary folder.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

struct TestEnvironment {
  TestEnvironment() {
    setenv("GST_PLUGIN_PATH", VIREO_TEST_PLUGIN_DIR, 0);
    setenv("GST_REGISTRY_1_0", VIREO_TEST_REGISTRY, 0);
    setenv("GST_REGISTRY_FORK", "no", 0);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("VIREO_DATA_DIR", VIREO_TEST_DATA_DIR, 0);
    setenv("VIREO_BIN_DIR", VIREO_TEST_BIN_DIR, 0);
    std::string pattern = std::filesystem::temp_directory_path() / "vireo-test-XXXXXX";
    if (mkdtemp(pattern.data())) {
      scratch = pattern;
      setenv("TMPDIR", scratch.c_str(), 1);
    }
  }
  // Only the process that made the folder removes it: a forked child that
  // exits normally must not take its parent's files away.
  ~TestEnvironment() {
    if (scratch.empty() || getpid() != owner) return;
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
  }
  std::string scratch;
  pid_t owner = getpid();
} const environment;

}  // namespace
