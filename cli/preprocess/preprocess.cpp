#include "preprocess.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <filesystem>

#include "cli/clip_facts.h"
#include "player/graph.h"

namespace vireo::cli {

namespace {

constexpr std::size_t kHeaderBytes = 54;

std::uint32_t Get32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

GstElement* QuorlinElement(const PlaybackGraph& graph) {
  for (GstElement* e : graph.PluginElements()) {
    if (!e) continue;
    GstElementFactory* f = gst_element_get_factory(e);
    if (f && std::strcmp(GST_OBJECT_NAME(f), "quorlin") == 0) return e;
  }
  return nullptr;
}

// Whether the sink after the filter holds the frame the graph prerolled on.
bool PrerolledFrame(GstElement* quorlin) {
  GstPad* src = gst_element_get_static_pad(quorlin, "src");
  GstPad* peer = gst_pad_get_peer(src);
  gst_object_unref(src);
  if (!peer) return false;
  GstElement* sink = gst_pad_get_parent_element(peer);
  gst_object_unref(peer);
  if (!sink) return false;
  GstSample* sample = nullptr;
  if (g_object_class_find_property(G_OBJECT_GET_CLASS(sink), "last-sample"))
    g_object_get(sink, "last-sample", &sample, nullptr);
  gst_object_unref(sink);
  if (!sample) return false;
  gst_sample_unref(sample);
  return true;
}

GstPadProbeReturn CountFrame(GstPad*, GstPadProbeInfo*, gpointer counter) {
  static_cast<std::atomic<std::int64_t>*>(counter)->fetch_add(1, std::memory_order_relaxed);
  return GST_PAD_PROBE_OK;
}

}  // namespace

std::string DefaultMapPath(const std::string& clip) {
  const std::filesystem::path path(clip);
  std::filesystem::path map = path;
  return map.replace_extension(".bmp").string();
}

MapState InspectMap(const std::string& path) {
  MapState state;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return state;
  state.exists = true;
  unsigned char header[kHeaderBytes];
  const bool whole = std::fread(header, 1, sizeof header, file) == sizeof header;
  std::fseek(file, 0, SEEK_END);
  const long size = std::ftell(file);
  std::fclose(file);
  if (!whole || header[0] != 'B' || header[1] != 'M') return state;
  const std::uint64_t rowBytes = (3 * std::uint64_t{Get32(header + 18)} + 3) & ~std::uint64_t{3};
  state.rows = Get32(header + 22);
  const std::uint64_t image = Get32(header + 34);
  state.complete = Get32(header + 18) > 0 && image == rowBytes * state.rows &&
                   Get32(header + 2) == kHeaderBytes + image &&
                   static_cast<std::uint64_t>(size) == kHeaderBytes + image;
  return state;
}

ClipResult PreprocessClip(const std::string& clip, const std::string& map, Progress& progress,
                          const std::atomic<bool>& stop, const std::optional<MdrParameters>& parameters) {
  ClipResult result;
  const auto start = std::chrono::steady_clock::now();
  auto finish = [&](std::string error) {
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.frames = progress.frames.load();
    result.map = InspectMap(map);
    // The map on disk is this run's only once a frame reached the filter.
    result.written = result.frames > 0;
    if (error.empty() && !result.map.complete) error = "the map " + map + " was not completed";
    if (error.empty() && result.map.rows == 0)
      error = "the map " + map + " has no rows: the grid never grew or shrank by a third of a ring step in " +
              std::to_string(result.frames) + " frames";
    result.ok = error.empty();
    result.error = std::move(error);
    return result;
  };

  PlaybackGraph graph;
  std::string diagnostics;
  graph.SetDiagnosticHandler([&diagnostics](const Diagnostic& d) {
    if (!diagnostics.empty()) diagnostics += "; ";
    diagnostics += d.text;
    if (!d.detail.empty()) diagnostics += " (" + d.detail + ")";
  });
  GraphRequest request;
  request.clipPath = clip;
  request.mode = kModeMdr;
  request.mapPath = map;
  request.mdrParameters = parameters;
  if (fh::FAILED(graph.Assemble(request)))
    return finish(diagnostics.empty() ? "the clip cannot be decoded" : diagnostics);

  GstElement* quorlin = QuorlinElement(graph);
  if (!quorlin) {
    graph.Close();
    return finish("the graph has no MDR filter");
  }
  // The graph is paused on its first frame, which has passed the filter.
  progress.frames = PrerolledFrame(quorlin) ? 1 : 0;
  GstPad* pad = gst_element_get_static_pad(quorlin, "src");
  gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, CountFrame, &progress.frames, nullptr);
  gst_object_unref(pad);
  const std::int64_t announced = AviAnnouncedFrames(clip);
  progress.total = announced > 0 ? announced : std::max<std::int64_t>(0, graph.TotalFrames());
  const bool exactCount = announced > 0 || graph.FrameTimeFormat();

  std::string error;
  if (fh::FAILED(graph.Run())) error = diagnostics.empty() ? "the graph does not run" : diagnostics;
  while (error.empty()) {
    if (stop) {
      error = "interrupted";
      break;
    }
    const std::optional<GraphEvent> event = graph.WaitEvent(200);
    if (!event) continue;
    if (event->kind == GraphEvent::Kind::kComplete) break;
    if (event->kind == GraphEvent::Kind::kError) error = event->text;
    // The filter warns when it cannot create the map; frames would go on without one.
    if (event->kind == GraphEvent::Kind::kWarning && event->text.find(map) != std::string::npos) error = event->text;
  }
  graph.Close();
  // Releasing the filter completes the map.
  graph.ReleaseFilters();

  const std::int64_t frames = progress.frames.load(), total = progress.total.load();
  const std::int64_t missing = total - frames;
  if (error.empty() && frames == 0) error = "no frame could be decoded";
  if (error.empty() && total > 0 && (exactCount ? missing > 0 : missing > 1 + total / 50))
    error = "the stream ended after " + std::to_string(frames) + " of " + std::to_string(total) +
            " frames (truncated or damaged clip)";
  return finish(std::move(error));
}

}  // namespace vireo::cli
