// vireo-map-screenshot CLIP OUT.png: opens CLIP in the player with its MDR
// map (the clip's name with ".bmp") and writes a picture of the main window
// beside the "MDR Map" window, the marker on the current frame. For the
// manual; works without a display (offscreen platform).
#include <QApplication>
#include <algorithm>
#include <cstdio>

#include "main_window.h"
#include "map_window.h"
#include "player/graph.h"
#include "video_widget.h"
#include "window_shot.h"

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
  vireo::Settle(300);
  window.Video()->repaint();
  map->FollowFrame();
  vireo::Settle(300);
  return vireo::SaveWindows(&window, map, Qt::Horizontal, QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
