// Colour and texture analysis of one capsule frame at 48 fixed places, and the
// per-place bleeding and ulcer decision. One engine serves one frame size.
//
// Frames are 3 bytes a pixel (blue, green, red), rows in buffer order, `stride`
// bytes a row. Channel images are one byte a pixel, rows of exactly `width`
// bytes. Coordinates are (column, row in buffer order).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace ostrel {

class WorkerPool;

class CAnalizaDetektor {
 public:
  static constexpr int kBlocks = 48;
  static constexpr int kFeatureSlots = 32;
  static constexpr int kFlagBytes = 16;
  static constexpr int kMinSize = 256;  // smaller frames are not analysed

  // Flag bytes of a block record, in label order.
  enum Flag : int { kBlood1 = 0, kUlcer1, kUlcer2, kUlcer3, kPatho1, kBlood2, kBlood3, kFlagCount };
  static constexpr std::array<const char*, kFlagCount> kFlagLabels = {" Blood1", " Ulcer1", " Ulcer2", " Ulcer3",
                                                                      " Patho1", " Blood2", " Blood3"};

  enum class Statistic { kMean, kPercentile90, kPercentile99 };
  enum class Haralick { kInverseDifferenceMoment, kSumAverage, kDifferenceEntropy };

  struct Point {
    int x;
    int y;
  };
  static Point BlockCentre(int block);  // block 0..47

  using FeatureVector = std::array<double, kFeatureSlots>;
  using FlagRecord = std::array<std::uint8_t, kFlagBytes>;

  // `threads` share the work of AnalyzeFrame, the caller's included; 0 takes
  // VIREO_THREADS or, without it, the number of processors.
  CAnalizaDetektor(int width, int height, int threads = 0);
  ~CAnalizaDetektor();
  CAnalizaDetektor(const CAnalizaDetektor&) = delete;
  CAnalizaDetektor& operator=(const CAnalizaDetektor&) = delete;

  int Width() const { return width_; }
  int Height() const { return height_; }

  // Measures all 48 places of `frame` (at least stride * height bytes) using
  // `channel` (at least width * height bytes) as scratch, then classifies them.
  // The channels are measured in parallel, each by one thread; the results do
  // not depend on the number of threads.
  // A null pointer, a size below 256 or a stride below 3 * width analyses
  // nothing and leaves every feature 0 and every flag clear.
  void AnalyzeFrame(int stride, const std::uint8_t* frame, std::uint8_t* channel);

  // Fills the whole channel image with channel `code` ("G", "*", "Q", "q", "u",
  // "v", "i", "S", "h", "x") and makes it the current channel image. Returns
  // false, converting nothing, for an unknown code or bad arguments.
  bool ConvertChannel(char code, int stride, const std::uint8_t* frame, std::uint8_t* channel);
  static bool IsChannelCode(char code);

  // Makes `channel` (width * height bytes) the image the measurements read.
  void UseChannelImage(const std::uint8_t* channel) { channel_ = channel; }

  // Disc histogram of the current channel image around (x, y). A disc that does
  // not lie wholly inside the image, or no image, counts no pixel; every
  // statistic of an empty histogram is not-a-number.
  void BuildDiscHistogram(int x, int y);
  double HistogramStatistic(Statistic kind) const;
  int HistogramPixelCount() const { return pixelCount_; }
  const std::array<std::uint32_t, 256>& Histogram() const { return histogram_; }

  // Co-occurrence matrix (32 grey levels) of the current channel image inside
  // the disc around (x, y) for displacement (dx, dy); the same disc rule as
  // above. Features of a matrix without pairs are not-a-number.
  void BuildCooccurrence(int dx, int dy, int x, int y);
  double CooccurrenceFeature(Haralick kind) const;
  int PairCount() const { return pairCount_; }     // twice the pairs counted
  std::uint32_t Cooccurrence(int a, int b) const;  // matrix cell, pairs counted both ways

  // Sets flags 0..6 of every block from its feature slots.
  void ClassifyBlocks();

  // Feature slots of a block (0..47); writable, to classify points of one's own.
  const FeatureVector& Features(int block) const { return features_[block]; }
  FeatureVector& Features(int block) { return features_[block]; }
  const FlagRecord& Flags(int block) const { return flags_[block]; }
  bool FrameShows(Flag flag) const;  // flag set in at least one block

 private:
  void Clear();
  bool DiscInside(int x, int y) const;
  void ConvertRow(char code, int stride, const std::uint8_t* frame, std::uint8_t* channel, int row, int firstColumn,
                  int lastColumn) const;
  struct Scratch;
  void MeasureSlot(int slotIndex, const std::uint8_t* channel, Scratch& scratch);
  void MeasurePairSlot(int slotIndex, const std::uint8_t* channel, Scratch& scratch);

  std::array<FeatureVector, kBlocks> features_{};
  std::array<FlagRecord, kBlocks> flags_{};
  int width_;
  int height_;
  int pixelCount_ = 0;
  int pairCount_ = 0;
  const std::uint8_t* channel_ = nullptr;
  // Counts are gathered in four parts, taking turns, and then summed.
  std::uint16_t pairParts_[4][1024] = {};  // each pair once, by first level * 32 + second
  std::uint16_t pairs_[1024] = {};         // the parts summed
  std::uint32_t histogramParts_[4][256] = {};
  std::array<std::uint32_t, 256> histogram_{};
  // The threads of AnalyzeFrame and the memory of each, made on first use.
  int threads_;
  std::unique_ptr<WorkerPool> pool_;
  std::vector<std::unique_ptr<Scratch>> scratch_;
};

}  // namespace ostrel
