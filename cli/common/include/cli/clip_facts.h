// What a clip's container announces, to check a run's totals against.
#pragma once

#include <cstdint>
#include <string>

namespace vireo::cli {

// The frame count an AVI file's main header announces, or -1 for other
// files. A damaged or truncated AVI often decodes without an error and only
// ends early.
std::int64_t AviAnnouncedFrames(const std::string& path);

}  // namespace vireo::cli
