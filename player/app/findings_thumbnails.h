// A picture of its frame beside every entry of the Findings list. Only the
// entries in view are asked for, newest view first; a picture shows up when
// the loader's thread has decoded it, so scrolling never waits.
#pragma once

#include <QObject>
#include <QPixmap>
#include <QString>
#include <cstdint>
#include <functional>

#include "thumbnail_loader.h"

class QListWidget;
class QTimer;

namespace vireo {

class FindingsThumbnails : public QObject {
  Q_OBJECT
 public:
  // `frameOf(row)`: the frame of the list's entry `row`.
  FindingsThumbnails(QListWidget* list, std::function<std::int64_t(int)> frameOf);

  // The clip the frames belong to; the same path again changes nothing.
  void SetClip(const QString& clipPath);
  // Asks for the entries now in view (after the list changed).
  void Update();
  const ThumbnailLoader& Loader() const { return loader_; }

 private:
  void Show(std::int64_t frame, const QImage& image);

  QListWidget* list_;
  std::function<std::int64_t(int)> frameOf_;
  ThumbnailLoader loader_;
  QString clipPath_;
  QPixmap blank_;   // keeps the text of entries without a picture in line
  QTimer* settle_;  // one request per burst of scrolling
};

}  // namespace vireo
