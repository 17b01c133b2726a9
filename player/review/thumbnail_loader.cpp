#include "thumbnail_loader.h"

#include <QFile>
#include <algorithm>

#include "frame_grabber.h"

namespace vireo {

ThumbnailLoader::ThumbnailLoader(QSize bound, QObject* parent) : QObject(parent), bound_(bound) {
  worker_ = std::thread([this] { Work(); });
}

ThumbnailLoader::~ThumbnailLoader() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  worker_.join();
}

void ThumbnailLoader::SetClip(const QString& clipPath) {
  cache_.clear();
  failed_.clear();
  {
    std::lock_guard lock(mutex_);
    clipPath_ = QFile::encodeName(clipPath).toStdString();
    ++generation_;
    queue_.clear();
  }
  wake_.notify_all();
}

QImage ThumbnailLoader::Thumbnail(std::int64_t frame) {
  const auto cached = cache_.constFind(frame);
  if (cached != cache_.constEnd()) return *cached;
  if (failed_.contains(frame)) return {};
  {
    std::lock_guard lock(mutex_);
    if (clipPath_.empty()) return {};
    queue_.erase(std::remove(queue_.begin(), queue_.end(), frame), queue_.end());
    queue_.push_front(frame);
  }
  wake_.notify_all();
  return {};
}

void ThumbnailLoader::Deliver(std::uint64_t generation, std::int64_t frame, const QImage& image) {
  {
    std::lock_guard lock(mutex_);
    if (generation != generation_) return;  // a picture of the previous clip
  }
  if (image.isNull())
    failed_.insert(frame, true);
  else
    cache_.insert(frame, image);
  emit ready(frame, image);
}

void ThumbnailLoader::Work() {
  FrameGrabber grabber;
  std::uint64_t openGeneration = 0;
  bool open = false;
  for (;;) {
    std::int64_t frame = 0;
    std::uint64_t generation = 0;
    std::string clip;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (stop_) return;
      frame = queue_.front();
      queue_.pop_front();
      generation = generation_;
      clip = clipPath_;
    }
    if (generation != openGeneration) {
      std::string error;
      open = grabber.Open(clip, &error);
      openGeneration = generation;
    }
    std::string error;
    const QImage image = open ? grabber.Grab(frame, bound_, &error) : QImage();
    QMetaObject::invokeMethod(
        this, [this, generation, frame, image] { Deliver(generation, frame, image); }, Qt::QueuedConnection);
  }
}

}  // namespace vireo
