// Single frames of a clip as small pictures, decoded by a playback graph of
// the grabber's own (never the one the player shows), so thumbnails match the
// frames the player seeks to.
#pragma once

#include <QImage>
#include <QSize>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "player/graph.h"

namespace vireo {

class FrameGrabber {
 public:
  FrameGrabber();
  FrameGrabber(const FrameGrabber&) = delete;
  FrameGrabber& operator=(const FrameGrabber&) = delete;

  // Opens the clip paused on its first frame; false with the reason.
  bool Open(const std::string& clipPath, std::string* error);
  bool IsOpen() const { return graph_.HasGraph(); }
  std::int64_t Frames() const { return frames_; }
  double FrameRate() const { return graph_.FrameRate(); }

  // The frame scaled to fit `bound` (aspect kept); a null image and the
  // reason when it lies outside the clip or the clip cannot show it.
  QImage Grab(std::int64_t frame, QSize bound, std::string* error);

 private:
  void Keep(const VideoFrame& frame);
  // Whether a picture came after `serial`, within the wait; takes it.
  bool TakePicture(std::uint64_t serial, QImage* picture, std::int64_t* pts);

  PlaybackGraph graph_;
  std::string clipPath_;
  std::string lastDiagnostic_;
  std::int64_t frames_ = 0;
  std::int64_t firstPts_ = -1;  // stream start: the first frame's timestamp

  std::mutex mutex_;  // the picture handed over by the streaming thread
  std::condition_variable arrived_;
  QImage picture_;
  std::int64_t pts_ = -1;
  std::uint64_t serial_ = 0;
};

}  // namespace vireo
