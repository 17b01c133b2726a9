// Encodes BGR frames into a video file through a GStreamer pipeline.
#pragma once

#include <cstdint>
#include <string>

#include <gst/gst.h>

namespace vireo::synth {

enum class Container { kAvi, kMov, kMpeg };

// The container named by a file's extension (compared case-insensitively);
// false for an unknown extension.
bool ContainerForPath(const std::string& path, Container& container);

// MPEG video admits only a few frame rates and even frame sizes; an empty
// string when the clip can be written, else the reason it cannot.
std::string ContainerLimits(Container container, int size, double fps);

class ClipWriter {
 public:
  ClipWriter() = default;
  ClipWriter(const ClipWriter&) = delete;
  ClipWriter& operator=(const ClipWriter&) = delete;
  ~ClipWriter();

  // Builds and starts the pipeline writing `path`; false with Error() set.
  bool Open(const std::string& path, Container container, int size, double fps);
  int Stride() const { return stride_; }
  // Hands out the pixels of the next frame (top-down BGR, Stride() bytes per
  // row); Push() timestamps and sends it. Null or false after a failure.
  std::uint8_t* NextFrame();
  bool Push();
  // Ends the stream and waits until the file is complete.
  bool Finish();
  const std::string& Error() const { return error_; }
  // Time from the first pushed frame to the end of the last one.
  GstClockTime Length() const;

 private:
  bool CheckBus(GstClockTime timeout, bool untilEos);
  void Close();

  GstElement* pipeline_ = nullptr;
  GstElement* source_ = nullptr;
  GstBufferPool* pool_ = nullptr;
  GstBuffer* buffer_ = nullptr;
  GstMapInfo map_{};
  int stride_ = 0;
  int fpsNum_ = 25, fpsDen_ = 1;
  std::int64_t frame_ = 0;
  std::string error_;
};

}  // namespace vireo::synth
