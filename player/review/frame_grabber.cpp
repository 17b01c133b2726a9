#include "frame_grabber.h"

#include <chrono>
#include <cmath>
#include <cstdlib>

namespace vireo {

namespace {

constexpr auto kPictureWait = std::chrono::seconds(5);

}  // namespace

FrameGrabber::FrameGrabber() {
  graph_.SetFrameHandler([this](const VideoFrame& frame) { Keep(frame); });
  graph_.SetDiagnosticHandler([this](const Diagnostic& diagnostic) {
    lastDiagnostic_ = diagnostic.text + (diagnostic.detail.empty() ? "" : ": " + diagnostic.detail);
  });
}

void FrameGrabber::Keep(const VideoFrame& frame) {
  // The frame is valid during this call only: copy it.
  QImage copy = QImage(frame.data, frame.width, frame.height, frame.stride, QImage::Format_RGB32).copy();
  {
    std::lock_guard lock(mutex_);
    picture_ = std::move(copy);
    pts_ = frame.pts;
    ++serial_;
  }
  arrived_.notify_all();
}

bool FrameGrabber::TakePicture(std::uint64_t serial, QImage* picture, std::int64_t* pts) {
  std::unique_lock lock(mutex_);
  if (!arrived_.wait_for(lock, kPictureWait, [&] { return serial_ != serial; })) return false;
  *picture = picture_;
  *pts = pts_;
  return !picture->isNull();
}

bool FrameGrabber::Open(const std::string& clipPath, std::string* error) {
  clipPath_ = clipPath;
  lastDiagnostic_.clear();
  std::uint64_t serial;
  {
    std::lock_guard lock(mutex_);
    serial = serial_;
  }
  GraphRequest request;
  request.clipPath = clipPath;
  request.mode = kModePlain;
  QImage first;
  if (fh::FAILED(graph_.Assemble(request)) || !graph_.HasVideo() || !TakePicture(serial, &first, &firstPts_)) {
    graph_.Close();
    *error = lastDiagnostic_.empty() ? "the clip shows no picture" : lastDiagnostic_;
    return false;
  }
  frames_ = graph_.TotalFrames(true);
  return true;
}

QImage FrameGrabber::Grab(std::int64_t frame, QSize bound, std::string* error) {
  if (frame < 0 || frame >= frames_) {
    *error = "past the end of the clip";
    return {};
  }
  // A graph that failed on an earlier frame starts afresh.
  if (!graph_.HasGraph()) {
    std::string ignored;
    if (!Open(clipPath_, &ignored)) {
      *error = "the clip could not be reopened";
      return {};
    }
  }
  std::uint64_t serial;
  {
    std::lock_guard lock(mutex_);
    serial = serial_;
  }
  QImage picture;
  std::int64_t pts = -1;
  const bool shown = fh::SUCCEEDED(graph_.SeekToFrame(frame)) && TakePicture(serial, &picture, &pts);
  // A frame the decoder dropped shows its neighbour instead: the timestamp
  // tells them apart.
  const double frameNs = 1e9 / FrameRate();
  const double expectedNs = graph_.FrameTimeFormat() ? frame * frameNs : graph_.FromFrames(frame) * 100.0;
  const bool matches =
      pts < 0 || firstPts_ < 0 || std::fabs(static_cast<double>(pts - firstPts_) - expectedNs) < frameNs / 2;
  if (!shown || !matches) {
    graph_.Close();
    *error = "the frame could not be decoded";
    return {};
  }
  return picture.scaled(bound, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

}  // namespace vireo
