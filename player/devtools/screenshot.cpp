// vireo-player-screenshot CLIP OUT.png: opens CLIP in the player and writes a
// picture of the main window with its Controls dialog below it, as on the
// screen. For the manual; works without a display (offscreen platform).
#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <cstdio>

#include "controls_dialog.h"
#include "main_window.h"
#include "player/graph.h"
#include "video_widget.h"

namespace {

// A window picture with a plain title bar above it (the offscreen platform
// draws no decorations).
QImage Framed(QWidget* window) {
  const QPixmap content = window->grab();
  const int bar = 22;
  QImage image(content.width() + 2, content.height() + bar + 1, QImage::Format_RGB32);
  image.fill(QColor(60, 64, 72));
  QPainter painter(&image);
  painter.setPen(Qt::white);
  painter.drawText(QRect(6, 0, image.width() - 12, bar), Qt::AlignVCenter | Qt::AlignLeft, window->windowTitle());
  painter.drawPixmap(1, bar, content);
  return image;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: vireo-player-screenshot CLIP OUT.png\n");
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
  const QImage top = Framed(&window);
  const QImage bottom = Framed(window.Controls());
  QImage shot(std::max(top.width(), bottom.width()) + 16, top.height() + bottom.height() + 16, QImage::Format_RGB32);
  shot.fill(QColor(225, 228, 232));
  QPainter painter(&shot);
  painter.drawImage(8, 8, top);
  painter.drawImage(8, 8 + top.height(), bottom);
  painter.end();
  return shot.save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
