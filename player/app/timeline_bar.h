// The Controls dialog's progress bar with the clip's timeline behind the
// position: findings and the detector's flags per label family, in lanes.
#pragma once

#include <QProgressBar>

#include "timeline.h"

namespace vireo {

class TimelineBar : public QProgressBar {
  Q_OBJECT
 public:
  explicit TimelineBar(QWidget* parent = nullptr);

  void SetMarks(TimelineMarks marks);
  const TimelineMarks& Marks() const { return painter_.Marks(); }
  // Where the marks are painted: inside the bar's one-pixel frame, so that a
  // click at x seeks to the frame of column x - 1.
  QRect MarksArea() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TimelinePainter painter_;
};

}  // namespace vireo
