// What the detector decided at each of its 48 places, frame by frame: the
// detector element's input is analysed a second time by the same analysis
// code, so that a run can dump the feature slots (--features) and be
// measured against labels (--truth), neither of which the findings file says.
#pragma once

#include <gst/gst.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ostrel/analysis/analiza_detektor.h"

namespace vireo::detect {

// Which classifiers flagged one block, one bit per label (bit = flag number).
using BlockFlags = std::array<std::uint8_t, ostrel::CAnalizaDetektor::kBlocks>;

// Block centre in picture pixels, top-down, as labels' boxes are given.
struct PictureCentre {
  int x, y;
};
PictureCentre PictureCentreOf(int block, int height);

// The feature slots the classifiers read, in their order (Blood1, Ulcer1,
// Ulcer2, Blood2 inputs), and the flags a feature row carries.
inline constexpr std::array<int, 13> kFeatureSlots = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 17, 18, 19};
inline constexpr std::array<ostrel::CAnalizaDetektor::Flag, 4> kClassifierFlags = {
    ostrel::CAnalizaDetektor::kBlood1, ostrel::CAnalizaDetektor::kUlcer1, ostrel::CAnalizaDetektor::kUlcer2,
    ostrel::CAnalizaDetektor::kBlood2};

// The header line of a feature table.
std::string FeatureHeader();

class BlockRecorder {
 public:
  // `clipName` is the clip column of feature rows; with `keepFeatures` the
  // rows are kept (in an anonymous temporary file) for AppendFeaturesTo.
  BlockRecorder(std::string clipName, bool keepFeatures);
  ~BlockRecorder();
  BlockRecorder(const BlockRecorder&) = delete;
  BlockRecorder& operator=(const BlockRecorder&) = delete;

  // Records the frames entering `detector` from now on, starting again at
  // frame 0 (a graph variant that was given up leaves nothing behind).
  void Attach(GstElement* detector);

  // Flags per frame, in the detector's frame order; frames that were not
  // analysed (too small) have every flag clear.
  const std::vector<BlockFlags>& Frames() const { return frames_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  // Empty, or why recording stopped (the rows are then incomplete).
  const std::string& Failure() const { return failure_; }

  // Hands the kept rows to `write` chunk by chunk; false with `error` set
  // when recording, reading them back or `write` failed.
  bool CopyFeatures(const std::function<bool(const char*, size_t)>& write, std::string* error) const;

 private:
  static GstPadProbeReturn OnBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer self);
  void Record(GstPad* pad, GstBuffer* buffer);
  void WriteRows(std::int64_t frame);

  std::string clipField_;  // the clip name as a CSV field
  bool keepFeatures_;
  std::FILE* rows_ = nullptr;
  std::unique_ptr<ostrel::CAnalizaDetektor> engine_;
  std::vector<std::uint8_t> bottomUp_, channel_;
  std::vector<BlockFlags> frames_;
  std::string line_;
  int width_ = 0, height_ = 0;
  std::string failure_;
};

}  // namespace vireo::detect
