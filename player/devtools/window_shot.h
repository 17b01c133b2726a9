// Pictures of the player's windows for the manual, made without a display
// (offscreen platform).
#pragma once

#include <QImage>
#include <QString>

class QWidget;

namespace vireo {

// Lets queued events (frames, timers, repaints) arrive for `ms` milliseconds.
void Settle(int ms);

// Writes `image` to `path` as PNG through the atomic writer, so that an
// interrupted run never leaves half a picture in place of the old one; says
// why on standard error when it cannot.
bool SavePicture(const QImage& image, const QString& path);

// Writes the pictures of `first` and `second`, each under a plain title bar,
// side by side (horizontal) or one below the other, on a light background.
bool SaveWindows(QWidget* first, QWidget* second, Qt::Orientation orientation, const QString& path);

}  // namespace vireo
