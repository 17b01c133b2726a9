// vireo-map-screenshot CLIP OUT.png: opens CLIP in the player with its MDR
// map (the clip's name with ".bmp") and writes a picture of the main window
// beside the "MDR Map" window, the marker on the current frame. For the
// manual; works without a display (offscreen platform).
#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <cstdio>

#include "main_window.h"
#include "map_window.h"
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

void Settle(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: vireo-map-screenshot CLIP OUT.png\n");
    return 2;
  }
  vireo::InitGraphLayer(argv[0]);
  QApplication app(argc, argv);
  vireo::MainWindow window;
  window.Start(QString::fromLocal8Bit(argv[1]));
  vireo::MapWindow* map = window.Maps().Window();
  if (!window.Graph().HasGraph() || !map || window.Map().Rows() == 0) return 1;
  // Wide enough for the whole strip, and no taller than the map.
  const int extraWidth = 16 + window.Map().Width() + 260 - map->Control()->width();
  const int extraHeight = std::min(0, window.Map().Rows() + 40 - map->Control()->height());
  map->setMinimumSize(0, 0);
  map->resize(map->size() + QSize(std::max(0, extraWidth), extraHeight));
  // Halfway through the map, so that the marker stands inside it.
  const int row = window.Map().Rows() / 2;
  window.Graph().SeekToFrame(window.Map().Record(row).frame);
  Settle(300);
  window.Video()->repaint();
  map->FollowFrame();
  Settle(300);
  const QImage left = Framed(&window);
  const QImage right = Framed(map);
  QImage shot(left.width() + right.width() + 24, std::max(left.height(), right.height()) + 16, QImage::Format_RGB32);
  shot.fill(QColor(225, 228, 232));
  QPainter painter(&shot);
  painter.drawImage(8, 8, left);
  painter.drawImage(16 + left.width(), 8, right);
  painter.end();
  return shot.save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
