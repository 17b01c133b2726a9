#include "window_shot.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <string>

#include "filterhost/atomic_file.h"

namespace vireo {

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

bool SavePicture(const QImage& image, const QString& path) {
  QByteArray png;
  QBuffer buffer(&png);
  if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
    std::fprintf(stderr, "cannot encode the picture for %s\n", qPrintable(path));
    return false;
  }
  std::string error;
  if (!fh::WriteFileAtomically(path.toStdString(), png.constData(), static_cast<std::size_t>(png.size()), &error)) {
    std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(path), error.c_str());
    return false;
  }
  return true;
}

void Settle(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool SaveWindows(QWidget* first, QWidget* second, Qt::Orientation orientation, const QString& path) {
  const int margin = 8;
  const QImage a = Framed(first);
  const QImage b = Framed(second);
  const bool beside = orientation == Qt::Horizontal;
  const QPoint secondAt = beside ? QPoint(2 * margin + a.width(), margin) : QPoint(margin, margin + a.height());
  const QSize size = beside ? QSize(a.width() + b.width() + 3 * margin, std::max(a.height(), b.height()) + 2 * margin)
                            : QSize(std::max(a.width(), b.width()) + 2 * margin, a.height() + b.height() + 2 * margin);
  QImage shot(size, QImage::Format_RGB32);
  shot.fill(QColor(225, 228, 232));
  QPainter painter(&shot);
  painter.drawImage(margin, margin, a);
  painter.drawImage(secondAt, b);
  painter.end();
  return SavePicture(shot, path);
}

}  // namespace vireo
