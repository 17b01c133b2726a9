#include "block_report.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace vireo::detect {

bool BlockReport::Prepare(const std::string& featuresPath, const std::string& truthPath,
                          const std::vector<std::string>& clips, std::string* error) {
  featuresPath_ = featuresPath;
  truthPath_ = truthPath;
  std::error_code ec;
  if (!featuresPath_.empty()) {
    for (const std::string& input : clips)
      if (std::filesystem::equivalent(input, featuresPath_, ec)) {
        *error = "the feature table " + featuresPath_ + " would overwrite the clip " + input;
        return false;
      }
    if (!truthPath_.empty() && std::filesystem::equivalent(truthPath_, featuresPath_, ec)) {
      *error = "the feature table " + featuresPath_ + " would overwrite the labels";
      return false;
    }
    const std::filesystem::path folder = std::filesystem::path(featuresPath_).parent_path();
    if (std::filesystem::is_directory(featuresPath_, ec) ||
        (!folder.empty() && !std::filesystem::is_directory(folder, ec))) {
      *error = "cannot write the feature table " + featuresPath_;
      return false;
    }
  }
  if (truthPath_.empty()) return true;
  if (!labels_.Load(truthPath_, error)) return false;
  for (const std::string& problem : labels_.Problems()) std::fprintf(stderr, "vireo-detect: %s\n", problem.c_str());
  return true;
}

std::unique_ptr<BlockRecorder> BlockReport::RecorderFor(const std::string& clip) const {
  if (!Wanted()) return nullptr;
  return std::make_unique<BlockRecorder>(std::filesystem::path(clip).filename().string(), !featuresPath_.empty());
}

// The table goes to a temporary file beside the target, renamed over it when
// every row is written.
bool BlockReport::WriteFeatures(const std::vector<RecordedClip>& clips, std::string* error) {
  std::string temp = featuresPath_ + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  std::FILE* out = fd >= 0 ? fdopen(fd, "wb") : nullptr;
  if (!out) {
    *error = "cannot write the feature table " + featuresPath_ + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  std::string reason;
  auto write = [&](const char* data, size_t bytes) {
    if (std::fwrite(data, 1, bytes, out) == bytes) return true;
    reason = std::strerror(errno);
    return false;
  };
  const std::string header = FeatureHeader() + "\n";
  bool ok = write(header.data(), header.size());
  for (const RecordedClip& clip : clips) {
    if (!ok || !clip.record) continue;
    std::string failure;
    ok = clip.record->CopyFeatures(write, &failure);
    if (!failure.empty()) reason = clip.path + ": " + failure;
  }
  if (std::fclose(out) != 0 && ok) {
    reason = std::strerror(errno);
    ok = false;
  }
  if (ok && std::rename(temp.c_str(), featuresPath_.c_str()) != 0) {
    reason = std::strerror(errno);
    ok = false;
  }
  if (!ok) {
    std::remove(temp.c_str());
    *error = "cannot write the feature table " + featuresPath_ + ": " + reason;
  }
  return ok;
}

bool BlockReport::Finish(const std::vector<RecordedClip>& clips, std::string* error) {
  if (!featuresPath_.empty() && !WriteFeatures(clips, error)) return false;
  if (truthPath_.empty()) return true;
  std::vector<std::string> problems;
  const std::string table = Evaluate(labels_, clips, &problems);
  for (const std::string& problem : problems) std::fprintf(stderr, "vireo-detect: %s\n", problem.c_str());
  std::fputs(table.c_str(), stdout);
  std::fflush(stdout);
  const size_t leftOut = labels_.Problems().size() + problems.size();
  if (leftOut > 0) {
    *error = std::to_string(leftOut) + " label lines left out of the evaluation";
    return false;
  }
  return true;
}

}  // namespace vireo::detect
