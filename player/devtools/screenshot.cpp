// vireo-player-screenshot CLIP OUT.png [FINDINGS.png]: opens CLIP in the player
// and writes a picture of the main window with its Controls dialog below it, as
// on the screen; with FINDINGS.png also one of the main window beside its
// Findings window once the entries' pictures have arrived. For the manual;
// works without a display (offscreen platform).
#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>

#include "controls_dialog.h"
#include "findings_dialog.h"
#include "main_window.h"
#include "player/graph.h"
#include "video_widget.h"
#include "window_shot.h"

int main(int argc, char* argv[]) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: vireo-player-screenshot CLIP OUT.png [FINDINGS.png]\n");
    return 2;
  }
  vireo::InitGraphLayer(argv[0]);
  QApplication app(argc, argv);
  vireo::MainWindow window;
  window.Start(QString::fromLocal8Bit(argv[1]));
  if (!window.Graph().HasGraph()) return 1;
  window.Graph().SeekToFrame(window.Graph().TotalFrames() / 3);
  QElapsedTimer timer;
  timer.start();
  while (window.Video()->PaintedCount() < 1 && timer.elapsed() < 5000) {
    window.Video()->repaint();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  for (int i = 0; i < 10; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  window.Controls()->Tick();
  if (!vireo::SaveWindows(&window, window.Controls(), Qt::Vertical, QString::fromLocal8Bit(argv[2]))) return 1;
  if (argc == 3) return 0;
  if (!window.Findings()) window.RunCommand(vireo::kCmdFindings);
  vireo::Settle(3000);
  return window.Findings() &&
                 vireo::SaveWindows(&window, window.Findings(), Qt::Horizontal, QString::fromLocal8Bit(argv[3]))
             ? 0
             : 1;
}
