// The "MDR Map" window on the real program headless: loading and refusing
// maps, painting, clicks, scrolling and Automatic Rate Control. Message boxes
// and file dialogs are answered by the tests.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include "clips.h"
#include "main_window.h"
#include "map_window.h"
#include "messages.h"
#include "player_fixture.h"
#include "sink_trace.h"
#include "test_map_support.h"

namespace {

using ptest::MapRow;
using ptest::Q;
using vireo::MainWindow;
using vireo::MessageRequest;
using vireo::PlayState;

class MapWindowTest : public ptest::PlayerFixture {
 protected:
  void SetUp() override {
    recordMapQuestions = true;
    PlayerFixture::SetUp();
  }

  // A clip of `frames` frames opened from the command line; its own map is
  // missing, so the question about preprocessing is asked and answered No.
  void OpenClip(int frames) {
    window->Start(Q(ptest::Clip(".avi", frames)));
    ASSERT_TRUE(window->Graph().HasGraph());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Map file");
    messages.clear();
  }

  void LoadMap(const std::string& name, const std::string& bytes) {
    window->DropFile(Q(ptest::WriteFile(name, bytes)));
  }

  vireo::MapWindow* Map() { return window->Maps().Window(); }

  void Click(int y, QEvent::Type type = QEvent::MouseButtonPress) {
    QWidget* control = Map()->Control();
    QMouseEvent event(type, QPointF(5, y), control->mapToGlobal(QPointF(5, y)), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(control, &event);
  }

  void Wheel(int delta) {
    QWidget* control = Map()->Control();
    QWheelEvent event(QPointF(5, 5), control->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(control, &event);
  }
};

TEST_F(MapWindowTest, MapOpensItsWindowWithPictureStripAndLines) {
  window->Start({});
  LoadMap("shown.bmp", ptest::MapBytes(ptest::Rows(40, 0, 1, {0, 0.05f, 0, 0, 0, 0.01f}), 16));
  EXPECT_TRUE(messages.empty());
  ASSERT_NE(Map(), nullptr);
  EXPECT_TRUE(Map()->isVisible());
  EXPECT_EQ(Map()->windowTitle(), "MDR Map");
  const vireo::MapState& map = window->Map();
  EXPECT_TRUE(map.Loaded());
  EXPECT_TRUE(map.Egomotion());
  EXPECT_EQ(map.Width(), 16);
  EXPECT_EQ(map.Rows(), 40);

  const QImage shot = Map()->Control()->grab().toImage();
  EXPECT_EQ(shot.pixelColor(0, 0), QColor(7, 0, 0));  // stored row 0 at the top
  EXPECT_EQ(shot.pixelColor(3, 5), QColor(7, 3, 5));  // pixel 3 of row 5
  const QPalette palette = Map()->Control()->palette();
  EXPECT_EQ(shot.pixel(17, 100), palette.color(QPalette::Dark).rgb());
  EXPECT_EQ(shot.pixel(16 + 130, 100), palette.color(QPalette::Light).rgb());
  // Deformation 0.01 x 512 = 5: the first five strip pixels are red.
  EXPECT_EQ(shot.pixelColor(18, 2), QColor(255, 0, 0));
  EXPECT_EQ(shot.pixelColor(18 + 5, 2), palette.color(QPalette::Button));
  // Velocity 0.05 x 64 = 3: green right of the middle of the right half.
  EXPECT_EQ(shot.pixelColor(18 + 192, 2), QColor(0, 255, 0));

  // Closing drops the map.
  Map()->close();
  EXPECT_TRUE(WaitFor([&] { return Map() == nullptr; }));
  EXPECT_FALSE(window->Map().Loaded());
}

TEST_F(MapWindowTest, OpenMapAsksForAnExistingBitmapAndLoadsIt) {
  OpenClip(40);
  const std::string path = ptest::WriteFile("chosen.bmp", ptest::MapBytes(ptest::Rows(40, 0, 1), 16));
  chosen = {Q(path)};
  Trigger(vireo::kCmdOpenMap);
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].title, "Open Map File...");
  EXPECT_EQ(dialogs[0].filter, "Map file (*.bmp)");
  EXPECT_FALSE(dialogs[0].save);
  EXPECT_FALSE(dialogs[0].multiple);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(window->State().mapPath, Q(path));
  EXPECT_TRUE(window->Map().Loaded());
  EXPECT_EQ(window->Map().Rows(), 40);
  ASSERT_NE(Map(), nullptr);
  EXPECT_TRUE(Map()->isVisible());

  // Cancelled: the map name is emptied and nothing is loaded again.
  chosen.clear();
  Trigger(vireo::kCmdOpenMap);
  EXPECT_EQ(dialogs.size(), 2u);
  EXPECT_TRUE(window->State().mapPath.isEmpty());
  EXPECT_TRUE(messages.empty());
}

TEST_F(MapWindowTest, ClickSeeksToTheFrameStoredInTheRowAndDoubleClickRuns) {
  OpenClip(40);
  LoadMap("click.bmp", ptest::MapBytes({{0}, {0}, {3}, {3}, {7}, {9}, {12}, {500}}));
  ASSERT_NE(Map(), nullptr);
  Click(3);
  EXPECT_EQ(window->Graph().State(), PlayState::kPaused);
  EXPECT_EQ(window->Graph().CurrentFrame(), 3);
  Click(5);
  EXPECT_EQ(window->Graph().CurrentFrame(), 9);
  Map()->FollowFrame();
  EXPECT_EQ(Map()->Marker()->y(), 5 - 6);
  // A frame beyond this clip's end: the last frame.
  Click(7);
  EXPECT_EQ(window->Graph().CurrentFrame(), 39);
  // Below the last row: paused, nowhere to go.
  Click(300);
  EXPECT_EQ(window->Graph().CurrentFrame(), 39);
  Click(2, QEvent::MouseButtonDblClick);
  EXPECT_EQ(window->Graph().State(), PlayState::kRunning);
}

TEST_F(MapWindowTest, DecreasingFramesGiveAPictureOnlyMap) {
  OpenClip(40);
  LoadMap("decreasing.bmp", ptest::MapBytes({{0}, {5}, {4}, {8}}, 16));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "Warning");
  EXPECT_EQ(messages[0].text, "Egomotion data not available!");
  EXPECT_EQ(messages[0].icon, QMessageBox::Warning);
  ASSERT_NE(Map(), nullptr);
  EXPECT_FALSE(window->Map().Egomotion());
  EXPECT_EQ(window->Map().Width(), 24);  // the records shown as picture
  EXPECT_TRUE(window->Maps().Tables().table.empty());
  EXPECT_FALSE(Map()->RateTimerActive());
  EXPECT_EQ(window->Map().RowForFrame(4), -1);
  Click(1);
  EXPECT_EQ(window->Graph().CurrentFrame(), 0);  // paused, not moved
}

TEST_F(MapWindowTest, BadMapsAreRefusedAndTheOldMapIsGone) {
  window->Start({});
  const std::string good = ptest::MapBytes(ptest::Rows(10, 0, 1));
  for (const std::string& bad :
       {std::string(), std::string("not a bitmap at all"), good.substr(0, good.size() - 10), good.substr(0, 30)}) {
    LoadMap("good.bmp", good);
    ASSERT_NE(Map(), nullptr);
    messages.clear();
    LoadMap("bad.bmp", bad);
    ASSERT_EQ(messages.size(), 1u) << bad.size();
    EXPECT_EQ(messages[0].caption, "Error!");
    EXPECT_EQ(messages[0].text, "Failed to open bitmap header");
    EXPECT_TRUE(WaitFor([&] { return Map() == nullptr; }));
    EXPECT_FALSE(window->Map().Loaded());
  }
}

// A paletted bitmap of `bits` per pixel, 8 x 3 pixels, pixel x of every row
// having colour index x % colours; palette entry i = (red 10 i, green 20 i, blue 30 i).
std::string PalettedBitmap(int bits) {
  const int colours = 1 << bits, width = 8, rows = 3;
  const int stride = (width * bits + 31) / 32 * 4;
  const int offset = 54 + 4 * colours;
  std::string bytes(static_cast<std::size_t>(offset + stride * rows), '\0');
  auto put32 = [&](int at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(v >> (8 * i));
  };
  bytes[0] = 'B';
  bytes[1] = 'M';
  put32(2, static_cast<std::uint32_t>(bytes.size()));
  put32(10, offset);
  put32(14, 40);
  put32(18, width);
  put32(22, rows);
  bytes[26] = 1;
  bytes[28] = static_cast<char>(bits);
  put32(34, stride * rows);
  for (int i = 0; i < colours; ++i) {
    bytes[54 + 4 * i] = static_cast<char>(30 * i);
    bytes[54 + 4 * i + 1] = static_cast<char>(20 * i);
    bytes[54 + 4 * i + 2] = static_cast<char>(10 * i);
  }
  for (int r = 0; r < rows; ++r)
    for (int x = 0; x < width; ++x) {
      const int index = x % colours;
      const int bit = x * bits;
      bytes[offset + r * stride + bit / 8] |= static_cast<char>(index << (8 - bits - bit % 8));
    }
  return bytes;
}

TEST_F(MapWindowTest, OtherDepthsAreShownAsPicturesOnly) {
  window->Start({});
  for (int bits : {1, 4, 8}) {
    LoadMap("paletted.bmp", PalettedBitmap(bits));
    EXPECT_TRUE(messages.empty()) << bits;
    ASSERT_NE(Map(), nullptr) << bits;
    EXPECT_FALSE(window->Map().Egomotion());
    EXPECT_EQ(window->Map().Width(), 8);
    EXPECT_TRUE(window->Maps().Tables().strip.empty());
    const QImage shot = Map()->Control()->grab().toImage();
    for (int x = 0; x < 8; ++x) {
      const int i = x % (1 << bits);
      EXPECT_EQ(shot.pixelColor(x, 2), QColor(10 * i, 20 * i, 30 * i)) << bits << " " << x;
    }
  }
}

TEST_F(MapWindowTest, MissingMapOffersPreprocessing) {
  OpenClip(20);
  mapAnswer = QMessageBox::Yes;
  window->DropFile(Q(ptest::ScratchDir() + "/absent.bmp"));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "Cannot open the associated map file.\r\nPreprocess video now?");
  EXPECT_EQ(messages[0].buttons, QMessageBox::Yes | QMessageBox::No);
  // Yes starts "&Preprocess video", whose save dialog the test cancels.
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].title, "Save map as...");
  EXPECT_TRUE(window->Graph().HasGraph());
  EXPECT_EQ(window->State().viewMode, vireo::kModePlain);
}

TEST_F(MapWindowTest, UnfinishedMapShowsTheRowsWritten) {
  window->Start({});
  LoadMap("unfinished.bmp", ptest::UnfinishedMapBytes(ptest::Rows(9, 1, 1, {0, 0.1f}), 16, 40));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "Warning");
  EXPECT_TRUE(messages[0].text.contains("not completed"));
  ASSERT_NE(Map(), nullptr);
  EXPECT_EQ(window->Map().Rows(), 9);
  EXPECT_TRUE(window->Map().Egomotion());
  EXPECT_EQ(window->Maps().Tables().table.size(), 10u);
}

TEST_F(MapWindowTest, WheelAndScrollBarMoveByRowsWithinTheMap) {
  window->Start({});
  LoadMap("short.bmp", ptest::MapBytes(ptest::Rows(30, 0, 1)));
  ASSERT_NE(Map(), nullptr);
  Wheel(-120);
  EXPECT_EQ(Map()->ScrollRow(), 0);
  Wheel(120);
  EXPECT_EQ(Map()->ScrollRow(), 0);

  LoadMap("long.bmp", ptest::MapBytes(ptest::Rows(3000, 0, 1)));
  ASSERT_NE(Map(), nullptr);
  const int maximum = 3000 - Map()->Control()->height();
  EXPECT_EQ(Map()->ScrollMaximum(), maximum);
  EXPECT_EQ(Map()->ScrollBar()->maximum(), maximum / 8);
  Wheel(-120);
  EXPECT_EQ(Map()->ScrollRow(), 120);
  EXPECT_EQ(Map()->ScrollBar()->value(), 15);
  EXPECT_EQ(Map()->Control()->grab().toImage().pixelColor(0, 0).blue(), 120);
  Map()->ScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(Map()->ScrollRow(), 128);
  Map()->ScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_EQ(Map()->ScrollRow(), maximum);
  Wheel(-360);
  EXPECT_EQ(Map()->ScrollRow(), maximum);
  Wheel(100000);
  EXPECT_EQ(Map()->ScrollRow(), 0);

  // Resizing keeps the control's margins.
  const QSize before = Map()->Control()->size();
  Map()->resize(Map()->size() + QSize(40, 60));
  EXPECT_EQ(Map()->Control()->size(), before + QSize(40, 60));
  EXPECT_EQ(Map()->ScrollMaximum(), maximum - 60);
  // The window can be made shorter than it starts, for screens of little height.
  Map()->resize(Map()->size() - QSize(40, 60 + 400));
  EXPECT_EQ(Map()->Control()->size(), before - QSize(0, 400));
  EXPECT_EQ(Map()->ScrollMaximum(), maximum + 400);
}

TEST_F(MapWindowTest, RateControlFollowsTheTableAndOffKeepsTheLastRate) {
  OpenClip(150);
  // Velocity 0.1: the table gives 2.0 over most of the clip.
  LoadMap("rate.bmp", ptest::MapBytes(ptest::Rows(150, 0, 1, {0, 0.1f})));
  ASSERT_NE(Map(), nullptr);
  Trigger(vireo::kCmdRateVelocity);
  EXPECT_TRUE(Map()->RateTimerActive());
  ptest::SinkTrace trace(window->Graph().Pipeline());
  ASSERT_TRUE(trace.Attached());
  ASSERT_EQ(window->Graph().Run(), 0);
  ASSERT_TRUE(WaitFor([&] { return window->Graph().GraphRate() == 2.0; }));
  EXPECT_EQ(window->Maps().LastAppliedRate(), 2.0);
  // The display sink plays the new segment at twice the clip's rate.
  const int segment = static_cast<int>(trace.Rates().size()) - 1;
  ASSERT_GE(segment, 0);
  EXPECT_EQ(trace.Rates()[segment], 2.0);
  ASSERT_TRUE(WaitFor([&] { return trace.CountFrom(segment) >= 8; }));
  const std::vector<std::int64_t> steps = trace.Steps(segment);
  ASSERT_GE(steps.size(), 5u);
  for (std::int64_t step : steps) EXPECT_NEAR(static_cast<double>(step), 20e6, 1000.0);
  EXPECT_DOUBLE_EQ(window->Graph().Rate(), 1.0);  // the user's rate stays
  EXPECT_TRUE(window->windowTitle().contains("(Rate:50.00)")) << window->windowTitle().toStdString();

  Trigger(vireo::kCmdRateOff);
  EXPECT_FALSE(Map()->RateTimerActive());
  EXPECT_EQ(window->Graph().GraphRate(), 1.0);
  EXPECT_EQ(window->Maps().LastAppliedRate(), 2.0);
  // Back on: the table value equals the last one sent, so it is not sent again.
  Trigger(vireo::kCmdRateVelocity);
  EXPECT_TRUE(Map()->RateTimerActive());
  for (int i = 0; i < 10; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(window->Graph().GraphRate(), 1.0);

  // Closing the map returns the pipeline to the user's rate.
  Trigger(vireo::kCmdRateDouble);
  Map()->close();
  EXPECT_EQ(window->Graph().GraphRate(), 2.0);
}

}  // namespace
