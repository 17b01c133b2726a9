// The timeline: marks of findings and detector flags land in the columns of
// their frames on the painted bar, merge into bars, and never vanish on a
// long clip at the Controls dialog's width.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cmath>
#include <set>

#include "qt_app.h"
#include "timeline_pixels.h"
#include "timeline.h"
#include "timeline_bar.h"

namespace {

using vireo::Finding;
using vireo::TimelineMarks;
using vireo::TimelinePainter;
using vtest::PaintedColumns;

// 209 dialog units of the Controls dialog at its 8-point font.
constexpr int kBarWidth = 313;
constexpr std::int64_t kFrames = 100000;

// The columns a frame list should light, worked out in floating point.
std::set<int> ExpectedColumns(const std::vector<std::int64_t>& frames, std::int64_t total, int width) {
  std::set<int> columns;
  for (std::int64_t frame : frames)
    if (frame >= 0 && frame < total)
      columns.insert(static_cast<int>(std::floor(double(frame) * width / double(total))));
  return columns;
}

struct MarksCase {
  const char* name;
  std::vector<Finding> list, detector;
  std::vector<std::int64_t> findings, blood, ulcer;  // frames each lane must show
};

TEST(Timeline, MarksLandInTheColumnsOfTheirFramesPerLane) {
  const std::vector<MarksCase> cases = {
      {"reviewer notes mark findings only",
       {{0, 0, "start"}, {99999, 3, "Blood1 suspected"}, {31337, 1, ""}},
       {},
       {0, 31337, 99999},
       {},
       {}},
      {"detector lines mark their families",
       {{500, 0, "Blood1 Ulcer2"}, {64000, 0, "Ulcer1"}},
       {{70000, 0, "Blood2"}, {70001, 0, "Blood1 Blood2"}},
       {500, 64000},
       {500, 70000, 70001},
       {500, 64000}},
      {"frames past the end and before the start show nowhere",
       {{kFrames, 0, "late"}, {kFrames + 5000, 0, "Blood1"}},
       {{-1, 0, "Ulcer1"}},
       {},
       {},
       {}},
  };
  for (const MarksCase& c : cases) {
    SCOPED_TRACE(c.name);
    TimelinePainter painter;
    painter.SetMarks(vireo::CollectMarks(kFrames, c.list, c.detector));
    QImage image(kBarWidth + 4, 15, QImage::Format_RGB32);
    image.fill(Qt::white);
    const QRect area(2, 0, kBarWidth, 15);
    QPainter p(&image);
    painter.PaintMarks(&p, area);
    p.end();
    EXPECT_EQ(PaintedColumns(image, area, TimelinePainter::kFindings), ExpectedColumns(c.findings, kFrames, kBarWidth));
    EXPECT_EQ(PaintedColumns(image, area, TimelinePainter::kBlood), ExpectedColumns(c.blood, kFrames, kBarWidth));
    EXPECT_EQ(PaintedColumns(image, area, TimelinePainter::kUlcer), ExpectedColumns(c.ulcer, kFrames, kBarWidth));
  }
}

TEST(Timeline, RunsOfFlaggedFramesMergeIntoOneBarAndLoneFramesStay) {
  std::vector<Finding> detector;
  for (std::int64_t frame = 20000; frame < 30000; ++frame) detector.push_back({frame, 0, "Blood1"});
  detector.push_back({77777, 0, "Blood2"});
  TimelinePainter painter;
  painter.SetMarks(vireo::CollectMarks(kFrames, {}, detector));
  QImage image(kBarWidth, 12, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  painter.PaintMarks(&p, image.rect());
  p.end();
  const std::set<int> painted = PaintedColumns(image, image.rect(), TimelinePainter::kBlood);
  std::set<int> expected;
  for (int x = 20000 * kBarWidth / kFrames; x <= 29999 * kBarWidth / kFrames; ++x) expected.insert(x);
  expected.insert(77777 * kBarWidth / kFrames);
  EXPECT_EQ(painted, expected);
}

// The real Controls bar: marks inside its frame, column c at x = c + 1, the
// same mapping its click-to-seek uses.
TEST(Timeline, ProgressBarPaintsTheMarksBehindThePosition) {
  vtest::QtApp();
  vireo::TimelineBar bar;
  bar.setRange(0, 256);
  bar.resize(kBarWidth + 2, 14);
  bar.SetMarks(vireo::CollectMarks(kFrames, {{10000, 0, "a"}, {90000, 0, "b"}}, {{90000, 0, "Ulcer1"}}));
  bar.setValue(128);  // half played
  const QImage image = bar.grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(bar.MarksArea(), QRect(1, 1, kBarWidth, 12));
  EXPECT_EQ(PaintedColumns(image, bar.MarksArea(), TimelinePainter::kUlcer),
            ExpectedColumns({90000}, kFrames, kBarWidth));
  EXPECT_EQ(PaintedColumns(image, bar.MarksArea(), TimelinePainter::kFindings),
            ExpectedColumns({90000}, kFrames, kBarWidth))
      << "the unplayed half shows the finding at 90000 in its own colour";
  // The played half is tinted blue over the mark at 10000, which still shows.
  const int played = static_cast<int>(10000 * kBarWidth / kFrames) + 1;
  const QColor tinted =
      image.pixelColor(played, TimelinePainter::LaneRect(bar.MarksArea(), TimelinePainter::kFindings).center().y());
  const QColor mark = TimelinePainter::Colour(TimelinePainter::kFindings);
  EXPECT_GT(tinted.blue(), mark.blue());
  EXPECT_GT(tinted.red(), 150) << "the finding at 10000 must show through the played part";
  EXPECT_EQ(image.pixelColor(1 + kBarWidth / 2 - 1, 6), QColor(0, 0, 255)) << "position line at the middle";
}

}  // namespace
