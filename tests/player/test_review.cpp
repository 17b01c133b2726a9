// The review aids on the real program, headless: the timeline behind the
// Controls dialog's position, the pictures of the Findings window and
// "Export report...".
#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <regex>

#include "clips.h"
#include "gst_pipeline.h"
#include "player_fixture.h"
#include "report_export.h"
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
  QMouseEvent press(QEvent::MouseButtonPress, at, bar->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
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

// The picture beside a list entry; null when it has none or only the
// transparent placeholder.
QImage Picture(const QListWidgetItem* item) {
  if (item->icon().isNull()) return {};
  const QImage image = item->icon().pixmap(40, 40).toImage().convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (qAlpha(image.pixel(x, y)) != 0) return image;
  return {};
}

int LargestDifference(const QImage& picture, const vtest::Frame& frame) {
  EXPECT_EQ(picture.size(), QSize(frame.width, frame.height));
  int largest = 0;
  for (int y = 0; y < std::min(picture.height(), frame.height); ++y)
    for (int x = 0; x < std::min(picture.width(), frame.width); ++x) {
      const QRgb p = picture.pixel(x, y);
      const std::uint8_t* f = frame.Pixel(x, y);
      largest = std::max({largest, std::abs(qBlue(p) - f[0]), std::abs(qGreen(p) - f[1]), std::abs(qRed(p) - f[2])});
    }
  return largest;
}

TEST_F(ReviewTest, FindingsListOfAThousandEntriesShowsAtOncePicturesFollowForTheEntriesInView) {
  constexpr int kEntries = 1000, kSide = 40;  // the pictures' size: no scaling
  const std::string clip = ptest::ScratchDir() + "/pictures.avi";
  std::filesystem::copy_file(ptest::Clip(".avi", kEntries, kSide), clip,
                             std::filesystem::copy_options::overwrite_existing);
  std::string lines;
  for (int frame = 0; frame < kEntries; ++frame) lines += std::to_string(frame) + "\t0\t note\r\n";
  WriteFindings(Stem(clip) + ".txt", lines);
  const auto decoded =
      vtest::RunPipeline("filesrc location=\"" + clip +
                         "\" ! decodebin ! videoconvert ! video/x-raw,format=BGRx ! appsink name=out sync=false")
          .frames;
  ASSERT_EQ(decoded.size(), static_cast<std::size_t>(kEntries));

  window->Start(Q(clip));
  ASSERT_NE(window->Findings(), nullptr);
  QListWidget* list = window->Findings()->List();
  // The whole list is there and scrolls before any picture is decoded.
  ASSERT_EQ(list->count(), kEntries);
  list->scrollToBottom();
  for (int row = 0; row < kEntries; ++row) ASSERT_TRUE(Picture(list->item(row)).isNull()) << row;

  const int first = list->row(list->itemAt(list->viewport()->rect().topLeft()));
  ASSERT_GT(first, kEntries / 2);
  ASSERT_TRUE(WaitFor(
      [&] {
        for (int row = first; row < kEntries; ++row)
          if (Picture(list->item(row)).isNull()) return false;
        return true;
      },
      30000));
  for (int row = first; row < kEntries; ++row) {
    SCOPED_TRACE(row);
    const QImage picture = Picture(list->item(row)).convertToFormat(QImage::Format_RGB32);
    const int own = LargestDifference(picture, decoded[row]);
    EXPECT_LE(own, 3);
    EXPECT_LT(own, LargestDifference(picture, decoded[row - 1])) << "closer to another frame";
  }
  EXPECT_TRUE(Picture(list->item(kEntries / 2)).isNull()) << "entries never in view are not decoded";
  EXPECT_EQ(list->item(kEntries - 1)->text(), "00000999 note") << "the text stays as it was";
}

// "Export report..." on the list as it stands, unsaved entries included.
TEST_F(ReviewTest, ExportReportWritesThePdfOfTheOpenListOrSaysWhyNot) {
  const std::string clip = ptest::ScratchDir() + "/report.avi";
  std::filesystem::copy_file(ptest::Clip(".avi", kFrames), clip, std::filesystem::copy_options::overwrite_existing);
  WriteFindings(Stem(clip) + ".txt", "10\t0\t polyp?\r\n");
  WriteFindings(Stem(clip) + "_.txt", "30\t0\t Blood1\r\n31\t0\t Blood1 Blood2\r\n");
  window->Start(Q(clip));
  ASSERT_NE(window->Findings(), nullptr);
  window->Graph().SeekToFrame(60);
  window->Findings()->Button(FindingsDialog::kAddNew)->click();
  ASSERT_TRUE(Enabled(vireo::kCmdExportReport));
  const auto* exporter = window->findChild<vireo::ReportExport*>();
  ASSERT_NE(exporter, nullptr);

  struct Case {
    const char* name;
    std::string output;
    bool written;
  };
  const std::vector<Case> cases = {
      {"pdf", ptest::ScratchDir() + "/report.pdf", true},
      {"folder that does not exist", ptest::ScratchDir() + "/missing/report.pdf", false},
      {"not a report format", ptest::ScratchDir() + "/report.doc", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    messages.clear();
    std::filesystem::remove(c.output);
    chosen = {Q(c.output)};
    Trigger(vireo::kCmdExportReport);
    ASSERT_TRUE(WaitFor([&] { return !exporter->Running(); }, 30000));
    if (!c.written) {
      ASSERT_EQ(messages.size(), 1u);
      EXPECT_EQ(messages[0].caption, "Error");
      EXPECT_TRUE(messages[0].text.contains(Q(c.output))) << messages[0].text.toStdString();
      EXPECT_FALSE(std::filesystem::exists(c.output));
      continue;
    }
    EXPECT_TRUE(messages.empty());
    const std::string text = vtest::RunCommand("pdftotext -layout '" + c.output + "' - 2>&1").output;
    SCOPED_TRACE(text);
    for (const char* line :
         {"Clip +report\\.avi", "Length +100 frames \\(0:00:04\\)", "Interpretation time +2 min",
          "\\n *10 +0:00:00 +polyp\\?", "\\n *60 +0:00:02", "Blood1 +2 +30 \\(0:00:01\\) +31 \\(0:00:01\\)",
          "Blood2 +1 +31 \\(0:00:01\\) +31 \\(0:00:01\\)"})
      EXPECT_TRUE(std::regex_search(text, std::regex(line))) << line;
  }
}

}  // namespace
