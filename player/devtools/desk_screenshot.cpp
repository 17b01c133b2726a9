// vireo-desk-screenshot CLIP OUT.png: opens CLIP in the player on the current
// X display, with its map and Findings windows, and writes a picture of the
// whole screen at half size, window manager decorations included. For the
// manual; scripts/desk-screenshot.sh runs it on Xvfb with openbox.
#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

#include "main_window.h"
#include "player/graph.h"
#include "window_shot.h"

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: vireo-desk-screenshot CLIP OUT.png\n");
    return 2;
  }
  vireo::InitGraphLayer(argv[0]);
  QApplication app(argc, argv);
  vireo::MainWindow window;
  window.Start(QString::fromLocal8Bit(argv[1]));
  if (!window.Graph().HasGraph()) return 1;
  if (!window.Findings()) window.RunCommand(vireo::kCmdFindings);
  window.Graph().SeekToFrame(window.Graph().TotalFrames() / 3);
  vireo::Settle(3000);
  QScreen* screen = window.screen();
  const QPixmap desk = screen->grabWindow(0);
  const QImage half = desk.toImage().scaled(desk.size() / 2, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  return vireo::SavePicture(half, QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
