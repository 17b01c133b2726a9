// Thumbnails of a clip's frames for the windows: decoded on a thread of the
// loader's own by its own frame grabber, kept once decoded, and handed to the
// user-interface thread by a signal. Asking never waits for a decode.
#pragma once

#include <QHash>
#include <QImage>
#include <QObject>
#include <QSize>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace vireo {

class ThumbnailLoader : public QObject {
  Q_OBJECT
 public:
  explicit ThumbnailLoader(QSize bound, QObject* parent = nullptr);
  ~ThumbnailLoader() override;

  // Forgets the pictures of the previous clip; an empty path closes it.
  void SetClip(const QString& clipPath);
  // The picture of `frame` when decoded; otherwise a null image, and the
  // frame is decoded next (the latest request first).
  QImage Thumbnail(std::int64_t frame);
  QSize Bound() const { return bound_; }

 signals:
  // On the user-interface thread; a null image when the frame cannot be shown.
  void ready(qint64 frame, const QImage& image);

 private:
  void Work();
  void Deliver(std::uint64_t generation, std::int64_t frame, const QImage& image);

  const QSize bound_;
  QHash<std::int64_t, QImage> cache_;  // user-interface thread only
  QHash<std::int64_t, bool> failed_;

  std::mutex mutex_;  // what the worker is asked to do
  std::condition_variable wake_;
  std::string clipPath_;
  std::uint64_t generation_ = 0;  // changes with the clip
  std::deque<std::int64_t> queue_;
  bool stop_ = false;
  std::thread worker_;
};

}  // namespace vireo
