// Where the review windows appear on a 1280 x 1024 screen: side by side,
// frames included, inside the available area; a user's move is kept. The
// same checks run offscreen and on an X server with a window manager.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <fstream>

#include "clips.h"
#include "main_window.h"
#include "map_window.h"
#include "player_fixture.h"
#include "test_map_support.h"
#include "window_layout.h"

namespace {

using vireo::ReviewSizes;
using vireo::WindowSize;

using Frames = std::vector<std::pair<std::string, QRect>>;

void ExpectApartInside(const Frames& frames, const QRect& area) {
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const auto& [name, frame] = frames[i];
    EXPECT_TRUE(area.contains(frame)) << name << " " << frame.x() << "," << frame.y() << " " << frame.width() << "x"
                                      << frame.height();
    for (std::size_t j = i + 1; j < frames.size(); ++j)
      EXPECT_FALSE(frame.intersects(frames[j].second)) << name << " covers " << frames[j].first;
  }
}

TEST(ReviewLayout, ScreensThatHoldTheMinimumSizesShowEveryWindowApart) {
  // Frame sizes as the real windows have them: main window with a 320-pixel
  // video, Controls, a map window that only gets shorter, Findings.
  const ReviewSizes sizes{WindowSize{{322, 362}, {258, 258}}, WindowSize{{366, 70}, {366, 70}},
                          WindowSize{{425, 845}, {425, 211}}, WindowSize{{482, 415}, {202, 185}}};
  struct Case {
    QRect area;
    bool preferredFit;
  };
  const Case cases[] = {
      {{0, 0, 1280, 1024}, true},
      {{0, 30, 1280, 994}, true},      // a panel above
      {{1280, 0, 1920, 1080}, true},   // a second screen
      {{0, 0, 1024, 768}, false},      // the Findings get narrower, the map shorter
      {{0, 0, 1100, 400}, false},      // a short screen
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.area.width() * 10000 + c.area.height());
    const vireo::ReviewFrames frames = vireo::LayOutReviewWindows(c.area, sizes);
    ExpectApartInside({{"main", frames[0]}, {"controls", frames[1]}, {"map", frames[2]}, {"findings", frames[3]}},
                      c.area);
    for (std::size_t i = 0; i < frames.size(); ++i) {
      const QSize want = c.preferredFit ? sizes[i].preferred : sizes[i].minimum;
      EXPECT_GE(frames[i].width(), want.width()) << i;
      EXPECT_GE(frames[i].height(), want.height()) << i;
    }
  }
  // Narrower than the minimum widths: windows overlap but stay on the screen.
  const QRect small(0, 0, 800, 600);
  for (const QRect& frame : vireo::LayOutReviewWindows(small, sizes)) EXPECT_TRUE(small.contains(frame));
}

class ReviewWindowsTest : public ptest::PlayerFixture {
 protected:
  // The frame of every review window once the window system has decorated
  // it and the frames have stayed the same for half a second (a window
  // manager on a busy machine takes its time).
  Frames SettledFrames() {
    auto frames = [this] {
      const char* names[] = {"main", "controls", "map", "findings"};
      Frames now;
      const auto windows = Windows();
      for (std::size_t i = 0; i < windows.size(); ++i)
        if (windows[i] && windows[i]->isVisible() && vireo::FrameMargins(windows[i]).top() > 0)
          now.emplace_back(names[i], windows[i]->frameGeometry());
      return now;
    };
    Frames last;
    QElapsedTimer same;
    EXPECT_TRUE(WaitFor([&] {
      const Frames now = frames();
      if (now != last || now.size() != 4) {
        last = now;
        same.start();
      }
      return same.elapsed() >= 500;
    }, 20000));
    return last;
  }

  std::array<QWidget*, 4> Windows() const {
    return {window.get(), window->Controls(), window->Maps().Window(), window->Findings()};
  }
};

TEST_F(ReviewWindowsTest, OnA1280x1024ScreenNoWindowCoversAnother) {
  const QRect area = window->screen()->availableGeometry();
  ASSERT_EQ(window->screen()->geometry().size(), QSize(1280, 1024));
  const std::string clip = ptest::Clip(".avi", 20, 320);
  ASSERT_FALSE(clip.empty());
  const std::string stem = clip.substr(0, clip.size() - 4);
  std::ofstream(stem + ".bmp", std::ios::binary) << ptest::MapBytes(ptest::Rows(20, 1, 1));
  window->Start(ptest::Q(clip));
  Trigger(vireo::kCmdFindings);
  ASSERT_NE(window->Maps().Window(), nullptr);
  ExpectApartInside(SettledFrames(), area);

  // The user puts the Findings elsewhere; closed and reopened, they come back there.
  QWidget* findings = window->Findings();
  findings->move(area.left() + 30, area.bottom() - 450);
  WaitFor([&] { return findings->frameGeometry().top() == area.bottom() - 450; }, 3000);
  const QRect left = findings->frameGeometry();
  Trigger(vireo::kCmdFindings);
  ASSERT_EQ(window->Findings(), nullptr);
  Trigger(vireo::kCmdFindings);
  SettledFrames();
  EXPECT_EQ(window->Findings()->frameGeometry(), left);
  window->Maps().Close();
}

// The same test on an X server with Debian's openbox, reading the frames the
// window manager gives.
TEST(ReviewWindowsUnderAWindowManager, NoWindowCoversAnother) {
  const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
  const QString openbox = QStandardPaths::findExecutable(QStringLiteral("openbox"));
  if (xvfb.isEmpty() || openbox.isEmpty())
    GTEST_SKIP() << "Xvfb or openbox is not installed (scripts/setup.sh installs both)";
  QProcess server;
  server.start(xvfb, {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
  ASSERT_TRUE(server.waitForStarted());
  QByteArray display;
  while (!display.endsWith('\n') && server.waitForReadyRead(10000)) display += server.readAllStandardOutput();
  ASSERT_FALSE(display.trimmed().isEmpty()) << "Xvfb gave no display";
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", ":" + QString::fromLatin1(display.trimmed()));
  env.insert("QT_QPA_PLATFORM", "xcb");
  QProcess manager;
  manager.setProcessEnvironment(env);
  manager.start(openbox, {});
  ASSERT_TRUE(manager.waitForStarted());

  QProcess test;
  test.setProcessEnvironment(env);
  test.setProcessChannelMode(QProcess::MergedChannels);
  test.start(QStringLiteral("/proc/self/exe"), {"--gtest_filter=ReviewWindowsTest.*"});
  const bool finished = test.waitForFinished(120000);
  const QString output = QString::fromLocal8Bit(test.readAll());
  EXPECT_TRUE(finished && test.exitCode() == 0 && output.contains("[  PASSED  ] 1 test")) << output.toStdString();
  for (QProcess* p : {&test, &manager, &server}) {
    p->kill();
    p->waitForFinished();
  }
}

}  // namespace
