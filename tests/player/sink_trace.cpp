#include "sink_trace.h"

namespace ptest {

SinkTrace::SinkTrace(GstElement* pipeline) {
  gst_segment_init(&segment_, GST_FORMAT_TIME);
  GstElement* sink = pipeline ? gst_bin_get_by_name(GST_BIN(pipeline), "display") : nullptr;
  if (!sink) return;
  pad_ = gst_element_get_static_pad(sink, "sink");
  gst_object_unref(sink);
  probe_ = gst_pad_add_probe(
      pad_, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
      &SinkTrace::OnData, this, nullptr);
}

SinkTrace::~SinkTrace() {
  if (!pad_) return;
  gst_pad_remove_probe(pad_, probe_);
  gst_object_unref(pad_);
}

GstPadProbeReturn SinkTrace::OnData(GstPad*, GstPadProbeInfo* info, gpointer self) {
  auto* trace = static_cast<SinkTrace*>(self);
  std::lock_guard lock(trace->mutex_);
  if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
    const GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    const std::int64_t running =
        static_cast<std::int64_t>(gst_segment_to_running_time(&trace->segment_, GST_FORMAT_TIME, pts));
    trace->pictures_.push_back({static_cast<std::int64_t>(pts), running, static_cast<int>(trace->rates_.size()) - 1});
  } else if (GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info); GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(event, &segment);
    trace->segment_ = *segment;
    trace->rates_.push_back(segment->rate * segment->applied_rate);
  }
  return GST_PAD_PROBE_OK;
}

std::vector<SinkTrace::Picture> SinkTrace::Pictures() const {
  std::lock_guard lock(mutex_);
  return pictures_;
}

std::vector<double> SinkTrace::Rates() const {
  std::lock_guard lock(mutex_);
  return rates_;
}

int SinkTrace::CountFrom(int segment) const {
  std::lock_guard lock(mutex_);
  int count = 0;
  for (const Picture& p : pictures_) count += p.segment >= segment;
  return count;
}

std::vector<std::int64_t> SinkTrace::Steps(int segment) const {
  std::lock_guard lock(mutex_);
  std::vector<std::int64_t> steps;
  const Picture* previous = nullptr;
  bool first = true;
  for (const Picture& p : pictures_) {
    if (p.segment != segment) continue;
    if (first) {
      first = false;
      continue;
    }
    if (previous) steps.push_back(p.runningTime - previous->runningTime);
    previous = &p;
  }
  return steps;
}

}  // namespace ptest
