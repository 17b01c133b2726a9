// Where along a clip the findings and the detector's flags lie: the marks of
// the Controls dialog's progress bar and the timeline picture of the report.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <cstdint>
#include <vector>

#include "findings_file.h"

class QPainter;

namespace vireo {

struct TimelineMarks {
  std::int64_t frames = 0;                 // length of the clip
  std::vector<std::int64_t> findings;      // frames of the findings list
  std::vector<std::int64_t> blood, ulcer;  // frames the detector flagged, by family
};

// The marks of a findings list and of the pathology run's findings (either
// may hold detector lines; the reviewer's own notes mark only the findings).
TimelineMarks CollectMarks(std::int64_t frames, const std::vector<Finding>& list,
                           const std::vector<Finding>& detector = {});

struct VelocityPoint {
  std::int64_t frame;
  float velocity;
};

class TimelinePainter {
 public:
  enum Lane : int { kFindings, kBlood, kUlcer, kLaneCount };
  static QColor Colour(Lane lane);
  // Column of `frame` in a bar `width` pixels wide over `frames` frames; -1
  // for frames outside the clip.
  static int Column(std::int64_t frame, std::int64_t frames, int width);
  // Band of `lane` in `area`: three equal bands, findings on top.
  static QRect LaneRect(const QRect& area, Lane lane);

  void SetMarks(TimelineMarks marks) { marks_ = std::move(marks); }
  const TimelineMarks& Marks() const { return marks_; }

  // One band per lane. Marks in neighbouring columns merge into bars; a mark
  // keeps at least one column however long the clip.
  void PaintMarks(QPainter* painter, const QRect& area) const;

 private:
  TimelineMarks marks_;
};

// The whole clip as the report shows it: labelled lanes, a time scale and,
// when given, the velocity of the MDR map as a curve.
QImage TimelinePicture(const TimelineMarks& marks, double frameRate, const std::vector<VelocityPoint>& velocity,
                       QSize size);

}  // namespace vireo
