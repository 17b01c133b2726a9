// The feature schedule of the 13 slots written out independently of the
// engine, and the slot-by-slot measurement of one scheduled feature through
// the engine's single-step calls. The whole-frame tests compare against it.
#pragma once

#include "ostrel/analysis/analiza_detektor.h"

namespace analysis_test {

struct Scheduled {
  int slot;
  char code;
  int kind;  // 0 mean, 1 p90, 2 p99, 3 idm, 4 sum average, 5 difference entropy
  int dx, dy;
};

inline constexpr Scheduled kSchedule[] = {
    {0, 'q', 5, 1, 0},  {1, 'v', 4, 3, 3},   {2, 'u', 0, 0, 0}, {3, 'x', 5, 1, -1}, {4, 'G', 1, 0, 0},
    {5, '*', 1, 0, 0},  {6, 'h', 3, 0, -3},  {7, 'S', 5, 1, 0}, {8, 'Q', 5, 0, -3}, {9, 'G', 5, 5, 0},
    {17, 'i', 2, 0, 0}, {18, 'u', 5, 0, -1}, {19, 'v', 1, 0, 0}};

// The feature `e` of `block`, measured on the channel image `reference`
// converted last (the caller converts e.code first).
inline double MeasureScheduled(ostrel::CAnalizaDetektor& reference, const Scheduled& e, int block) {
  using Detector = ostrel::CAnalizaDetektor;
  const Detector::Point c = Detector::BlockCentre(block);
  if (e.kind < 3) {
    reference.BuildDiscHistogram(c.x, c.y);
    return reference.HistogramStatistic(e.kind == 0   ? Detector::Statistic::kMean
                                        : e.kind == 1 ? Detector::Statistic::kPercentile90
                                                      : Detector::Statistic::kPercentile99);
  }
  reference.BuildCooccurrence(e.dx, e.dy, c.x, c.y);
  return reference.CooccurrenceFeature(e.kind == 3   ? Detector::Haralick::kInverseDifferenceMoment
                                       : e.kind == 4 ? Detector::Haralick::kSumAverage
                                                     : Detector::Haralick::kDifferenceEntropy);
}

}  // namespace analysis_test
