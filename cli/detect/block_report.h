// The per-block outputs of a vireo-detect batch: the feature table of every
// frame (--features) and the evaluation against labelled frames (--truth).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "block_record.h"
#include "truth.h"

namespace vireo::detect {

class BlockReport {
 public:
  // Reads the labels and checks the feature table's target before any clip
  // runs; false with `error` set when either cannot be used. Problems of
  // single label lines are printed on stderr at once.
  bool Prepare(const std::string& featuresPath, const std::string& truthPath, const std::vector<std::string>& clips,
               std::string* error);
  bool Wanted() const { return !featuresPath_.empty() || !truthPath_.empty(); }

  // The recorder for one clip's run, or null when nothing per block is asked.
  std::unique_ptr<BlockRecorder> RecorderFor(const std::string& clip) const;

  // After the runs: writes the feature table of the clips that ran and
  // prints the evaluation; false with `error` set when the table cannot be
  // written or label lines were left out.
  bool Finish(const std::vector<RecordedClip>& clips, std::string* error);

 private:
  bool WriteFeatures(const std::vector<RecordedClip>& clips, std::string* error);

  std::string featuresPath_, truthPath_;
  LabelTable labels_;
};

}  // namespace vireo::detect
