#include "comma_locale.h"

#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace vtest {
namespace {

constexpr const char* kName = "de_DE.UTF-8";

// glibc reads LOCPATH on every setlocale call.
bool Compiled() {
  static const bool compiled = [] {
    const std::string dir = std::filesystem::temp_directory_path() / ("vireo-locale-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string command = "localedef -i de_DE -f UTF-8 '" + dir + "/" + kName + "' > /dev/null 2>&1";
    std::system(command.c_str());
    setenv("LOCPATH", dir.c_str(), 1);
    return std::filesystem::exists(dir + "/" + kName);
  }();
  return compiled;
}

}  // namespace

CommaLocale::CommaLocale() : previous_(std::setlocale(LC_NUMERIC, nullptr)) {
  if (Compiled()) std::setlocale(LC_NUMERIC, kName);
}

CommaLocale::~CommaLocale() { std::setlocale(LC_NUMERIC, previous_.c_str()); }

bool CommaLocale::Active() const {
  char text[16];
  std::snprintf(text, sizeof text, "%.1f", 0.5);
  return std::string(text) == "0,5";
}

}  // namespace vtest
