#include "video_widget.h"

#include <QMetaObject>
#include <QPainter>
#include <cstring>

namespace vireo {

VideoWidget::VideoWidget(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::NoFocus);
}

void VideoWidget::Deliver(const VideoFrame& frame) {
  {
    QMutexLocker lock(&mutex_);
    if (incoming_.width() != frame.width || incoming_.height() != frame.height)
      incoming_ = QImage(frame.width, frame.height, QImage::Format_RGB32);
    const int rowBytes = std::min<int>(frame.stride, incoming_.bytesPerLine());
    for (int y = 0; y < frame.height; ++y)
      std::memcpy(incoming_.scanLine(y), frame.data + static_cast<std::ptrdiff_t>(y) * frame.stride, rowBytes);
    fresh_ = true;
  }
  QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
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
  if (newPicture) ++painted_;
}

}  // namespace vireo
