// Does playback run at the rate the player shows? Plays a clip in the real
// player window for a while at the manual rates 0.5, 2 and 8 and under
// Automatic Rate Control, and prints the frames the clip advanced per wall
// second beside the rate the title showed (averaged over the run).
//
// usage: vireo-bench-rate CLIP [SECONDS]
// The clip's map (same name, ".bmp") is written first when missing: one row
// per frame whose velocity makes the Velocity table sweep the factors from
// 0.5 to 8 and back every 750 frames.
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QRegularExpression>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <vector>

#include "main_window.h"
#include "messages.h"
#include "quorlin/model/map_writer.h"
#include "video_widget.h"

namespace {

constexpr std::uint32_t kPerimeter = 8;  // 16 picture pixels, 8 of record

bool WriteSweepMap(const std::string& path, std::int64_t frames) {
  quorlin::MapWriter writer;
  std::string error;
  if (!writer.OpenMap(path, kPerimeter, &error)) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
    return false;
  }
  std::vector<std::uint8_t> row(quorlin::MapRowBytes(kPerimeter), 0x60);
  for (std::int32_t frame = 0; frame < frames; ++frame) {
    // Factor 1 / (5 |velocity|) = 2^(1 + 2 sin): 0.5 .. 8.
    const double factor = std::exp2(1.0 + 2.0 * std::sin(2.0 * std::numbers::pi * frame / 750.0));
    const float record[5] = {static_cast<float>(1.0 / (5.0 * factor)), 0, 0, 0, 0};
    std::uint8_t* tail = row.data() + 2 * kPerimeter * 3;
    std::memcpy(tail, &frame, 4);
    std::memcpy(tail + 4, record, sizeof record);
    if (!writer.Append(row.data(), row.size())) break;
  }
  if (writer.CloseMap()) return true;
  std::fprintf(stderr, "%s: the map could not be written\n", path.c_str());
  return false;
}

void Press(QWidget* window, int key) {
  QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(window, &event);
}

void Trigger(vireo::MainWindow& window, int id) {
  if (QAction* action = window.Action(id)) action->trigger();
}

// The factor of the frame rate the title shows, "(Rate:%2.2f)".
double ShownRate(const vireo::MainWindow& window) {
  static const QRegularExpression pattern(QStringLiteral("\\(Rate:([0-9.]+)\\)"));
  const QRegularExpressionMatch match = pattern.match(window.windowTitle());
  return match.hasMatch() ? match.captured(1).toDouble() : 0.0;
}

struct Case {
  const char* name;
  double manualRate;  // 0: Automatic Rate Control (Velocity)
};

void Play(const QString& clip, const Case& c, double seconds) {
  vireo::MainWindow window;
  window.Start(clip);
  if (!window.Graph().HasGraph()) {
    std::fprintf(stderr, "the clip did not open\n");
    return;
  }
  Trigger(window, c.manualRate > 0 ? vireo::kCmdRateOff : vireo::kCmdRateVelocity);
  Press(&window, Qt::Key_Up);  // run at 1.0
  if (c.manualRate == 0.5) Trigger(window, vireo::kCmdRateHalf);
  if (c.manualRate >= 2.0) Trigger(window, vireo::kCmdRateDouble);
  for (double r = 2.0; r < c.manualRate; r += 0.25) Press(&window, Qt::Key_Right);

  const double fps = window.Graph().FrameRate();
  const std::int64_t first = window.Graph().CurrentFrame();
  const int paintedBefore = window.Video()->PaintedCount();
  QElapsedTimer wall;
  wall.start();
  double shownSum = 0.0;
  qint64 last = 0;
  while (wall.elapsed() < seconds * 1000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const qint64 now = wall.elapsed();
    shownSum += ShownRate(window) * static_cast<double>(now - last);
    last = now;
  }
  const double elapsed = wall.nsecsElapsed() / 1e9;
  const double advanced = static_cast<double>(window.Graph().CurrentFrame() - first) / elapsed;
  const double shown = shownSum / static_cast<double>(last);
  const double painted = (window.Video()->PaintedCount() - paintedBefore) / elapsed;
  std::printf("%-10s shown %7.2f frames/s (x%5.2f)  advanced %7.2f frames/s  ratio %5.2f  painted %6.1f/s\n", c.name,
              shown, shown / fps, advanced, advanced / shown, painted);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: vireo-bench-rate CLIP [SECONDS]\n");
    return 2;
  }
  vireo::InitGraphLayer(argv[0]);
  QApplication app(argc, argv);
  vireo::SetMessageHook([](const vireo::MessageRequest& r) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(r.caption), qPrintable(r.text));
    return QMessageBox::No;
  });
  const QString clip = QString::fromLocal8Bit(argv[1]);
  const double seconds = argc > 2 ? std::atof(argv[2]) : 10.0;
  const QFileInfo info(clip);
  const QString map = info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".bmp");
  if (!QFileInfo::exists(map)) {
    vireo::PlaybackGraph probe;
    vireo::GraphRequest request;
    request.clipPath = clip.toStdString();
    if (fh::FAILED(probe.Assemble(request)) || !WriteSweepMap(map.toStdString(), probe.TotalFrames())) return 1;
  }
  for (const Case& c : {Case{"rate 0.5", 0.5}, Case{"rate 2", 2.0}, Case{"rate 8", 8.0}, Case{"automatic", 0.0}})
    Play(clip, c, seconds);
  return 0;
}
