#include "gst_pipeline.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sys/wait.h>
#include <unistd.h>

namespace vtest {

void InitGst() {
  static std::once_flag once;
  std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

GstFlowReturn PushFrame(GstElement* src, const std::vector<std::uint8_t>& data, int n) {
  GstBuffer* b = gst_buffer_new_memdup(data.data(), data.size());
  GST_BUFFER_PTS(b) = static_cast<GstClockTime>(n) * GST_SECOND / 25;
  GstFlowReturn ret = GST_FLOW_ERROR;
  g_signal_emit_by_name(src, "push-buffer", b, &ret);
  gst_buffer_unref(b);
  return ret;
}

GstSample* PullSample(GstElement* sink, int seconds) {
  GstSample* s = nullptr;
  g_signal_emit_by_name(sink, "try-pull-sample", static_cast<GstClockTime>(seconds) * GST_SECOND, &s);
  return s;
}

Frame FrameFromSample(GstSample* sample) {
  Frame f;
  GstBuffer* buf = gst_sample_get_buffer(sample);
  GstCaps* caps = gst_sample_get_caps(sample);
  GstVideoInfo info;
  const bool raw = caps && gst_structure_has_name(gst_caps_get_structure(caps, 0), "video/x-raw");
  if (raw && gst_video_info_from_caps(&info, caps)) {
    f.width = GST_VIDEO_INFO_WIDTH(&info);
    f.height = GST_VIDEO_INFO_HEIGHT(&info);
    f.format = gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&info));
    GstVideoFrame vf;
    if (gst_video_frame_map(&vf, &info, buf, GST_MAP_READ)) {
      f.stride = GstStride(f.width, f.bpp());
      f.data.resize(static_cast<size_t>(f.stride) * f.height);
      for (int y = 0; y < f.height; ++y)
        std::memcpy(
            f.data.data() + y * f.stride,
            static_cast<std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&vf, 0)) + y * GST_VIDEO_FRAME_PLANE_STRIDE(&vf, 0),
            f.stride);
      gst_video_frame_unmap(&vf);
    }
  } else {
    GstMapInfo map;
    if (gst_buffer_map(buf, &map, GST_MAP_READ)) {
      f.data.assign(map.data, map.data + map.size);
      gst_buffer_unmap(buf, &map);
    }
  }
  f.pts = GST_BUFFER_PTS(buf);
  f.duration = GST_BUFFER_DURATION(buf);
  f.offset = GST_BUFFER_OFFSET(buf);
  f.discont = GST_BUFFER_FLAG_IS_SET(buf, GST_BUFFER_FLAG_DISCONT);
  return f;
}

std::string PendingBusError(GstElement* pipeline) {
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* msg = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
  gst_object_unref(bus);
  if (!msg) return "";
  GError* e = nullptr;
  gst_message_parse_error(msg, &e, nullptr);
  std::string text = e ? e->message : "error";
  if (e) g_error_free(e);
  gst_message_unref(msg);
  return text;
}

RunResult RunPipeline(const std::string& description, const std::string& caps,
                      const std::vector<std::vector<std::uint8_t>>& frames, int timeoutSeconds,
                      const std::function<void(GstElement*)>& configure) {
  InitGst();
  RunResult result;
  GError* err = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &err);
  if (!pipeline || err) {
    result.error = err ? err->message : "could not build pipeline";
    if (err) g_error_free(err);
    if (pipeline) gst_object_unref(pipeline);
    return result;
  }
  GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "in");
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
  if (sink) {
    g_object_set(sink, "emit-signals", FALSE, "sync", FALSE, nullptr);
    g_signal_connect(sink, "new-sample", G_CALLBACK(+[](GstAppSink* s, gpointer user) -> GstFlowReturn {
                       GstSample* sample = gst_app_sink_pull_sample(s);
                       if (sample) {
                         static_cast<RunResult*>(user)->frames.push_back(FrameFromSample(sample));
                         gst_sample_unref(sample);
                       }
                       return GST_FLOW_OK;
                     }),
                     &result);
    g_object_set(sink, "emit-signals", TRUE, nullptr);
  }
  if (src) {
    GstCaps* c = gst_caps_from_string(caps.c_str());
    g_object_set(src, "caps", c, "format", GST_FORMAT_TIME, "block", FALSE, nullptr);
    gst_caps_unref(c);
  }
  if (configure) configure(pipeline);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  if (src) {
    guint64 n = 0;
    for (const auto& data : frames) {
      GstBuffer* buf = gst_buffer_new_memdup(data.data(), data.size());
      GST_BUFFER_PTS(buf) = n * GST_SECOND / 25;
      GST_BUFFER_DURATION(buf) = GST_SECOND / 25;
      GST_BUFFER_OFFSET(buf) = n;
      GST_BUFFER_OFFSET_END(buf) = n + 1;
      ++n;
      if (gst_app_src_push_buffer(GST_APP_SRC(src), buf) != GST_FLOW_OK) break;
    }
    gst_app_src_end_of_stream(GST_APP_SRC(src));
  }
  GstBus* bus = gst_element_get_bus(pipeline);
  const GstClockTime deadline = static_cast<GstClockTime>(timeoutSeconds) * GST_SECOND;
  for (;;) {
    GstMessage* msg = gst_bus_timed_pop_filtered(
        bus, deadline, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR | GST_MESSAGE_WARNING));
    if (!msg) {
      result.error = "timeout";
      break;
    }
    if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_WARNING) {
      GError* w = nullptr;
      gst_message_parse_warning(msg, &w, nullptr);
      result.warnings.push_back(w ? w->message : "");
      if (w) g_error_free(w);
      gst_message_unref(msg);
      continue;
    }
    if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS) {
      result.eos = true;
    } else {
      GError* e = nullptr;
      gst_message_parse_error(msg, &e, nullptr);
      result.error = e ? e->message : "error";
      if (e) g_error_free(e);
    }
    gst_message_unref(msg);
    break;
  }
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  if (src) gst_object_unref(src);
  if (sink) gst_object_unref(sink);
  gst_object_unref(pipeline);
  return result;
}

Frame DecodeImage(const std::string& path) {
  RunResult r = RunPipeline("filesrc location=\"" + path +
                            "\" ! decodebin ! videoconvert ! video/x-raw,format=BGR ! appsink name=out");
  return r.error.empty() && r.frames.size() == 1 ? std::move(r.frames[0]) : Frame{};
}

std::vector<std::string> CapsuleFramePaths() {
  std::vector<std::string> files;
  const char* root = std::getenv("VIREO_DATA_DIR");
  if (!root) return files;
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::path(root) / "kvasir-capsule-polyp", error))
    if (entry.path().extension() == ".jpg") files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());  // the frame numbers in the names have the same width
  return files;
}

CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return result;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) result.output.append(buf, n);
  const int status = pclose(p);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

AppPipeline::AppPipeline(const std::string& description, const std::string& caps) {
  InitGst();
  pipeline = gst_parse_launch(description.c_str(), nullptr);
  if (!pipeline) return;
  src = gst_bin_get_by_name(GST_BIN(pipeline), "in");
  sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
  GstCaps* parsed = gst_caps_from_string(caps.c_str());
  g_object_set(src, "caps", parsed, "format", GST_FORMAT_TIME, nullptr);
  gst_caps_unref(parsed);
  g_object_set(sink, "sync", FALSE, nullptr);
}

AppPipeline::~AppPipeline() {
  if (!pipeline) return;
  gst_element_set_state(pipeline, GST_STATE_NULL);
  for (GstElement* e : found_) gst_object_unref(e);
  gst_object_unref(src);
  gst_object_unref(sink);
  gst_object_unref(pipeline);
}

GstElement* AppPipeline::Element(const char* name) {
  GstElement* e = gst_bin_get_by_name(GST_BIN(pipeline), name);
  if (e) found_.push_back(e);
  return e;
}

void SampleSize(GstSample* sample, int* width, int* height) {
  const GstStructure* s = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
  gst_structure_get_int(s, "width", width);
  gst_structure_get_int(s, "height", height);
}

std::string ProgramPath(const std::string& program) {
  const char* dir = std::getenv("VIREO_BIN_DIR");
  return std::string(dir ? dir : ".") + "/" + program;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string TempPath(const std::string& name) {
  static const std::string dir = [] {
    std::string d = std::filesystem::temp_directory_path() / ("vireo-test-" + std::to_string(getpid()));
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir + "/" + name;
}

}  // namespace vtest
