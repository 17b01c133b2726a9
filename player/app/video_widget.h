// Shows the pictures the graph's display sink receives.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QMutex>
#include <QWidget>

#include "player/graph.h"

namespace vireo {

class VideoWidget : public QWidget {
  Q_OBJECT
 public:
  explicit VideoWidget(QWidget* parent = nullptr);

  // Called on a streaming thread: copies the picture and schedules a repaint.
  void Deliver(const VideoFrame& frame);
  // Forgets the picture (no clip): the widget paints black.
  void Clear();
  // Pictures painted so far.
  int PaintedCount() const { return painted_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QMutex mutex_;
  QImage incoming_;  // written by the streaming thread, reused while the size stays
  bool fresh_ = false;
  QImage shown_;
  int painted_ = 0;
};

}  // namespace vireo
