// The review aids on the real program, headless: the timeline behind the
// Controls dialog's position, the pictures of the Findings window and
// "Export report...".
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <filesystem>
#include <fstream>

#include "clips.h"
#include "player_fixture.h"
#include "timeline_pixels.h"

namespace {

using ptest::Q;
using vireo::FindingsDialog;
using vireo::TimelinePainter;
using vtest::PaintedColumns;

constexpr int kFrames = 100;

// Writes a findings file with the given lines after its header.
void WriteFindings(const std::string& path, const std::string& lines) {
  std::ofstream(path, std::ios::binary) << "Interpretation time [min]: 2\r\n" << lines;
}

std::string Stem(const std::string& clip) { return clip.substr(0, clip.rfind('.')); }

class ReviewTest : public ptest::PlayerFixture {
 protected:
  // The Controls bar as the screen shows it, with the lanes' columns.
  std::set<int> Lane(TimelinePainter::Lane lane) {
    auto* bar = window->Controls()->ProgressBar();
    const QImage image = bar->grab().toImage().convertToFormat(QImage::Format_RGB32);
    return PaintedColumns(image, bar->MarksArea(), lane);
  }
  // The column of `frame` in the bar's marks area at its width on screen.
  int Column(std::int64_t frame) {
    return TimelinePainter::Column(frame, kFrames, window->Controls()->ProgressBar()->MarksArea().width());
  }
};

TEST_F(ReviewTest, ControlsTimelineFollowsTheListAndAClickOnAMarkSeeksToIt) {
  // A clip of its own: its findings file and the detector's beside it.
  const std::string clip = ptest::ScratchDir() + "/timeline.avi";
  std::filesystem::copy_file(ptest::Clip(".avi", kFrames), clip, std::filesystem::copy_options::overwrite_existing);
  WriteFindings(Stem(clip) + ".txt", "10\t0\t polyp?\r\n");
  WriteFindings(Stem(clip) + "_.txt", "30\t0\t Blood1\r\n31\t0\t Blood1 Blood2\r\n80\t0\t Ulcer2\r\n");
  window->Start(Q(clip));
  ASSERT_NE(window->Controls(), nullptr);
  ASSERT_NE(window->Findings(), nullptr);
  window->Controls()->Tick();  // position 0: nothing played over the marks

  EXPECT_EQ(Lane(TimelinePainter::kFindings), std::set<int>{Column(10)});
  EXPECT_EQ(Lane(TimelinePainter::kBlood), (std::set<int>{Column(30), Column(31)}));
  EXPECT_EQ(Lane(TimelinePainter::kUlcer), std::set<int>{Column(80)});

  // "Add New" at frame 60, then back to the start.
  window->Graph().SeekToFrame(60);
  window->Findings()->Button(FindingsDialog::kAddNew)->click();
  ASSERT_EQ(window->Findings()->Findings().size(), 2u);
  Trigger(vireo::kCmdStop);
  window->Controls()->Tick();
  ASSERT_TRUE(WaitFor([&] { return Lane(TimelinePainter::kFindings).size() == 2; }));
  EXPECT_EQ(Lane(TimelinePainter::kFindings), (std::set<int>{Column(10), Column(60)}));

  // A click on the new mark seeks there.
  auto* bar = window->Controls()->ProgressBar();
  const QPointF at(bar->MarksArea().left() + Column(60), 5);
  QMouseEvent press(QEvent::MouseButtonPress, at, bar->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(bar, &press);
  // The bar seeks to where the column starts, within a frame of the mark here.
  EXPECT_NEAR(window->Graph().CurrentFrame(), 60, 1);

  // Removed again: the mark goes; closing the list takes its marks away but
  // not the detector's.
  window->Findings()->Select(1);
  window->Findings()->Button(FindingsDialog::kRemove)->click();
  Trigger(vireo::kCmdStop);
  window->Controls()->Tick();
  ASSERT_TRUE(WaitFor([&] { return Lane(TimelinePainter::kFindings).size() == 1; }));
  Trigger(vireo::kCmdFindings);
  ASSERT_TRUE(WaitFor([&] { return Lane(TimelinePainter::kFindings).empty(); }));
  EXPECT_EQ(Lane(TimelinePainter::kUlcer), std::set<int>{Column(80)});
}

}  // namespace
