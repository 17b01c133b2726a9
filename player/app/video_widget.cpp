#include "video_widget.h"

#include <QMetaObject>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <cstring>

namespace vireo {

VideoWidget::VideoWidget(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::NoFocus);
  repaintTimer_.setSingleShot(true);
  connect(&repaintTimer_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

void VideoWidget::Deliver(const VideoFrame& frame) {
  {
    QMutexLocker lock(&mutex_);
    if (incoming_.width() != frame.width || incoming_.height() != frame.height)
      incoming_ = QImage(frame.width, frame.height, QImage::Format_RGB32);
    const int rowBytes = std::min<int>(frame.stride, incoming_.bytesPerLine());
    for (int y = 0; y < frame.height; ++y)
      std::memcpy(incoming_.scanLine(y), frame.data + static_cast<std::ptrdiff_t>(y) * frame.stride, rowBytes);
    if (fresh_) ++dropped_;
    fresh_ = true;
  }
  if (!repaintQueued_.exchange(true))
    QMetaObject::invokeMethod(this, &VideoWidget::ScheduleRepaint, Qt::QueuedConnection);
}

// At most one repaint per refresh of the screen: at high rates the pictures
// in between are dropped here, not queued.
void VideoWidget::ScheduleRepaint() {
  const double hz = screen() ? screen()->refreshRate() : 60.0;
  const qint64 interval = static_cast<qint64>(1000.0 / std::clamp(hz, 24.0, 240.0));
  const qint64 wait = sinceRepaint_.isValid() ? interval - sinceRepaint_.elapsed() : 0;
  if (wait > 0)
    repaintTimer_.start(static_cast<int>(wait));
  else
    update();
}

void VideoWidget::Clear() {
  QMutexLocker lock(&mutex_);
  fresh_ = false;
  shown_ = QImage();
  update();
}

void VideoWidget::paintEvent(QPaintEvent*) {
  bool newPicture = false;
  {
    QMutexLocker lock(&mutex_);
    repaintQueued_ = false;
    if (fresh_) {
      // Swap rather than copy: the streaming thread refills the other image.
      std::swap(shown_, incoming_);
      fresh_ = false;
      newPicture = true;
    }
  }
  QPainter painter(this);
  if (shown_.isNull())
    painter.fillRect(rect(), Qt::black);
  else
    painter.drawImage(rect(), shown_);
  if (newPicture) {
    sinceRepaint_.restart();
    ++painted_;
  }
}

}  // namespace vireo
