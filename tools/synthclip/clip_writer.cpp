#include "tools/synthclip/clip_writer.h"

#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>

namespace vireo::synth {
namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Frame rates the MPEG-2 encoder accepts.
constexpr std::array<std::pair<int, int>, 7> kMpegRates{
    {{24000, 1001}, {24, 1}, {25, 1}, {30000, 1001}, {30, 1}, {50, 1}, {60000, 1001}}};

bool MatchMpegRate(double fps, int& num, int& den) {
  for (const auto& [n, d] : kMpegRates) {
    if (std::fabs(fps - static_cast<double>(n) / d) < 1e-3) {
      num = n, den = d;
      return true;
    }
  }
  return false;
}

const char* Description(Container container) {
  switch (container) {
    case Container::kAvi: return "appsrc name=source ! videoconvert ! jpegenc ! avimux ! filesink name=sink";
    case Container::kMov: return "appsrc name=source ! videoconvert ! jpegenc ! qtmux ! filesink name=sink";
    case Container::kMpeg: return "appsrc name=source ! videoconvert ! mpeg2enc ! mpegpsmux ! filesink name=sink";
  }
  return "";
}

}  // namespace

bool ContainerForPath(const std::string& path, Container& container) {
  const std::string lower = Lower(path);
  if (EndsWith(lower, ".avi"))
    container = Container::kAvi;
  else if (EndsWith(lower, ".mov"))
    container = Container::kMov;
  else if (EndsWith(lower, ".mpg"))
    container = Container::kMpeg;
  else
    return false;
  return true;
}

std::string ContainerLimits(Container container, int size, double fps) {
  if (container != Container::kMpeg) return {};
  int num = 0, den = 0;
  if (!MatchMpegRate(fps, num, den))
    return "MPEG video needs a frame rate of 23.976, 24, 25, 29.97, 30, 50 or 59.94 frames per second";
  if (size % 2 != 0) return "MPEG video needs an even frame size";
  return {};
}

ClipWriter::~ClipWriter() { Close(); }

bool ClipWriter::Open(const std::string& path, Container container, int size, double fps) {
  if (container == Container::kMpeg) {
    MatchMpegRate(fps, fpsNum_, fpsDen_);
  } else {
    gst_util_double_to_fraction(fps, &fpsNum_, &fpsDen_);
  }
  GError* parseError = nullptr;
  pipeline_ = gst_parse_launch(Description(container), &parseError);
  if (!pipeline_ || parseError) {
    error_ =
        std::string("cannot build the encoding pipeline: ") + (parseError ? parseError->message : "unknown element");
    g_clear_error(&parseError);
    return false;
  }
  source_ = gst_bin_get_by_name(GST_BIN(pipeline_), "source");
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline_), "sink");
  g_object_set(sink, "location", path.c_str(), nullptr);
  gst_object_unref(sink);
  // No clock: the file is written as fast as frames come.
  gst_pipeline_use_clock(GST_PIPELINE(pipeline_), nullptr);

  GstVideoInfo info;
  gst_video_info_set_format(&info, GST_VIDEO_FORMAT_BGR, size, size);
  GST_VIDEO_INFO_FPS_N(&info) = fpsNum_;
  GST_VIDEO_INFO_FPS_D(&info) = fpsDen_;
  stride_ = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
  GstCaps* caps = gst_video_info_to_caps(&info);
  g_object_set(source_, "caps", caps, "format", GST_FORMAT_TIME, "block", TRUE, "max-bytes",
               static_cast<guint64>(4 * GST_VIDEO_INFO_SIZE(&info)), nullptr);

  // Frames come from a small pool that downstream hands back: no allocation
  // per frame.
  pool_ = gst_buffer_pool_new();
  GstStructure* config = gst_buffer_pool_get_config(pool_);
  gst_buffer_pool_config_set_params(config, caps, static_cast<guint>(GST_VIDEO_INFO_SIZE(&info)), 4, 16);
  gst_caps_unref(caps);
  if (!gst_buffer_pool_set_config(pool_, config) || !gst_buffer_pool_set_active(pool_, TRUE)) {
    error_ = "cannot set up the frame buffers";
    return false;
  }
  if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    CheckBus(0, false);
    if (error_.empty()) error_ = "cannot start the encoding pipeline";
    return false;
  }
  return true;
}

std::uint8_t* ClipWriter::NextFrame() {
  if (!pipeline_ || !CheckBus(0, false)) return nullptr;
  if (gst_buffer_pool_acquire_buffer(pool_, &buffer_, nullptr) != GST_FLOW_OK) {
    error_ = "cannot get a frame buffer";
    return nullptr;
  }
  gst_buffer_map(buffer_, &map_, GST_MAP_WRITE);
  return map_.data;
}

bool ClipWriter::Push() {
  gst_buffer_unmap(buffer_, &map_);
  const guint64 scale = static_cast<guint64>(fpsDen_) * GST_SECOND;
  const GstClockTime pts = gst_util_uint64_scale(frame_, scale, fpsNum_);
  GST_BUFFER_PTS(buffer_) = pts;
  GST_BUFFER_DTS(buffer_) = pts;
  GST_BUFFER_DURATION(buffer_) = gst_util_uint64_scale(frame_ + 1, scale, fpsNum_) - pts;
  GST_BUFFER_OFFSET(buffer_) = frame_;
  ++frame_;
  const GstFlowReturn flow = gst_app_src_push_buffer(GST_APP_SRC(source_), buffer_);
  buffer_ = nullptr;
  if (flow != GST_FLOW_OK) {
    CheckBus(0, false);
    if (error_.empty()) error_ = std::string("encoding stopped: ") + gst_flow_get_name(flow);
    return false;
  }
  return true;
}

GstClockTime ClipWriter::Length() const {
  return gst_util_uint64_scale(frame_, static_cast<guint64>(fpsDen_) * GST_SECOND, fpsNum_);
}

bool ClipWriter::Finish() {
  if (!pipeline_) return false;
  gst_app_src_end_of_stream(GST_APP_SRC(source_));
  const bool ok = CheckBus(GST_CLOCK_TIME_NONE, true);
  Close();
  return ok;
}

bool ClipWriter::CheckBus(GstClockTime timeout, bool untilEos) {
  if (!error_.empty()) return false;
  GstBus* bus = gst_element_get_bus(pipeline_);
  const auto types = static_cast<GstMessageType>(GST_MESSAGE_ERROR | (untilEos ? GST_MESSAGE_EOS : 0));
  GstMessage* message = gst_bus_timed_pop_filtered(bus, timeout, types);
  gst_object_unref(bus);
  if (!message) return !untilEos;
  if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
    GError* err = nullptr;
    gst_message_parse_error(message, &err, nullptr);
    error_ = std::string(GST_OBJECT_NAME(GST_MESSAGE_SRC(message))) + ": " + (err ? err->message : "error");
    g_clear_error(&err);
  }
  gst_message_unref(message);
  return error_.empty();
}

void ClipWriter::Close() {
  if (buffer_) {
    gst_buffer_unmap(buffer_, &map_);
    gst_buffer_unref(buffer_);
    buffer_ = nullptr;
  }
  if (pipeline_) {
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    if (source_) gst_object_unref(source_);
    gst_object_unref(pipeline_);
    pipeline_ = source_ = nullptr;
  }
  if (pool_) {
    gst_buffer_pool_set_active(pool_, FALSE);
    gst_object_unref(pool_);
    pool_ = nullptr;
  }
}

}  // namespace vireo::synth
