// Measuring the detector against labelled frames (vireo-detect --truth): for
// each label, how many labelled positive frames it flags, how many frames
// without a finding it flags, and how many of the flagged positives have a
// flagged block inside the labelled box.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "block_record.h"

namespace vireo::detect {

// One labelled frame: CSV columns clip, frame, class and an optional box
// x0, y0, x1, y1 (picture pixels, top-down, ends exclusive). With a header
// line the columns are found by these names, other columns are ignored.
struct Label {
  enum class Kind { kBleeding, kUlcer, kNoFinding };
  struct Box {
    int x0, y0, x1, y1;
  };
  std::string clip;
  std::int64_t frame = 0;
  Kind kind = Kind::kNoFinding;
  std::optional<Box> box;
  int line = 0;
};

class LabelTable {
 public:
  // Reads the labels; false with `error` set when the file cannot be read.
  // Lines that cannot be used are left out, one message each in Problems().
  bool Load(const std::string& path, std::string* error);
  const std::vector<Label>& Labels() const { return labels_; }
  const std::vector<std::string>& Problems() const { return problems_; }
  const std::string& Path() const { return path_; }

 private:
  std::optional<Label> ParseLine(const std::vector<std::string>& fields, int line);
  void Refuse(int line, const std::string& why);

  std::string path_;
  std::vector<int> columns_;  // field index of clip, frame, class, x0, y0, x1, y1 (-1 absent)
  std::vector<Label> labels_;
  std::vector<std::string> problems_;
};

// What one clip's run recorded, by the names a label may use for it.
struct RecordedClip {
  std::string path;                       // as given on the command line; labels may also use its file name
  const BlockRecorder* record = nullptr;  // null when the run failed
};

// The evaluation table; labels that do not fit what was recorded (unknown
// clip, frame past the end, box outside the frame, a frame labelled twice)
// are left out with a message each in `problems`.
std::string Evaluate(const LabelTable& labels, const std::vector<RecordedClip>& clips,
                     std::vector<std::string>* problems);

}  // namespace vireo::detect
