// What reaches a playback graph's display sink, seen from its input pad: the
// segments (with their rates) and, for every picture, its timestamp and the
// running time the sink schedules it at.
#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <mutex>
#include <vector>

namespace ptest {

class SinkTrace {
 public:
  struct Picture {
    std::int64_t pts;
    std::int64_t runningTime;
    int segment;  // index into Rates()
  };

  // Watches the appsink named "display" in `pipeline`.
  explicit SinkTrace(GstElement* pipeline);
  ~SinkTrace();
  SinkTrace(const SinkTrace&) = delete;
  SinkTrace& operator=(const SinkTrace&) = delete;

  bool Attached() const { return pad_ != nullptr; }
  std::vector<Picture> Pictures() const;
  // rate x applied rate of every segment received, in order.
  std::vector<double> Rates() const;
  // Pictures of segment `segment` and later.
  int CountFrom(int segment) const;
  // Running time between consecutive pictures of segment `segment`, from its
  // second picture on (the first one is cut to where the segment starts).
  std::vector<std::int64_t> Steps(int segment) const;

 private:
  static GstPadProbeReturn OnData(GstPad* pad, GstPadProbeInfo* info, gpointer self);

  GstPad* pad_ = nullptr;
  gulong probe_ = 0;
  mutable std::mutex mutex_;
  GstSegment segment_;
  std::vector<double> rates_;
  std::vector<Picture> pictures_;
};

}  // namespace ptest
