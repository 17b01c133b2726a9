#include "clips.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

namespace ptest {

std::string ScratchDir() {
  static const std::string dir = [] {
    std::string d = std::filesystem::temp_directory_path() / ("vireo-player-test-" + std::to_string(getpid()));
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir;
}

std::string Clip(const std::string& ext, int frames, int size, const std::string& options) {
  static std::map<std::string, std::string> made;
  const std::string key = ext + std::to_string(frames) + "x" + std::to_string(size) + options;
  if (auto it = made.find(key); it != made.end()) return it->second;
  const std::string variant = options.empty() ? "" : "-v" + std::to_string(made.size());
  const std::string path =
      ScratchDir() + "/clip" + std::to_string(frames) + (size == 64 ? "" : "-" + std::to_string(size)) + variant + ext;
  const char* bin = std::getenv("VIREO_BIN_DIR");
  const std::string command = std::string(bin ? bin : ".") + "/vireo-synthclip '" + path + "' --frames " +
                              std::to_string(frames) + " --size " + std::to_string(size) + " " + options +
                              " > /dev/null";
  const std::string result = std::system(command.c_str()) == 0 ? path : std::string();
  made[key] = result;
  return result;
}

std::string WriteFile(const std::string& name, const std::string& bytes) {
  const std::string path = ScratchDir() + "/" + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

}  // namespace ptest
