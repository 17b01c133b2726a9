// Shows the pictures the graph's display sink receives.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QMutex>
#include <QTimer>
#include <QWidget>
#include <atomic>

#include "player/graph.h"

namespace vireo {

class VideoWidget : public QWidget {
  Q_OBJECT
 public:
  explicit VideoWidget(QWidget* parent = nullptr);

  // Called on a streaming thread: copies the picture and schedules a repaint.
  // Pictures arriving faster than the screen refreshes replace each other;
  // only the newest is painted.
  void Deliver(const VideoFrame& frame);
  // Forgets the picture (no clip): the widget paints black.
  void Clear();
  // Pictures painted so far.
  int PaintedCount() const { return painted_; }
  // Pictures replaced by a newer one before they were painted.
  int DroppedCount() const { return dropped_.load(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void ScheduleRepaint();

  QMutex mutex_;
  QImage incoming_;  // written by the streaming thread, reused while the size stays
  bool fresh_ = false;
  std::atomic<bool> repaintQueued_{false};
  std::atomic<int> dropped_{0};
  QElapsedTimer sinceRepaint_;
  QTimer repaintTimer_;
  QImage shown_;
  int painted_ = 0;
};

}  // namespace vireo
