#include "block_report.h"

#include <cstdio>
#include <filesystem>

#include "filterhost/atomic_file.h"

namespace vireo::detect {

bool BlockReport::Prepare(const std::string& featuresPath, const std::string& truthPath,
                          const std::vector<std::string>& clips, std::string* error) {
  featuresPath_ = featuresPath;
  truthPath_ = truthPath;
  if (!featuresPath_.empty()) {
    for (const std::string& input : clips)
      if (fh::SameFile(input, featuresPath_)) {
        *error = "the feature table " + featuresPath_ + " would overwrite the clip " + input;
        return false;
      }
    if (!truthPath_.empty() && fh::SameFile(truthPath_, featuresPath_)) {
      *error = "the feature table " + featuresPath_ + " would overwrite the labels";
      return false;
    }
    std::string why;
    if (!fh::CheckOutputPath(featuresPath_, &why)) {
      *error = "cannot write the feature table " + featuresPath_ + ": " + why;
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

bool BlockReport::WriteFeatures(const std::vector<RecordedClip>& clips, std::string* error) {
  fh::AtomicFile out(featuresPath_);
  bool ok = out.Open() && out.Write(FeatureHeader() + "\n");
  std::string failure;
  for (const RecordedClip& clip : clips) {
    if (!ok || !clip.record) continue;
    ok = clip.record->CopyFeatures([&](const char* data, size_t bytes) { return out.Write(data, bytes); }, &failure);
    if (!failure.empty()) failure = clip.path + ": " + failure;
  }
  if (ok && out.Commit()) return true;
  out.Discard();
  *error = "cannot write the feature table " + (failure.empty() ? out.Error() : failure);
  return false;
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
