#include "timeline_bar.h"

#include <QPainter>

namespace vireo {

namespace {

const QColor kPosition(0, 0, 255);
const QColor kPlayed(0, 0, 255, 70);  // the marks show through the played part

}  // namespace

TimelineBar::TimelineBar(QWidget* parent) : QProgressBar(parent) { setTextVisible(false); }

void TimelineBar::SetMarks(TimelineMarks marks) {
  painter_.SetMarks(std::move(marks));
  update();
}

QRect TimelineBar::MarksArea() const { return rect().adjusted(1, 1, -1, -1); }

void TimelineBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Mid));
  const QRect area = MarksArea();
  painter.fillRect(area, palette().color(QPalette::Base));
  painter_.PaintMarks(&painter, area);
  const int span = maximum() - minimum();
  if (span <= 0 || value() < minimum()) return;
  const int played = static_cast<int>(static_cast<std::int64_t>(area.width()) * (value() - minimum()) / span);
  painter.fillRect(QRect(area.left(), area.top(), played, area.height()), kPlayed);
  painter.fillRect(QRect(area.left() + std::max(played - 2, 0), area.top(), 2, area.height()), kPosition);
}

}  // namespace vireo
