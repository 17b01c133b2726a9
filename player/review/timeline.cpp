#include "timeline.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "detector_labels.h"
#include "clock_text.h"

namespace vireo {

TimelineMarks CollectMarks(std::int64_t frames, const std::vector<Finding>& list,
                           const std::vector<Finding>& detector) {
  TimelineMarks marks;
  marks.frames = frames;
  auto addFlags = [&marks](const Finding& finding) {
    for (int label : DetectorLabels(finding.text)) {
      const LabelFamily family = DetectorLabelFamily(label);
      if (family == LabelFamily::kBlood) marks.blood.push_back(finding.frame);
      if (family == LabelFamily::kUlcer) marks.ulcer.push_back(finding.frame);
    }
  };
  for (const Finding& finding : list) {
    marks.findings.push_back(finding.frame);
    addFlags(finding);
  }
  for (const Finding& finding : detector) addFlags(finding);
  return marks;
}

QColor TimelinePainter::Colour(Lane lane) {
  switch (lane) {
    case kFindings: return QColor(255, 150, 0);
    case kBlood: return QColor(215, 0, 0);
    default: return QColor(0, 165, 80);
  }
}

int TimelinePainter::Column(std::int64_t frame, std::int64_t frames, int width) {
  if (frames <= 0 || width <= 0 || frame < 0 || frame >= frames) return -1;
  return static_cast<int>(frame * width / frames);
}

QRect TimelinePainter::LaneRect(const QRect& area, Lane lane) {
  const int top = area.top() + area.height() * lane / kLaneCount;
  const int bottom = area.top() + area.height() * (lane + 1) / kLaneCount;
  return QRect(area.left(), top, area.width(), bottom - top);
}

void TimelinePainter::PaintMarks(QPainter* painter, const QRect& area) const {
  const std::vector<std::int64_t>* lanes[kLaneCount] = {&marks_.findings, &marks_.blood, &marks_.ulcer};
  std::vector<char> used(static_cast<std::size_t>(std::max(area.width(), 0)));
  for (int lane = 0; lane < kLaneCount; ++lane) {
    std::fill(used.begin(), used.end(), 0);
    for (std::int64_t frame : *lanes[lane]) {
      const int column = Column(frame, marks_.frames, area.width());
      if (column >= 0) used[column] = 1;
    }
    const QRect band = LaneRect(area, static_cast<Lane>(lane));
    const QColor colour = Colour(static_cast<Lane>(lane));
    for (int x = 0; x < area.width();) {
      if (!used[x]) {
        ++x;
        continue;
      }
      int end = x;
      while (end < area.width() && used[end]) ++end;
      painter->fillRect(QRect(area.left() + x, band.top(), end - x, band.height()), colour);
      x = end;
    }
  }
}

QImage TimelinePicture(const TimelineMarks& marks, double frameRate, const std::vector<VelocityPoint>& velocity,
                       QSize size) {
  // Twice the pixels of its size, so the picture stays sharp on paper.
  QImage image(size * 2, QImage::Format_RGB32);
  image.setDevicePixelRatio(2);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing, false);
  QFont font = painter.font();
  font.setPixelSize(11);
  painter.setFont(font);

  constexpr int kLabelWidth = 70, kScaleHeight = 18, kLaneHeight = 16;
  const bool curve = !velocity.empty();
  const int plotWidth = size.width() - kLabelWidth - 8;
  const QRect lanes(kLabelWidth, 4, plotWidth, kLaneHeight * TimelinePainter::kLaneCount);
  const QRect curveArea(kLabelWidth, lanes.bottom() + 6, plotWidth,
                        size.height() - lanes.bottom() - 6 - kScaleHeight - 4);

  const char* names[] = {"Findings", "Blood", "Ulcer"};
  for (int lane = 0; lane < TimelinePainter::kLaneCount; ++lane) {
    const QRect band = TimelinePainter::LaneRect(lanes, static_cast<TimelinePainter::Lane>(lane));
    painter.fillRect(band.adjusted(0, 1, 0, -1), QColor(238, 238, 238));
    painter.setPen(Qt::black);
    painter.drawText(QRect(0, band.top(), kLabelWidth - 6, band.height()), Qt::AlignRight | Qt::AlignVCenter,
                     QString::fromLatin1(names[lane]));
  }
  TimelinePainter marksPainter;
  marksPainter.SetMarks(marks);
  marksPainter.PaintMarks(&painter, lanes);

  if (curve && curveArea.height() > 10) {
    painter.setPen(Qt::black);
    painter.drawText(QRect(0, curveArea.top(), kLabelWidth - 6, curveArea.height()), Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("Velocity"));
    painter.setPen(QColor(200, 200, 200));
    painter.drawRect(curveArea.adjusted(0, 0, -1, -1));
    // Per column the lowest and highest value, so a long map draws in
    // constant time and no peak is lost.
    std::vector<float> low(plotWidth, 0), high(plotWidth, 0);
    std::vector<char> seen(plotWidth, 0);
    float largest = 0;
    for (const VelocityPoint& point : velocity) {
      const int column = TimelinePainter::Column(point.frame, marks.frames, plotWidth);
      if (column < 0 || !std::isfinite(point.velocity)) continue;
      largest = std::max(largest, std::fabs(point.velocity));
      if (!seen[column]) {
        low[column] = high[column] = point.velocity;
        seen[column] = 1;
      } else {
        low[column] = std::min(low[column], point.velocity);
        high[column] = std::max(high[column], point.velocity);
      }
    }
    const bool signedValues = std::any_of(low.begin(), low.end(), [](float v) { return v < 0; });
    const double zero = signedValues ? curveArea.center().y() : curveArea.bottom() - 1;
    const double scale =
        largest > 0 ? (signedValues ? curveArea.height() / 2.0 - 2 : curveArea.height() - 3) / largest : 0.0;
    painter.setPen(QColor(0, 0, 160));
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPointF previous(-1, 0);  // middle of the last column with a value
    for (int x = 0; x < plotWidth; ++x) {
      if (!seen[x]) continue;
      const double left = curveArea.left() + x + 0.5;
      painter.drawLine(QPointF(left, zero - high[x] * scale), QPointF(left, zero - low[x] * scale));
      const QPointF middle(left, zero - (low[x] + high[x]) / 2 * scale);
      if (previous.x() >= 0) painter.drawLine(previous, middle);
      previous = middle;
    }
  }

  // Time scale: about eight ticks at whole seconds.
  const int scaleTop = size.height() - kScaleHeight - 2;
  painter.setPen(Qt::black);
  painter.drawLine(lanes.left(), scaleTop, lanes.right(), scaleTop);
  for (int tick = 0; tick <= 8 && marks.frames > 0; ++tick) {
    const std::int64_t frame = marks.frames * tick / 8;
    const int x = lanes.left() + static_cast<int>(static_cast<std::int64_t>(plotWidth) * tick / 8);
    painter.drawLine(x, scaleTop, x, scaleTop + 4);
    const QString text = QString::fromStdString(ClockText(frame, frameRate));
    const int align = tick == 0 ? Qt::AlignLeft : tick == 8 ? Qt::AlignRight : Qt::AlignHCenter;
    const QRect box = tick == 0   ? QRect(x, scaleTop + 4, 80, 14)
                      : tick == 8 ? QRect(x - 80, scaleTop + 4, 80, 14)
                                  : QRect(x - 40, scaleTop + 4, 80, 14);
    painter.drawText(box, align | Qt::AlignTop, text);
  }
  return image;
}

}  // namespace vireo
