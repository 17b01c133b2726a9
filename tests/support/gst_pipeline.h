// Test helpers for real GStreamer pipelines: push frames through appsrc,
// collect them from appsink, and read what the bus said.
#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vtest {

// One decoded frame: tightly packed rows as GStreamer holds them (top-down).
struct Frame {
  int width = 0, height = 0, stride = 0;
  std::string format;
  std::vector<std::uint8_t> data;
  GstClockTime pts = GST_CLOCK_TIME_NONE, duration = GST_CLOCK_TIME_NONE;
  guint64 offset = GST_BUFFER_OFFSET_NONE;
  bool discont = false;
  const std::uint8_t* Pixel(int x, int y) const { return data.data() + y * stride + x * bpp(); }
  int bpp() const { return format == "BGRx" || format == "RGBx" || format == "BGRA" ? 4 : format == "RGB16" ? 2 : 3; }
};

// What a pipeline run produced.
struct RunResult {
  std::vector<Frame> frames;  // from the appsink named "out", if any
  std::string error;          // first bus error message, empty if none
  std::vector<std::string> warnings;
  bool eos = false;
};

// Initialises GStreamer once for the test program.
void InitGst();

// Builds `description` (gst-launch syntax). If it has an appsrc named "in",
// pushes `frames` (each `caps`-shaped, top-down, GStreamer strides) with
// timestamps at 25 frames per second, then EOS. Collects frames from an
// appsink named "out" until EOS or error, at most `timeoutSeconds`.
// `configure` sees the pipeline before it starts.
RunResult RunPipeline(const std::string& description, const std::string& caps = "",
                      const std::vector<std::vector<std::uint8_t>>& frames = {}, int timeoutSeconds = 60,
                      const std::function<void(GstElement*)>& configure = {});

// A pipeline "appsrc name=in ! ... ! appsink name=out" driven frame by frame:
// its source takes `caps` in time format, its sink does not wait for the
// clock, and `Element` finds the element between them by name. It is stopped
// and released when it goes out of scope. `pipeline` is null when the
// description does not parse.
struct AppPipeline {
  AppPipeline(const std::string& description, const std::string& caps);
  ~AppPipeline();
  AppPipeline(const AppPipeline&) = delete;
  AppPipeline& operator=(const AppPipeline&) = delete;
  GstElement* Element(const char* name);  // owned by the pipeline
  GstElement* pipeline = nullptr;
  GstElement* src = nullptr;
  GstElement* sink = nullptr;

 private:
  std::vector<GstElement*> found_;
};

// The picture size a sample's caps announce.
void SampleSize(GstSample* sample, int* width, int* height);

// Pushes `data` into the appsrc `src` as frame `n`, stamped at n / 25 s.
GstFlowReturn PushFrame(GstElement* src, const std::vector<std::uint8_t>& data, int n);

// The next sample of the appsink `sink`, waiting at most `seconds`; nullptr
// when none came. The caller unrefs it.
GstSample* PullSample(GstElement* sink, int seconds);

// The frame a sample holds.
Frame FrameFromSample(GstSample* sample);

// The first error message waiting on the pipeline's bus; empty when none.
std::string PendingBusError(GstElement* pipeline);

// A still image (e.g. a JPEG file) decoded to top-down BGR rows; an empty
// frame when it cannot be decoded.
Frame DecodeImage(const std::string& path);

// The real capsule frames of $VIREO_DATA_DIR/kvasir-capsule-polyp in frame
// order; empty when the folder is missing.
std::vector<std::string> CapsuleFramePaths();

// Stride GStreamer uses for packed RGB rows.
inline int GstStride(int width, int bytesPerPixel) { return (width * bytesPerPixel + 3) & ~3; }

// What a shell command printed on its standard output, and its exit status
// (-1 when it did not exit normally).
struct CommandResult {
  std::string output;
  int status = -1;
};
CommandResult RunCommand(const std::string& command);

// The path of one of the project's programs in the build tree.
std::string ProgramPath(const std::string& program);

// A file's whole content; empty when it cannot be read.
std::string ReadFile(const std::string& path);

// A full path below the folder of the test program's scratch files.
std::string TempPath(const std::string& name);

}  // namespace vtest
