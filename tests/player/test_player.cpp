// The player program headless: start-up, clips from the command line and
// dropped, keys and commands, the Controls dialog, sizes, refusals and bad
// files. Message boxes are recorded instead of shown.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <functional>
#include <QDialog>
#include <algorithm>

#include "clips.h"
#include "controls_dialog.h"
#include "findings_dialog.h"
#include "gst_pipeline.h"
#include "main_window.h"
#include "messages.h"
#include "player_fixture.h"
#include "video_widget.h"

namespace {

using ptest::Q;
using vireo::MainWindow;
using vireo::MessageRequest;
using vireo::PlayState;

// Receives the URLs the player asks the desktop to open.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls.push_back(url); }
};

// Mean absolute difference, per colour level, between the `size` x `size`
// tile of `shot` at (x0, y0) and a decoded BGRx frame.
double TileDifference(const QImage& shot, int x0, int y0, int size, const vtest::Frame& frame) {
  long sum = 0;
  for (int y = 0; y < size; ++y) {
    const QRgb* row = reinterpret_cast<const QRgb*>(shot.constScanLine(y0 + y)) + x0;
    for (int x = 0; x < size; ++x) {
      const std::uint8_t* p = frame.Pixel(x, y);
      sum += std::abs(qBlue(row[x]) - p[0]) + std::abs(qGreen(row[x]) - p[1]) + std::abs(qRed(row[x]) - p[2]);
    }
  }
  return static_cast<double>(sum) / (3.0 * size * size);
}

class PlayerTest : public ptest::PlayerFixture {
 protected:
  QString ControlsText() {
    window->Controls()->Tick();
    return window->Controls()->Text();
  }
};

TEST_F(PlayerTest, StartsWithoutClip) {
  window->Start({});
  EXPECT_EQ(Title(), "Vireo Video Player");
  EXPECT_EQ(window->size(), QSize(256, 256));
  for (int id :
       {40003, 40004, 40006, 40020, 40021, 40022, 40023, 40024, 40026, 40025, 40009, 40010, 40008, 40012, 40007})
    EXPECT_FALSE(Enabled(id)) << id;
  EXPECT_TRUE(Checked(vireo::kCmdRateCombination));
  EXPECT_FALSE(Checked(vireo::kCmdRateOff));
  EXPECT_TRUE(window->State().rateControlOn);
  EXPECT_TRUE(Checked(115));  // "1 x 1"
  EXPECT_TRUE(Checked(40008));
  EXPECT_EQ(window->Controls(), nullptr);
  EXPECT_TRUE(messages.empty());
}

TEST_F(PlayerTest, MenuCarriesTheLabelsAndIdentifiers) {
  QStringList items;
  std::function<void(QMenu*)> walk = [&](QMenu* menu) {
    for (QAction* a : menu->actions()) {
      if (a->menu()) {
        items << a->text();
        walk(a->menu());
      } else if (!a->isSeparator()) {
        items << QStringLiteral("%1=%2").arg(a->text()).arg(a->data().toInt());
      }
    }
  };
  for (QAction* top : window->menuBar()->actions()) {
    items << top->text();
    walk(top->menu());
  }
  const QStringList expected = {"&File",
                                "&Open clip...=40001",
                                "Open map...=40050",
                                "&Close clip=40005",
                                "&Save frame...=40013",
                                "Export report...=40062",
                                "E&xit=40002",
                                "&View",
                                "&Controls...=40052",
                                "&Findings...=113",
                                "&Multiframe",
                                "1 x 1=115",
                                "2 x 1=116",
                                "3 x 1=117",
                                "2 x 2=118",
                                "3 x 2=119",
                                "3 x 3=120",
                                "4 x 3=121",
                                "5 x 3=122",
                                "5 x 4=123",
                                "6 x 4=124",
                                "Filter properties...=40060",
                                "&Control",
                                "&Pause/Play\tP=40003",
                                "&Stop\tS=40004",
                                "Single F&rame Step\t<Space>=40025",
                                "&Half size (50%)\tH=40009",
                                "&Normal size (100%)\tN=40008",
                                "&Double size (200%)\tD=40010",
                                "&Full Screen\t<Enter> or F=40007",
                                "&Rate",
                                "&Increase Playback Rate\t<Right arrow>=40020",
                                "&Decrease Playback Rate\t<Left arrow>=40021",
                                "Automatic Rate Control",
                                "Combination=138",
                                "Deformation=137",
                                "Image=139",
                                "Velocity=134",
                                "Drift=135",
                                "Roll=136",
                                "Off=133",
                                "&Analysis",
                                "&Preprocess video=40026",
                                "Select video(s) to preprocess=110",
                                "MDR parameters...=40061",
                                "&Detect pathologies=40014",
                                "&Help",
                                "Manual...=126",
                                "&About...=40015"};
  EXPECT_EQ(items, expected);
}

TEST_F(PlayerTest, AviFromTheCommandLineOpensPausedWithControls) {
  const std::string clip = ptest::Clip(".avi", 40);
  ASSERT_FALSE(clip.empty());
  window->Start(Q(clip));
  ASSERT_TRUE(window->Graph().HasGraph());
  EXPECT_EQ(window->Graph().State(), PlayState::kPaused);
  EXPECT_EQ(Title(), "clip40.avi (Paused)(Rate:25.00)");
  ASSERT_NE(window->Controls(), nullptr);
  EXPECT_TRUE(Checked(40052));
  EXPECT_EQ(ControlsText(), "Frame: 0/40");
  EXPECT_EQ(window->Controls()->Progress(), 0);
  for (int id : {40003, 40004, 40020, 40021, 40025, 40008, 40007}) EXPECT_TRUE(Enabled(id)) << id;
  EXPECT_TRUE(WaitFor([&] { return window->Video()->PaintedCount() > 0 || !window->Video()->isVisible(); }));
  // Associated files are named after the clip.
  const QString stem = Q(clip).left(Q(clip).size() - 4);
  EXPECT_EQ(window->State().mapPath, stem + ".bmp");
  EXPECT_EQ(window->State().findingsPath, stem + ".txt");
  EXPECT_EQ(window->State().captureBase, stem + "_");
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(mapQuestions, 1);  // the clip has no map yet
}

TEST_F(PlayerTest, OpenClipAsksForAVideoAndRemembersItsFolder) {
  window->Start({});
  const std::string clip = ptest::Clip(".avi", 40);
  chosen = {Q(clip)};
  Trigger(vireo::kCmdOpenClip);
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].title, "Open Video File...");
  EXPECT_EQ(dialogs[0].initialPath, "/");
  EXPECT_EQ(dialogs[0].filter, "Video Files (*.avi *.qt *.mov *.mpg *.mpeg *.m1v);;All Files (*)");
  EXPECT_FALSE(dialogs[0].save);
  ASSERT_TRUE(window->Graph().HasGraph());
  EXPECT_EQ(Title(), "clip40.avi (Paused)(Rate:25.00)");
  EXPECT_NE(window->Controls(), nullptr);
  // The next dialog starts in the clip's folder; cancelling leaves no clip.
  chosen.clear();
  Trigger(vireo::kCmdOpenClip);
  ASSERT_EQ(dialogs.size(), 2u);
  EXPECT_EQ(dialogs[1].initialPath, QFileInfo(Q(clip)).absolutePath());
  EXPECT_FALSE(window->Graph().HasGraph());
  EXPECT_TRUE(messages.empty());
}

TEST_F(PlayerTest, OtherContainersCountFramesByConversion) {
  for (const char* ext : {".mov", ".mpg"}) {
    SCOPED_TRACE(ext);
    window = std::make_unique<MainWindow>();
    window->Start(Q(ptest::Clip(ext, 50)));
    ASSERT_TRUE(window->Graph().HasGraph());
    EXPECT_EQ(window->Graph().Splitter(), vireo::SplitterKind::kOther);
    const QString text = ControlsText();
    EXPECT_TRUE(text.startsWith("Frame: ")) << text.toStdString();
    // GStreamer's MPEG program-stream demuxer starts this clip's segment at
    // its first clock reference and estimates the length, so only the
    // QuickTime numbers are exact.
    if (std::string(ext) != ".mov") continue;
    EXPECT_EQ(text, "Frame: 0/50");
    Key(Qt::Key_Right);  // paused: one frame forward
    EXPECT_EQ(window->Graph().CurrentFrame(true), 1);
  }
}

TEST_F(PlayerTest, SizeKeysResizeAndCheck) {
  window->Start(Q(ptest::Clip(".avi", 20, 160)));
  ASSERT_TRUE(window->Graph().HasGraph());
  Key(Qt::Key_D);
  EXPECT_EQ(window->Video()->size(), QSize(320, 320));
  EXPECT_TRUE(Checked(40010));
  EXPECT_FALSE(Checked(40008));
  Key(Qt::Key_T);
  EXPECT_TRUE(Checked(40012));
  for (int id : {40008, 40009, 40010}) EXPECT_FALSE(Checked(id)) << id;
  Key(Qt::Key_N);
  EXPECT_TRUE(Checked(40008));
  EXPECT_FALSE(Checked(40012));
}

TEST_F(PlayerTest, RightArrowWhileRunningRaisesTheRate) {
  window->Start(Q(ptest::Clip(".avi", 200)));
  Key(Qt::Key_P);
  ASSERT_EQ(window->Graph().State(), PlayState::kRunning);
  for (int i = 0; i < 3; ++i) Key(Qt::Key_Right);
  EXPECT_EQ(Title(), "clip200.avi (Rate:43.75)");
  EXPECT_DOUBLE_EQ(window->Graph().GraphRate(), 1.75);  // what the pipeline plays
  Key(Qt::Key_Left);
  EXPECT_EQ(Title(), "clip200.avi (Rate:37.50)");
  Key(Qt::Key_Down);  // pause at rate 1.0
  EXPECT_EQ(Title(), "clip200.avi (Paused)(Rate:25.00)");
}

// Pictures arriving faster than the widget paints replace each other: the
// newest is painted, the others are counted as dropped.
TEST_F(PlayerTest, VideoWidgetPaintsTheNewestPictureAndCountsTheDropped) {
  vireo::VideoWidget video;
  video.resize(8, 8);
  video.show();
  ASSERT_TRUE(WaitFor([&] { return video.isVisible(); }));
  const int paintedBefore = video.PaintedCount();
  std::vector<std::uint32_t> pixels(8 * 8);
  for (std::uint32_t shade : {0x101010u, 0x404040u, 0x808080u, 0xC0C0C0u, 0x00FF00u}) {
    std::fill(pixels.begin(), pixels.end(), shade);
    vireo::VideoFrame frame;
    frame.data = reinterpret_cast<const std::uint8_t*>(pixels.data());
    frame.width = frame.height = 8;
    frame.stride = 8 * 4;
    video.Deliver(frame);
  }
  ASSERT_TRUE(WaitFor([&] { return video.PaintedCount() > paintedBefore; }));
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(video.PaintedCount(), paintedBefore + 1);
  EXPECT_EQ(video.DroppedCount(), 4);
  EXPECT_EQ(video.grab().toImage().pixelColor(4, 4), QColor(0, 255, 0));
}

TEST_F(PlayerTest, StepsAndStopMoveExactly) {
  window->Start(Q(ptest::Clip(".avi", 40)));
  ASSERT_TRUE(window->Graph().HasGraph());
  window->Graph().SeekToFrame(10);
  Key(Qt::Key_Space);
  EXPECT_EQ(window->Graph().CurrentFrame(), 11);
  Key(Qt::Key_Right);
  EXPECT_EQ(window->Graph().CurrentFrame(), 12);
  Key(Qt::Key_Left);
  EXPECT_EQ(window->Graph().CurrentFrame(), 11);
  Trigger(vireo::kCmdFrameStep);
  EXPECT_EQ(ControlsText(), "Frame: 12/40");
  window->Controls()->Button(vireo::ControlsDialog::kStepBack)->click();
  EXPECT_EQ(ControlsText(), "Frame: 11/40");
  Key(Qt::Key_S);
  EXPECT_EQ(window->Graph().State(), PlayState::kStopped);
  EXPECT_EQ(ControlsText(), "Frame: 0/40");
  EXPECT_EQ(Title(), "clip40.avi (Rate:25.00)");
}

TEST_F(PlayerTest, EndOfClipRewindsAndStops) {
  window->Start(Q(ptest::Clip(".avi", 20)));
  Trigger(vireo::kCmdRateDouble);
  Trigger(vireo::kCmdPausePlay);
  ASSERT_EQ(window->Graph().State(), PlayState::kRunning);
  EXPECT_TRUE(WaitFor([&] { return window->Graph().State() == PlayState::kStopped; }));
  EXPECT_EQ(window->Graph().CurrentFrame(), 0);
  EXPECT_TRUE(window->Graph().HasGraph());
}

TEST_F(PlayerTest, ProgressBarClickSeeksOncePerTwoTicks) {
  window->Start(Q(ptest::Clip(".avi", 100)));
  auto* bar = window->Controls()->ProgressBar();
  bar->resize(258, 14);
  auto click = [&](int x) {
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(x, 5), bar->mapToGlobal(QPointF(x, 5)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &press);
  };
  click(129);  // the middle: (129 - 1) / 256 of 100 frames
  EXPECT_EQ(window->Graph().CurrentFrame(), 50);
  click(200);  // locked
  EXPECT_EQ(window->Graph().CurrentFrame(), 50);
  window->Controls()->Tick();
  window->Controls()->Tick();
  click(65);
  EXPECT_EQ(window->Graph().CurrentFrame(), 25);
}

TEST_F(PlayerTest, PlaylistsAndWindowsMediaAreRefused) {
  window->Start(Q(ptest::WriteFile("list.Asx", "x")));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "PlayVireo");
  EXPECT_EQ(messages[0].owner, nullptr);
  EXPECT_EQ(messages[0].text, "ASX Playlists are not supported by this application.");
  EXPECT_FALSE(window->Graph().HasGraph());
  EXPECT_TRUE(window->State().clipPath.isEmpty());

  messages.clear();
  window->DropFile(Q(ptest::WriteFile("movie.WMV", "x")));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "Windows Media files (ASF,WMV,WMA) are not supported by this application.");
  EXPECT_FALSE(window->Graph().HasGraph());

  // A folder's name does not count: only the file's extension does.
  const std::string dir = ptest::ScratchDir() + "/old.asx.d";
  std::filesystem::create_directories(dir);
  std::filesystem::copy_file(ptest::Clip(".avi", 10), dir + "/clip.avi",
                             std::filesystem::copy_options::overwrite_existing);
  messages.clear();
  window->DropFile(Q(dir + "/clip.avi"));
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(window->Graph().HasGraph());
}

TEST_F(PlayerTest, BadFilesLeaveNoClipAndTheSmallWindow) {
  std::string truncated;
  {
    std::ifstream in(ptest::Clip(".avi", 20), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    truncated = ptest::WriteFile("cut.avi", bytes.substr(0, 400));
  }
  const std::string files[] = {ptest::ScratchDir() + "/nothing-here.avi", ptest::WriteFile("zero.avi", ""),
                               ptest::WriteFile("letter.mov", std::string(3000, 'q')), truncated};
  window->Start(Q(ptest::Clip(".avi", 20)));
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    messages.clear();
    window->DropFile(Q(file));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Failed");
    EXPECT_EQ(messages[0].text, "Cannot play the file");
    EXPECT_EQ(messages[0].icon, QMessageBox::Critical);
    EXPECT_FALSE(messages[0].detail.isEmpty());
    EXPECT_FALSE(window->Graph().HasGraph());
    EXPECT_EQ(window->Graph().State(), PlayState::kNoClip);
    EXPECT_EQ(Title(), "Vireo Video Player");
    EXPECT_EQ(window->size(), QSize(256, 256));
    EXPECT_TRUE(window->State().clipPath.isEmpty());
  }
  // Still usable.
  window->DropFile(Q(ptest::Clip(".avi", 20)));
  EXPECT_TRUE(window->Graph().HasGraph());
}

TEST_F(PlayerTest, DroppedBitmapGoesToTheMapAndOtherFilesOpenAsClips) {
  window->Start(Q(ptest::Clip(".avi", 20)));
  const QString map = Q(ptest::ScratchDir() + "/Some.BMP");
  window->DropFile(map);
  EXPECT_EQ(window->State().mapPath, map);
  EXPECT_EQ(Title(), "clip20.avi (Paused)(Rate:25.00)");  // the clip stays
  window->DropFile(Q(ptest::Clip(".mov", 30)));
  EXPECT_EQ(Title(), "clip30.mov (Paused)(Rate:25.00)");
  EXPECT_EQ(window->Graph().Splitter(), vireo::SplitterKind::kOther);
}

TEST_F(PlayerTest, EscapeClosesTheClipAndControlsToggle) {
  window->Start(Q(ptest::Clip(".avi", 20)));
  Trigger(vireo::kCmdControls);
  EXPECT_EQ(window->Controls(), nullptr);
  EXPECT_FALSE(Checked(40052));
  Trigger(vireo::kCmdControls);
  EXPECT_NE(window->Controls(), nullptr);
  EXPECT_TRUE(Checked(40052));
  Key(Qt::Key_Return);
  EXPECT_TRUE(window->State().fullScreen);
  Key(Qt::Key_Escape);  // leaves full screen first
  EXPECT_FALSE(window->State().fullScreen);
  EXPECT_TRUE(window->Graph().HasGraph());
  Key(Qt::Key_Escape);
  EXPECT_FALSE(window->Graph().HasGraph());
  EXPECT_EQ(Title(), "Vireo Video Player");
  EXPECT_EQ(window->size(), QSize(256, 256));
  Key(Qt::Key_M);  // no clip: nothing happens
  EXPECT_TRUE(messages.empty());
}

// The tool windows pass keys they do not use to the keyboard table, so a key
// acts the same whichever window has the focus (the Findings list passes
// only the arrows: it searches by letters and selects with Space).
TEST_F(PlayerTest, KeysInTheToolWindowsActOnPlayback) {
  window->Start(Q(ptest::Clip(".avi", 40)));
  ASSERT_NE(window->Controls(), nullptr);
  Trigger(vireo::kCmdFindings);
  ASSERT_NE(window->Findings(), nullptr);
  struct Target {
    const char* name;
    QWidget* widget;
    int step, run, pause;
  };
  const Target targets[] = {
      {"Controls", window->Controls(), Qt::Key_Space, Qt::Key_P, Qt::Key_P},
      {"Findings", window->Findings(), Qt::Key_1, Qt::Key_P, Qt::Key_Down},
      {"Findings list", window->Findings()->List(), Qt::Key_Right, Qt::Key_Up, Qt::Key_Down},
  };
  const auto press = [](QWidget* widget, int key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
  };
  for (const Target& target : targets) {
    SCOPED_TRACE(target.name);
    const std::int64_t frame = window->Graph().CurrentFrame();
    press(target.widget, target.step);
    EXPECT_EQ(window->Graph().CurrentFrame(), frame + 1);
    press(target.widget, target.run);
    EXPECT_EQ(window->Graph().State(), PlayState::kRunning);
    press(target.widget, target.pause);
    EXPECT_EQ(window->Graph().State(), PlayState::kPaused);
    EXPECT_EQ(Title(), "clip40.avi (Paused)(Rate:25.00)");
  }
}

TEST_F(PlayerTest, MultiImageLayoutResumesRunningAtTheSamePlace) {
  window->Start(Q(ptest::Clip(".avi", 200)));
  window->Graph().SeekToFrame(30);
  Trigger(124);  // "6 x 4"
  EXPECT_TRUE(Checked(124));
  EXPECT_FALSE(Checked(115));
#ifdef VIREO_TEST_HAVE_DURMIX
  ASSERT_TRUE(window->Graph().HasGraph());
#endif
  if (!window->Graph().HasGraph()) {
    // No frame multiplicator in this build.
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Cannot play in multi-image mode");
    return;
  }
  EXPECT_EQ(window->Graph().Mode(), vireo::kModeMultiImage);
  EXPECT_EQ(window->Graph().State(), PlayState::kRunning);
  EXPECT_DOUBLE_EQ(window->Graph().Rate(), 1.0);
  EXPECT_GE(window->Graph().CurrentFrame(), 30);
  int w = 0, h = 0;
  ASSERT_TRUE(window->Graph().VideoSize(&w, &h));
  EXPECT_EQ(w, 6 * 64);
  EXPECT_EQ(h, 4 * 64);
  // The frame multiplicator's property page is reachable from the menu.
  Trigger(vireo::kCmdFilterProperties);
  EXPECT_TRUE(messages.empty());
  const auto sheets = window->findChildren<QDialog*>();
  EXPECT_TRUE(std::any_of(sheets.begin(), sheets.end(),
                          [](QDialog* d) { return d->isVisible() && d->windowTitle().startsWith("durmix"); }));
  Trigger(115);
  EXPECT_EQ(window->Graph().Mode(), vireo::kModePlain);
}

TEST_F(PlayerTest, SixByFourShowsConsecutiveFramesAndLayoutSwitchesKeepThePlace) {
#ifndef VIREO_TEST_HAVE_DURMIX
  GTEST_SKIP() << "no frame multiplicator in this build";
#endif
  constexpr int kSize = 64, kCols = 6, kRows = 4, kTiles = kCols * kRows;
  const std::string clip = ptest::Clip(".avi", 200, kSize);
  vtest::InitGst();
  const auto decoded = vtest::RunPipeline("filesrc location=\"" + clip +
                                          "\" ! avidemux ! jpegdec ! videoconvert ! video/x-raw,format=BGRx ! "
                                          "appsink name=out sync=false");
  ASSERT_EQ(decoded.frames.size(), 200u) << decoded.error;

  // Switched while running: the mosaic resumes at the frame shown before (a
  // frame or two later at most, since playback goes on until the switch), at
  // rate 1.0.
  window->Start(Q(clip));
  Key(Qt::Key_P);
  ASSERT_TRUE(WaitFor([&] { return window->Graph().CurrentFrame() >= 20; }));
  int before = window->Graph().CurrentFrame();
  Trigger(124);  // "6 x 4"
  ASSERT_TRUE(window->Graph().HasGraph());
  EXPECT_EQ(window->Graph().Mode(), vireo::kModeMultiImage);
  EXPECT_EQ(window->Graph().State(), PlayState::kRunning);
  EXPECT_DOUBLE_EQ(window->Graph().Rate(), 1.0);
  int after = window->Graph().CurrentFrame();
  EXPECT_GE(after, before);
  EXPECT_LE(after, before + 2);

  // More than a whole mosaic later, paused: each tile is one decoded frame.
  ASSERT_TRUE(WaitFor([&] { return window->Graph().CurrentFrame() >= after + kTiles + 6; }));
  Key(Qt::Key_P);
  ASSERT_EQ(window->Graph().State(), PlayState::kPaused);
  const int paused = window->Graph().CurrentFrame();
  WaitFor([] { return false; }, 300);  // the last picture is painted
  const QImage shot = window->Video()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(shot.size(), QSize(kCols * kSize, kRows * kSize));
  // Tiles fill as a snake from the bottom band of the picture up: the bottom
  // band right to left, the next left to right, and so on.
  int shown[kTiles];
  for (int slot = 0; slot < kTiles; ++slot) {
    const int band = slot / kCols;
    const int column = band % 2 == 0 ? kCols - 1 - slot % kCols : slot % kCols;
    const int x0 = column * kSize, y0 = (kRows - 1 - band) * kSize;
    double best = 1e9;
    for (int f = 0; f < static_cast<int>(decoded.frames.size()); ++f) {
      const double d = TileDifference(shot, x0, y0, kSize, decoded.frames[f]);
      if (d < best) best = d, shown[slot] = f;
    }
    EXPECT_LE(best, 2.0) << "slot " << slot << " frame " << shown[slot];
  }
  // The newest frame is the one paused on; the slots before it hold the
  // frames before it, one each, wrapping around the snake.
  const int newest = static_cast<int>(std::max_element(shown, shown + kTiles) - shown);
  EXPECT_NEAR(shown[newest], paused, 1);
  for (int back = 0; back < kTiles; ++back)
    EXPECT_EQ(shown[(newest - back + kTiles) % kTiles], shown[newest] - back) << back;

  // Back to "1 x 1" while running faster: plain playback at the same place,
  // at rate 1.0 again.
  Key(Qt::Key_P);
  ASSERT_EQ(window->Graph().State(), PlayState::kRunning);
  Key(Qt::Key_Right);
  ASSERT_GT(window->Graph().Rate(), 1.0);
  before = window->Graph().CurrentFrame();
  Trigger(115);
  ASSERT_TRUE(window->Graph().HasGraph());
  EXPECT_EQ(window->Graph().Mode(), vireo::kModePlain);
  EXPECT_EQ(window->Graph().State(), PlayState::kRunning);
  EXPECT_DOUBLE_EQ(window->Graph().Rate(), 1.0);
  EXPECT_EQ(Title(), "clip200.avi (Rate:25.00)");
  after = window->Graph().CurrentFrame();
  EXPECT_GE(after, before);
  EXPECT_LE(after, before + 2);
  int w = 0, h = 0;
  ASSERT_TRUE(window->Graph().VideoSize(&w, &h));
  EXPECT_EQ(w, kSize);
  EXPECT_EQ(h, kSize);
  EXPECT_TRUE(messages.empty());
}

TEST_F(PlayerTest, ManualOpensOrExplains) {
  UrlRecorder recorder;
  QDesktopServices::setUrlHandler("file", &recorder, "open");
  window->Start({});
  Trigger(vireo::kCmdManual);
  QDesktopServices::unsetUrlHandler("file");
  if (recorder.urls.isEmpty()) {
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Error");
    EXPECT_TRUE(messages[0].text.startsWith("Cannot open the Manual file! "));
  } else {
    EXPECT_TRUE(recorder.urls[0].toLocalFile().endsWith("Manual.pdf"));
    EXPECT_TRUE(messages.empty());
  }
}

}  // namespace

#include "test_player.moc"
