#include "player/graph.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <strings.h>
#include <utility>

#include "filterhost/interfaces.h"
#include "filterhost/lookup.h"
#include "ostrel/analysis/analiza_detektor.h"

GST_DEBUG_CATEGORY_STATIC(vireo_graph_debug);
#define GST_CAT_DEFAULT vireo_graph_debug

namespace vireo {

using fh::E_FAIL;
using fh::E_INVALIDARG;
using fh::FAILED;
using fh::S_OK;
using fh::SUCCEEDED;

namespace {

constexpr double kUnitsPerSecond = 1e7;  // media time: 100 ns
constexpr GstClockTime kPrerollTimeout = 5 * GST_SECOND;
constexpr GstClockTime kSeekTimeout = 5 * GST_SECOND;
// A variant that cannot use its custom interface fails with -1.
constexpr HRESULT kNoCustomInterface = -1;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string HrText(HRESULT hr, const char* call) {
  char text[1024];
  std::snprintf(text, sizeof text, "FAILED(hr=0x%x) in %s\n", static_cast<unsigned>(hr), call);
  return text;
}

bool IsVideoPad(GstPad* pad) {
  GstCaps* caps = gst_pad_get_current_caps(pad);
  if (!caps) caps = gst_pad_query_caps(pad, nullptr);
  bool video = false, known = false;
  if (caps && gst_caps_get_size(caps) > 0) {
    const char* name = gst_structure_get_name(gst_caps_get_structure(caps, 0));
    video = g_str_has_prefix(name, "video/") || g_str_has_prefix(name, "image/");
    known = true;
  }
  if (caps) gst_caps_unref(caps);
  if (!known) return g_str_has_prefix(GST_PAD_NAME(pad), "video");
  return video;
}

bool IsAudioPad(GstPad* pad) {
  GstCaps* caps = gst_pad_get_current_caps(pad);
  if (!caps) caps = gst_pad_query_caps(pad, nullptr);
  bool audio = false;
  if (caps && gst_caps_get_size(caps) > 0)
    audio = g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "audio/");
  if (caps) gst_caps_unref(caps);
  return audio;
}

void PostError(GstElement* pipeline, const char* text) {
  GError* error = g_error_new_literal(GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED, text);
  gst_element_post_message(pipeline, gst_message_new_error(GST_OBJECT(pipeline), error, nullptr));
  g_error_free(error);
}

}  // namespace

bool IsAnalysisMode(int mode) { return mode == kModeMdrPreview || mode == kModeMdr || mode == kModePathology; }

void InitGraphLayer(const char* argv0) {
  // The program's plug-ins: installed beside it, or in the build tree.
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec && argv0) exe = std::filesystem::absolute(argv0, ec);
  if (!exe.empty()) {
    const std::filesystem::path dir = exe.parent_path();
    const std::filesystem::path installed = dir / VIREO_PLUGIN_RELDIR;
    std::string path;
    for (const auto& candidate : {installed, dir / ".." / "plugins"}) {
      if (!std::filesystem::is_directory(candidate, ec)) continue;
      if (!path.empty()) path += ':';
      path += std::filesystem::weakly_canonical(candidate, ec).string();
    }
    // GStreamer's plug-in scanner runs as its own process: it finds the
    // filter host library the installed plug-ins need through the library path.
    if (std::filesystem::is_directory(installed, ec)) {
      std::string libs = std::filesystem::weakly_canonical(installed / "..", ec).string();
      if (const char* old = std::getenv("LD_LIBRARY_PATH"); old && *old) libs = libs + ':' + old;
      setenv("LD_LIBRARY_PATH", libs.c_str(), 1);
    }
    if (!path.empty()) {
      if (const char* old = std::getenv("GST_PLUGIN_PATH"); old && *old) path = path + ':' + old;
      setenv("GST_PLUGIN_PATH", path.c_str(), 1);
    }
  }
  gst_init(nullptr, nullptr);
  GST_DEBUG_CATEGORY_INIT(vireo_graph_debug, "vireograph", 0, "Vireo playback graph");
}

// By the file's extension only: folders and other parts of the name may
// contain ".wmv" or ".asx" without meaning anything.
std::optional<std::string> RefusedClipMessage(const std::string& path) {
  const std::string name = path.substr(path.find_last_of('/') + 1);
  const std::size_t dot = name.find_last_of('.');
  const std::string extension = dot == std::string::npos ? std::string() : Lower(name.substr(dot));
  if (extension == ".asx") return "ASX Playlists are not supported by this application.";
  for (const char* ext : {".asf", ".wma", ".wmv"})
    if (extension == ext) return "Windows Media files (ASF,WMV,WMA) are not supported by this application.";
  return std::nullopt;
}

const char* CannotAssembleText(int mode) {
  switch (mode) {
    case kModeMultiImage: return "Cannot play in multi-image mode";
    case kModeCapture: return "Cannot save frames";
    case kModeMdrPreview:
    case kModeMdr: return "Cannot assemble the graph for MDR processing";
    case kModePathology: return "Cannot assemble the graph for pathology detection";
    default: return "Cannot play the file";
  }
}

PlaybackGraph::PlaybackGraph()
    : diagnosticHandler_([](const Diagnostic& d) {
        std::fprintf(stderr, "%s%s%s\n", d.text.c_str(), d.detail.empty() ? "" : "\n", d.detail.c_str());
      }) {}

PlaybackGraph::~PlaybackGraph() {
  Close();
  ReleaseFilters();
}

void PlaybackGraph::SetFrameHandler(FrameHandler handler) { frameHandler_ = std::move(handler); }
void PlaybackGraph::SetEventHandler(EventHandler handler) { eventHandler_ = std::move(handler); }
void PlaybackGraph::SetDiagnosticHandler(DiagnosticHandler handler) { diagnosticHandler_ = std::move(handler); }

void PlaybackGraph::Report(Diagnostic::Kind kind, const std::string& text, const std::string& detail) {
  if (diagnosticHandler_) diagnosticHandler_(Diagnostic{kind, text, detail});
}

void PlaybackGraph::ReportFailed(HRESULT hr, const char* call) {
  GST_ERROR("%s failed (hr=0x%08X)", call, static_cast<unsigned>(hr));
  Report(Diagnostic::Kind::kDiagnostic, HrText(hr, call));
}

// ---- building -------------------------------------------------------------

GstElement* PlaybackGraph::AddElement(const char* factory, const char* name) {
  GstElement* element = gst_element_factory_make(factory, name);
  if (element) gst_bin_add(GST_BIN(pipeline_), element);
  return element;
}

GstElement* PlaybackGraph::AddPlugin(fh::REFCLSID clsid, const char* name, HRESULT* hr) {
  GstElement* element = fh::CreateElementByClsid(clsid, name, hr);
  if (!element) {
    GST_WARNING("no element for %s (hr=0x%08X)", name, static_cast<unsigned>(hr ? *hr : E_FAIL));
    return nullptr;
  }
  gst_bin_add(GST_BIN(pipeline_), element);
  filters_.push_back(GST_ELEMENT(gst_object_ref(element)));
  return element;
}

GstElement* PlaybackGraph::MakeDisplayBranch() {
  GstElement* convert = gst_element_factory_make("videoconvert", nullptr);
  GstElement* sink = gst_element_factory_make("appsink", "display");
  if (!convert || !sink) {
    if (convert) gst_object_unref(convert);
    if (sink) gst_object_unref(sink);
    return nullptr;
  }
  GstCaps* caps = gst_caps_from_string("video/x-raw,format=BGRx");
  g_object_set(sink, "caps", caps, "max-buffers", 2u, "sync", !IsAnalysisMode(mode_), "qos", FALSE, nullptr);
  gst_caps_unref(caps);
  GstAppSinkCallbacks callbacks{};
  callbacks.new_preroll = [](GstAppSink* s, gpointer self) {
    return static_cast<PlaybackGraph*>(self)->DeliverSample(gst_app_sink_pull_preroll(s));
  };
  callbacks.new_sample = [](GstAppSink* s, gpointer self) {
    return static_cast<PlaybackGraph*>(self)->DeliverSample(gst_app_sink_pull_sample(s));
  };
  gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
  gst_bin_add_many(GST_BIN(pipeline_), convert, sink, nullptr);
  gst_element_link(convert, sink);
  videoSink_ = sink;
  return convert;
}

// Hands a picture to the frame handler. After a rate change the new segment
// starts with the picture already on screen (cut to the position the change
// was made at); pictures of that segment up to the end of the last one
// handed on are not handed on again. (A picture of the old segment may still
// be shown while the change is under way.)
GstFlowReturn PlaybackGraph::DeliverSample(GstSample* sample) {
  if (!sample) return GST_FLOW_OK;
  GstVideoInfo info;
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  GstCaps* caps = gst_sample_get_caps(sample);
  const std::int64_t pts = buffer && GST_BUFFER_PTS_IS_VALID(buffer) ? GST_BUFFER_PTS(buffer) : -1;
  const std::int64_t end = pts >= 0 && GST_BUFFER_DURATION_IS_VALID(buffer) ? pts + GST_BUFFER_DURATION(buffer) : -1;
  if (const double changingTo = changingTo_.load(); changingTo > 0.0) {
    const GstSegment* segment = gst_sample_get_segment(sample);
    if (segment && segment->rate * segment->applied_rate == changingTo) {
      if (pts >= 0 && pts < shownEnd_.load()) {
        gst_sample_unref(sample);
        return GST_FLOW_OK;
      }
      changingTo_ = 0.0;
    }
  }
  shownEnd_ = end;
  if (frameHandler_ && buffer && caps && gst_video_info_from_caps(&info, caps)) {
    GstVideoFrame frame;
    if (gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
      VideoFrame picture;
      picture.data = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
      picture.width = GST_VIDEO_INFO_WIDTH(&info);
      picture.height = GST_VIDEO_INFO_HEIGHT(&info);
      picture.stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
      picture.pts = pts;
      frameHandler_(picture);
      gst_video_frame_unmap(&frame);
    }
  }
  gst_sample_unref(sample);
  return GST_FLOW_OK;
}

void PlaybackGraph::AddAudioBranch(GstPad* pad) {
  GstElement* convert = gst_element_factory_make("audioconvert", nullptr);
  GstElement* resample = gst_element_factory_make("audioresample", nullptr);
  GstElement* volume = gst_element_factory_make("volume", nullptr);
  GstElement* sink = gst_element_factory_make("autoaudiosink", nullptr);
  if (!convert || !resample || !volume || !sink) {
    for (GstElement* e : {convert, resample, volume, sink})
      if (e) gst_object_unref(e);
    return;
  }
  gst_bin_add_many(GST_BIN(pipeline_), convert, resample, volume, sink, nullptr);
  gst_element_link_many(convert, resample, volume, sink, nullptr);
  for (GstElement* e : {sink, volume, resample, convert}) gst_element_sync_state_with_parent(e);
  GstPad* sinkPad = gst_element_get_static_pad(convert, "sink");
  if (gst_pad_link(pad, sinkPad) == GST_PAD_LINK_OK) volume_ = volume;
  gst_object_unref(sinkPad);
}

// The demuxer's first stream goes through decodebin into the graph's tail;
// further streams stay unconnected.
void PlaybackGraph::OnDemuxPad(GstPad* pad) {
  std::lock_guard lock(padMutex_);
  if (demuxLinked_) return;
  demuxLinked_ = true;
  GstElement* decoder = gst_element_factory_make("decodebin", nullptr);
  if (!decoder) return;
  g_signal_connect(decoder, "pad-added", G_CALLBACK(+[](GstElement*, GstPad* p, gpointer self) {
                     static_cast<PlaybackGraph*>(self)->OnDecodedPad(p);
                   }),
                   this);
  g_signal_connect(decoder, "no-more-pads", G_CALLBACK(&PlaybackGraph::OnNoMorePads), this);
  gst_bin_add(GST_BIN(pipeline_), decoder);
  gst_element_sync_state_with_parent(decoder);
  GstPad* sinkPad = gst_element_get_static_pad(decoder, "sink");
  gst_pad_link(pad, sinkPad);
  gst_object_unref(sinkPad);
}

// A clip whose streams end without the picture the tail needs fails instead
// of waiting for a frame forever.
void PlaybackGraph::OnNoMorePads(GstElement*, gpointer self) {
  auto* graph = static_cast<PlaybackGraph*>(self);
  std::lock_guard lock(graph->padMutex_);
  if (!graph->videoLinked_ && !graph->audioLinked_) PostError(graph->pipeline_, "The clip has no video stream.");
}

void PlaybackGraph::OnDecodedPad(GstPad* pad) {
  std::lock_guard lock(padMutex_);
  if (IsVideoPad(pad)) {
    if (videoLinked_) return;
    GstElement* target = entry_;
    if (!target) {
      target = MakeDisplayBranch();
      if (!target) return;
      gst_element_sync_state_with_parent(videoSink_);
      gst_element_sync_state_with_parent(target);
    }
    GstPad* sinkPad = gst_element_get_static_pad(target, "sink");
    videoLinked_ = gst_pad_link(pad, sinkPad) == GST_PAD_LINK_OK;
    gst_object_unref(sinkPad);
    if (videoLinked_) videoTarget_ = target;
  } else if (mode_ == kModePlain && IsAudioPad(pad) && !audioLinked_) {
    audioLinked_ = true;
    AddAudioBranch(pad);
  }
}

// The mode's tail after the decoder: `entry` receives the decoded video.
HRESULT PlaybackGraph::BuildTail(const GraphRequest& request, GstElement** entry, std::string* detail) {
  *entry = nullptr;
  if (mode_ == kModePlain) return S_OK;
  GstElement* convert = AddElement("videoconvert", nullptr);
  if (!convert) return E_FAIL;
  *entry = convert;
  // Analysis runs as fast as it can: decoding goes on in its own thread while
  // the plug-in works, so the two overlap on separate cores. The tracker's
  // thread is the slower one, so the conversion runs on the decoder's side.
  const bool tracking = mode_ == kModeMdr || mode_ == kModeMdrPreview;
  GstElement* converted = nullptr;  // the queue after the conversion, when there
  if (IsAnalysisMode(mode_)) {
    GstElement* decoded = AddElement("queue", nullptr);
    if (!decoded) return E_FAIL;
    if (tracking) {
      converted = decoded;
    } else {
      if (!gst_element_link(decoded, convert)) return E_FAIL;
      *entry = decoded;
    }
  }
  HRESULT hr = E_FAIL;
  GstElement* plugin = nullptr;
  switch (mode_) {
    case kModeMultiImage: plugin = AddPlugin(fh::CLSID_Durmix, "durmix", &hr); break;
    case kModeCapture: plugin = AddPlugin(fh::CLSID_KelbitFilter, "kelbit", &hr); break;
    case kModeMdrPreview:
    case kModeMdr: plugin = AddPlugin(fh::CLSID_Quorlin, "quorlin", &hr); break;
    case kModePathology: plugin = AddPlugin(fh::CLSID_FiltrDetektor, "ostrel", &hr); break;
    default: return E_INVALIDARG;
  }
  if (!plugin) return FAILED(hr) ? hr : E_FAIL;
  if (request.onPlugin) request.onPlugin(plugin);
  analyser_ = nullptr;
  if (IsAnalysisMode(mode_)) {
    analyser_ = plugin;
    GstPad* out = gst_element_get_static_pad(plugin, "src");
    gst_pad_add_probe(
        out, GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo*, gpointer count) {
          ++*static_cast<std::atomic<std::int64_t>*>(count);
          return GST_PAD_PROBE_OK;
        },
        &analysed_, nullptr);
    gst_object_unref(out);
  }
  // The analysing plug-ins get 24-bit frames: the converter would otherwise
  // pick 32 bits, which the detector refuses and the tracker handles slower.
  if (IsAnalysisMode(mode_)) {
    GstCaps* bgr = gst_caps_from_string("video/x-raw,format=BGR");
    const bool linked = gst_element_link_filtered(convert, converted ? converted : plugin, bgr) &&
                        (!converted || gst_element_link(converted, plugin));
    gst_caps_unref(bgr);
    if (!linked) return E_FAIL;
  } else if (!gst_element_link(convert, plugin)) {
    return E_FAIL;
  }

  // The control call, made once the plug-in's input is connected; its result
  // is not examined.
  void* control = nullptr;
  switch (mode_) {
    case kModeMultiImage:
      if (FAILED(fh::QueryElementInterface(plugin, fh::IID_DurmixInterface, &control)) || !control)
        return kNoCustomInterface;
      static_cast<fh::DurmixInterface*>(control)->SetMode(0, std::clamp(request.mosaicCols, 1, 6),
                                                          std::clamp(request.mosaicRows, 1, 4));
      static_cast<fh::DurmixInterface*>(control)->Release();
      break;
    case kModeCapture: capture_ = plugin; break;
    case kModeMdrPreview:
    case kModeMdr:
      if (FAILED(fh::QueryElementInterface(plugin, fh::IID_IQuorlinInterface, &control)) || !control)
        return kNoCustomInterface;
      {
        auto* quorlin = static_cast<fh::IQuorlinInterface*>(control);
        quorlin->SetFileName(request.mapPath.c_str());
        // The frames of a run without preview end in a null sink: the grid
        // drawn into them would be seen by nobody.
        if (mode_ == kModeMdr) {
          GRID_LOOK look{};
          quorlin->GetLook(&look);
          look.Mode = kLookNone;
          quorlin->SetLook(&look);
        }
        // Parameters the filter refuses must not give a map made with others.
        const HRESULT set = request.mdrParameters
                                ? quorlin->SetParams(request.mdrParameters->phases, &request.mdrParameters->geometry,
                                                     request.mdrParameters->text.c_str())
                                : S_OK;
        quorlin->Release();
        if (FAILED(set)) return set;
        break;
      }
    case kModePathology:
      if (FAILED(fh::QueryElementInterface(plugin, fh::IID_IOstrelInterfejs, &control)) || !control)
        return kNoCustomInterface;
      static_cast<fh::IOstrelInterfejs*>(control)->SetFindingsFile(request.findingsPath.c_str());
      static_cast<fh::IOstrelInterfejs*>(control)->Release();
      break;
    default: break;
  }

  // Analyses whose frames nobody sees end in a null sink.
  if (mode_ == kModeMdr || (mode_ == kModePathology && !request.markedVideo)) {
    GstElement* sink = AddElement("fakesink", nullptr);
    if (!sink) return E_FAIL;
    g_object_set(sink, "sync", FALSE, nullptr);
    return gst_element_link(plugin, sink) ? S_OK : E_FAIL;
  }
  if (mode_ == kModePathology) {
    // The marked frames are encoded in a thread of their own, so that the
    // detector goes on with the next frame meanwhile.
    GstElement* encoding = AddElement("queue", nullptr);
    GstElement* toJpeg = AddElement("videoconvert", nullptr);
    GstElement* encoder = AddElement("jpegenc", nullptr);
    GstElement* mux = AddElement("avimux", nullptr);
    if (!encoding || !toJpeg || !encoder || !mux) return E_FAIL;
    GstElement* writer = AddExportWriter(request.exportPath, detail);
    if (!writer) return E_FAIL;
    return gst_element_link_many(plugin, encoding, toJpeg, encoder, mux, writer, nullptr) ? S_OK : E_FAIL;
  }
  GstElement* display = MakeDisplayBranch();
  if (!display) return E_FAIL;
  return gst_element_link(plugin, display) ? S_OK : E_FAIL;
}

// The marked clip goes to a temporary file beside its target through fdsink
// (which seeks, so the muxer completes the AVI header at the end).
GstElement* PlaybackGraph::AddExportWriter(const std::string& path, std::string* detail) {
  export_ = std::make_unique<fh::AtomicFile>(path);
  exportEnded_ = false;
  if (!export_->Open()) {
    *detail = "Cannot create the file \"" + path + "\": " + export_->Error();
    GST_WARNING("%s", detail->c_str());
    return nullptr;
  }
  GST_INFO("marked clip written beside \"%s\"", path.c_str());
  GstElement* writer = AddElement("fdsink", nullptr);
  if (!writer) return nullptr;
  g_object_set(writer, "fd", export_->Descriptor(), "sync", FALSE, nullptr);
  GstPad* pad = gst_element_get_static_pad(writer, "sink");
  gst_pad_add_probe(
      pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM,
      [](GstPad*, GstPadProbeInfo* info, gpointer ended) {
        if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS)
          *static_cast<std::atomic<bool>*>(ended) = true;
        return GST_PAD_PROBE_OK;
      },
      &exportEnded_, nullptr);
  gst_object_unref(pad);
  return writer;
}

// With the pipeline stopped: a marked clip whose stream ended after at least
// one frame is complete (also when it ended early) and replaces the target;
// any other is dropped, leaving an earlier file as it was.
void PlaybackGraph::CompleteExport() {
  if (!export_) return;
  if (exportEnded_ && analysed_ > 0 && !export_->Commit())
    Report(Diagnostic::Kind::kFailed, "Cannot write the file \"" + export_->Target() + "\"", export_->Error());
  export_.reset();
}

HRESULT PlaybackGraph::BuildVariant(const GraphRequest& request, SplitterKind kind, std::string* detail) {
  DropPipeline();
  ReleaseFilters();
  pipeline_ = gst_pipeline_new("vireo-graph");
  if (!pipeline_) return E_FAIL;
  splitter_ = kind;
  demuxLinked_ = videoLinked_ = audioLinked_ = false;
  analysed_ = 0;

  GST_INFO("building mode %d for \"%s\" with %s", mode_, request.clipPath.c_str(),
           kind == SplitterKind::kAvi     ? "avidemux"
           : kind == SplitterKind::kOther ? "parsebin"
                                          : "decodebin");
  HRESULT hr = BuildTail(request, &entry_, detail);
  if (FAILED(hr)) {
    GST_WARNING("the plug-ins of mode %d could not be set up (hr=0x%08X)", mode_, static_cast<unsigned>(hr));
    return hr;
  }

  auto onDemuxPad =
      +[](GstElement*, GstPad* pad, gpointer self) { static_cast<PlaybackGraph*>(self)->OnDemuxPad(pad); };
  auto onDecodedPad =
      +[](GstElement*, GstPad* pad, gpointer self) { static_cast<PlaybackGraph*>(self)->OnDecodedPad(pad); };
  if (kind == SplitterKind::kNone && mode_ == kModePlain) {
    GstElement* source = AddElement("uridecodebin", "source");
    if (!source) return E_FAIL;
    GError* error = nullptr;
    gchar* uri = gst_filename_to_uri(request.clipPath.c_str(), &error);
    if (!uri) {
      if (error) {
        *detail = error->message;
        g_error_free(error);
      }
      return E_FAIL;
    }
    g_object_set(source, "uri", uri, nullptr);
    g_free(uri);
    g_signal_connect(source, "pad-added", G_CALLBACK(onDecodedPad), this);
    g_signal_connect(source, "no-more-pads", G_CALLBACK(&PlaybackGraph::OnNoMorePads), this);
  } else {
    GstElement* source = AddElement("filesrc", "source");
    if (!source) return E_FAIL;
    g_object_set(source, "location", request.clipPath.c_str(), nullptr);
    const char* next = kind == SplitterKind::kAvi     ? "avidemux"
                       : kind == SplitterKind::kOther ? "parsebin"
                                                      : "decodebin";
    GstElement* element = AddElement(next, "splitter");
    if (!element || !gst_element_link(source, element)) return E_FAIL;
    g_signal_connect(element, "pad-added", G_CALLBACK(kind == SplitterKind::kNone ? onDecodedPad : onDemuxPad), this);
    if (kind == SplitterKind::kNone)
      g_signal_connect(element, "no-more-pads", G_CALLBACK(&PlaybackGraph::OnNoMorePads), this);
  }
  if (IsAnalysisMode(mode_)) gst_pipeline_use_clock(GST_PIPELINE(pipeline_), nullptr);
  return Preroll(detail);
}

// Pauses the new pipeline and waits until its first frame reached the sinks
// or it failed.
HRESULT PlaybackGraph::Preroll(std::string* detail) {
  GstBus* bus = gst_element_get_bus(pipeline_);
  gst_bus_set_flushing(bus, FALSE);
  HRESULT hr = S_OK;
  if (gst_element_set_state(pipeline_, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) hr = E_FAIL;
  const gint64 deadline = g_get_monotonic_time() + GST_TIME_AS_USECONDS(kPrerollTimeout);
  for (;;) {
    const gint64 left = deadline - g_get_monotonic_time();
    GstMessage* message =
        left > 0 ? gst_bus_timed_pop_filtered(
                       bus, left * GST_USECOND,
                       static_cast<GstMessageType>(GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR | GST_MESSAGE_WARNING))
                 : nullptr;
    if (!message) {
      if (SUCCEEDED(hr)) {
        hr = E_FAIL;
        *detail = "The clip gave no picture within 5 seconds.";
      }
      break;
    }
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
      GError* error = nullptr;
      gst_message_parse_error(message, &error, nullptr);
      if (error) {
        *detail = error->message;
        brokenAvi_ =
            splitter_ == SplitterKind::kAvi && g_error_matches(error, GST_STREAM_ERROR, GST_STREAM_ERROR_DEMUX);
        g_error_free(error);
      }
      gst_message_unref(message);
      hr = E_FAIL;
      break;
    }
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_WARNING) {
      // A plug-in's warning (e.g. a file it cannot create) must still reach
      // the user: kept for TakePrerollWarnings or the next WaitEvent.
      if (auto event = ToEvent(message)) prerollWarnings_.push_back(*event);
      gst_message_unref(message);
      continue;
    }
    gst_message_unref(message);
    if (SUCCEEDED(hr)) break;
  }
  gst_object_unref(bus);
  return hr;
}

// The clip's rate: frames over media time (the AVI header's rate) when the
// demuxer counts the frames of a video stream and the rate lies within
// 1..100 fps; otherwise the rate the decoded video's caps announce. Without
// either, the previous clip's rate stays.
void PlaybackGraph::DetectFrameRate() {
  const double header = HeaderFrameRate();
  if (header > 1.0 && header < 100.0) {
    frameRate_ = header;
    return;
  }
  GstElement* target = nullptr;
  {
    std::lock_guard lock(padMutex_);
    if (videoTarget_) target = GST_ELEMENT(gst_object_ref(videoTarget_));
  }
  if (!target) return;
  GstPad* pad = gst_element_get_static_pad(target, "sink");
  GstCaps* caps = pad ? gst_pad_get_current_caps(pad) : nullptr;
  int num = 0, den = 0;
  if (caps && gst_structure_get_fraction(gst_caps_get_structure(caps, 0), "framerate", &num, &den) && num > 0 &&
      den > 0)
    frameRate_ = static_cast<double>(num) / den;
  if (caps) gst_caps_unref(caps);
  if (pad) gst_object_unref(pad);
  gst_object_unref(target);
}

// Frames over media time as avidemux counts them; 0 when no frames of a
// video stream are counted.
double PlaybackGraph::HeaderFrameRate() const {
  gint64 durationNs = -1;
  if (splitter_ != SplitterKind::kAvi || !gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &durationNs) ||
      durationNs <= 0)
    return 0.0;
  const double media = static_cast<double>(durationNs) / 100.0;
  GstElement* demux = gst_bin_get_by_name(GST_BIN(pipeline_), "splitter");
  GstPad* pad = nullptr;
  if (demux) {
    GstIterator* it = gst_element_iterate_src_pads(demux);
    GValue item = G_VALUE_INIT;
    if (gst_iterator_next(it, &item) == GST_ITERATOR_OK) pad = GST_PAD(g_value_dup_object(&item));
    g_value_unset(&item);
    gst_iterator_free(it);
    gst_object_unref(demux);
  }
  gint64 frames = -1;
  const bool counted = pad && IsVideoPad(pad) && gst_pad_query_duration(pad, GST_FORMAT_DEFAULT, &frames) && frames > 0;
  if (pad) gst_object_unref(pad);
  return counted ? static_cast<double>(frames) * kUnitsPerSecond / media : 0.0;
}

HRESULT PlaybackGraph::Assemble(const GraphRequest& request) {
  Close();
  mode_ = request.mode;
  volume100_ = 0;
  std::string detail;
  HRESULT hr = E_FAIL;
  brokenAvi_ = false;
  for (SplitterKind kind : {SplitterKind::kAvi, SplitterKind::kOther, SplitterKind::kNone}) {
    if (kind < request.firstVariant) continue;
    std::string why;
    // An AVI file that avidemux recognised but could not read is broken:
    // parsebin would only try avidemux again (and may wait for the timeout).
    if (kind == SplitterKind::kOther && brokenAvi_) continue;
    hr = BuildVariant(request, kind, &why);
    if (SUCCEEDED(hr)) break;
    GST_INFO("variant failed (hr=0x%08X): %s", static_cast<unsigned>(hr), why.c_str());
    if (detail.empty()) detail = why;
    if (!why.empty() && kind == SplitterKind::kNone) detail = why;
  }
  if (FAILED(hr)) {
    GST_WARNING("no variant of mode %d plays \"%s\"", mode_, request.clipPath.c_str());
    DropPipeline();
    Report(Diagnostic::Kind::kFailed, CannotAssembleText(mode_), detail);
    return hr;
  }

  {
    std::lock_guard lock(padMutex_);
    hasVideo_ = videoSink_ != nullptr && videoLinked_;
  }
  DetectFrameRate();
  rate_ = 1.0;
  if (eventHandler_) {
    GstBus* bus = gst_element_get_bus(pipeline_);
    gst_bus_set_sync_handler(bus, &PlaybackGraph::OnBusSync, this, nullptr);
    gst_object_unref(bus);
  }
  state_ = PlayState::kPaused;
  GST_INFO("graph ready: %s video, %.3f frames per second", hasVideo_ ? "with" : "without", frameRate_);
  return S_OK;
}

void PlaybackGraph::DropPipeline() {
  prerollWarnings_.clear();
  if (!pipeline_) return;
  gst_element_set_state(pipeline_, GST_STATE_NULL);
  GstBus* bus = gst_element_get_bus(pipeline_);
  gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
  gst_object_unref(bus);
  gst_object_unref(pipeline_);
  pipeline_ = nullptr;
  CompleteExport();
  std::lock_guard lock(padMutex_);
  videoSink_ = volume_ = entry_ = videoTarget_ = nullptr;
  hasVideo_ = false;
}

void PlaybackGraph::ReleaseGraph() { DropPipeline(); }

void PlaybackGraph::Close() {
  if (pipeline_) {
    GST_INFO("closing the graph");
    gst_element_set_state(pipeline_, GST_STATE_READY);
  }
  state_ = PlayState::kStopped;
  ReleaseGraph();
  state_ = PlayState::kNoClip;
}

void PlaybackGraph::ReleaseFilters() {
  for (GstElement* element : filters_) gst_object_unref(element);
  filters_.clear();
  capture_ = nullptr;
}

std::vector<GstElement*> PlaybackGraph::PluginElements() const { return filters_; }

namespace {

// The picture size negotiated on an element's sink pad; false before it is.
bool NegotiatedSize(GstElement* element, int* width, int* height) {
  GstPad* pad = gst_element_get_static_pad(element, "sink");
  GstCaps* caps = gst_pad_get_current_caps(pad);
  gst_object_unref(pad);
  GstVideoInfo info;
  const bool ok = caps && gst_video_info_from_caps(&info, caps);
  if (caps) gst_caps_unref(caps);
  if (!ok) return false;
  *width = GST_VIDEO_INFO_WIDTH(&info);
  *height = GST_VIDEO_INFO_HEIGHT(&info);
  return true;
}

}  // namespace

bool PlaybackGraph::PluginInputSize(int* width, int* height) const {
  return analyser_ && pipeline_ && NegotiatedSize(analyser_, width, height);
}

std::string PlaybackGraph::FramesTooSmall() const {
  constexpr int kMin = ostrel::CAnalizaDetektor::kMinSize;
  int width = 0, height = 0;
  if (mode_ != kModePathology || !PluginInputSize(&width, &height) || (width >= kMin && height >= kMin)) return "";
  return "frames of " + std::to_string(width) + " x " + std::to_string(height) + " are smaller than the " +
         std::to_string(kMin) + " x " + std::to_string(kMin) + " the detector analyses: nothing was analysed";
}

bool PlaybackGraph::VideoSize(int* width, int* height) const {
  return videoSink_ && hasVideo_ && NegotiatedSize(videoSink_, width, height);
}

// ---- events ---------------------------------------------------------------

std::optional<GraphEvent> PlaybackGraph::ToEvent(GstMessage* message) {
  GError* error = nullptr;
  gchar* debug = nullptr;
  switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_EOS: return GraphEvent{GraphEvent::Kind::kComplete, {}};
    case GST_MESSAGE_ERROR: gst_message_parse_error(message, &error, &debug); break;
    case GST_MESSAGE_WARNING: gst_message_parse_warning(message, &error, &debug); break;
    default: return std::nullopt;
  }
  GraphEvent event{
      GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR ? GraphEvent::Kind::kError : GraphEvent::Kind::kWarning,
      error ? error->message : ""};
  // A writer's failure names the system's reason (e.g. "No space left on
  // device") only in the last line of its debug text.
  if (error && error->domain == GST_RESOURCE_ERROR &&
      (error->code == GST_RESOURCE_ERROR_WRITE || error->code == GST_RESOURCE_ERROR_NO_SPACE_LEFT) && debug) {
    const std::string detail = debug;
    event.text += ": " + detail.substr(detail.find_last_of('\n') + 1);
  }
  if (error) g_error_free(error);
  g_free(debug);
  return event;
}

GstBusSyncReply PlaybackGraph::OnBusSync(GstBus*, GstMessage* message, gpointer self) {
  auto* graph = static_cast<PlaybackGraph*>(self);
  if (auto event = ToEvent(message); event && graph->eventHandler_) graph->eventHandler_(*event);
  gst_message_unref(message);
  return GST_BUS_DROP;
}

std::vector<GraphEvent> PlaybackGraph::TakePrerollWarnings() { return std::exchange(prerollWarnings_, {}); }

std::optional<GraphEvent> PlaybackGraph::WaitEvent(int timeoutMs) {
  if (!prerollWarnings_.empty()) {
    GraphEvent event = prerollWarnings_.front();
    prerollWarnings_.erase(prerollWarnings_.begin());
    return event;
  }
  if (!pipeline_) return std::nullopt;
  GstBus* bus = gst_element_get_bus(pipeline_);
  const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(timeoutMs) * 1000;
  std::optional<GraphEvent> event;
  while (!event) {
    const gint64 left = deadline - g_get_monotonic_time();
    if (left <= 0) break;
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, left * GST_USECOND,
        static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR | GST_MESSAGE_WARNING));
    if (!message) break;
    event = ToEvent(message);
    gst_message_unref(message);
  }
  gst_object_unref(bus);
  return event;
}

// ---- play state -----------------------------------------------------------

HRESULT PlaybackGraph::SetState(GstState state, const char* call) {
  if (!pipeline_) return E_FAIL;
  if (gst_element_set_state(pipeline_, state) == GST_STATE_CHANGE_FAILURE) {
    ReportFailed(E_FAIL, call);
    return E_FAIL;
  }
  return S_OK;
}

HRESULT PlaybackGraph::Run() {
  const HRESULT hr = SetState(GST_STATE_PLAYING, "gst_element_set_state(pipeline, GST_STATE_PLAYING)");
  if (SUCCEEDED(hr)) state_ = PlayState::kRunning;
  return hr;
}

HRESULT PlaybackGraph::Pause() {
  const HRESULT hr = SetState(GST_STATE_PAUSED, "gst_element_set_state(pipeline, GST_STATE_PAUSED)");
  if (SUCCEEDED(hr)) state_ = PlayState::kPaused;
  return hr;
}

HRESULT PlaybackGraph::TogglePausePlay() {
  if (!pipeline_) return E_FAIL;
  return state_ == PlayState::kRunning ? Pause() : Run();
}

HRESULT PlaybackGraph::StopAndRewind() {
  if (!pipeline_ || (state_ != PlayState::kPaused && state_ != PlayState::kRunning)) return S_OK;
  // Paused at the start: the first frame shows while the state stays stopped.
  HRESULT hr = SetState(GST_STATE_PAUSED, "gst_element_set_state(pipeline, GST_STATE_PAUSED)");
  state_ = PlayState::kStopped;
  if (SUCCEEDED(hr)) hr = Seek(GraphRate(), 0);
  return hr;
}

// ---- positions ------------------------------------------------------------

bool PlaybackGraph::QueryPositionNs(std::int64_t* ns) const {
  gint64 value = -1;
  if (!pipeline_ || !gst_element_query_position(pipeline_, GST_FORMAT_TIME, &value) || value < 0) return false;
  *ns = value;
  return true;
}

bool PlaybackGraph::QueryDurationNs(std::int64_t* ns) const {
  gint64 value = -1;
  if (!pipeline_ || !gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &value) || value < 0) return false;
  *ns = value;
  return true;
}

// Frame format positions count frames from the pipeline's time with the
// detected frame rate; a thousandth of a frame absorbs rounding of the rate.
std::int64_t PlaybackGraph::CurrentPosition() const {
  std::int64_t ns = 0;
  if (!QueryPositionNs(&ns)) return -1;
  if (FrameTimeFormat()) return static_cast<std::int64_t>(std::floor(ns * frameRate_ / 1e9 + 1e-3));
  return ns / 100;
}

std::int64_t PlaybackGraph::Duration() const {
  std::int64_t ns = 0;
  if (!QueryDurationNs(&ns)) return -1;
  if (FrameTimeFormat()) return static_cast<std::int64_t>(std::floor(ns * frameRate_ / 1e9 + 0.5));
  return ns / 100;
}

std::int64_t PlaybackGraph::ToFrames(std::int64_t position, bool round) const {
  if (position < 0) return position;
  if (FrameTimeFormat()) return position;
  gint64 frames = -1;
  if (pipeline_ && gst_element_query_convert(pipeline_, GST_FORMAT_TIME, position * 100, GST_FORMAT_DEFAULT, &frames) &&
      frames >= 0)
    return frames;
  return static_cast<std::int64_t>(position * (frameRate_ / kUnitsPerSecond) + (round ? 0.5 : 0.0));
}

std::int64_t PlaybackGraph::FromFrames(std::int64_t frame) const {
  if (FrameTimeFormat()) return frame;
  gint64 ns = -1;
  if (pipeline_ && gst_element_query_convert(pipeline_, GST_FORMAT_DEFAULT, frame, GST_FORMAT_TIME, &ns) && ns >= 0)
    return ns / 100;
  return frame * static_cast<std::int64_t>(kUnitsPerSecond / frameRate_);
}

std::int64_t PlaybackGraph::CurrentFrame(bool round) const { return ToFrames(CurrentPosition(), round); }
std::int64_t PlaybackGraph::TotalFrames(bool round) const { return ToFrames(Duration(), round); }

HRESULT PlaybackGraph::Seek(double rate, std::int64_t positionNs, bool keepPicture) {
  if (!pipeline_) return E_FAIL;
  changingTo_ = keepPicture ? rate : 0.0;
  const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
  if (!gst_element_seek(pipeline_, rate, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET,
                        std::max<std::int64_t>(positionNs, 0), GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE)) {
    changingTo_ = 0.0;
    return E_FAIL;
  }
  // Like the platform's SetPositions, return once the new frame is there.
  gst_element_get_state(pipeline_, nullptr, nullptr, kSeekTimeout);
  return S_OK;
}

HRESULT PlaybackGraph::SetPosition(std::int64_t position) {
  if (FrameTimeFormat()) {
    // The middle of the frame, so that rounding of the rate cannot land on
    // the previous one.
    const double ns = (static_cast<double>(position) + 0.25) * 1e9 / frameRate_;
    return Seek(GraphRate(), static_cast<std::int64_t>(ns));
  }
  return Seek(GraphRate(), position * 100);
}

HRESULT PlaybackGraph::SeekToFrame(std::int64_t frame) { return SetPosition(FromFrames(frame)); }

HRESULT PlaybackGraph::StepOneFrame(int direction) {
  if (!pipeline_) return E_FAIL;
  std::int64_t step = 1;
  if (!FrameTimeFormat()) {
    gint64 ns = -1;
    step = gst_element_query_convert(pipeline_, GST_FORMAT_DEFAULT, 1, GST_FORMAT_TIME, &ns) && ns > 0
               ? ns / 100
               : static_cast<std::int64_t>(kUnitsPerSecond / frameRate_);
  }
  const std::int64_t now = CurrentPosition();
  return SetPosition((now < 0 ? 0 : now) + (direction < 0 ? -step : step));
}

HRESULT PlaybackGraph::StepFrames(int count) {
  if (!videoSink_ || count <= 0) return E_FAIL;
  // Steps start from a paused picture (also from stopped, where toggling
  // would start playback instead).
  if (state_ != PlayState::kPaused && FAILED(Pause())) return E_FAIL;
  const bool sent = gst_element_send_event(videoSink_, gst_event_new_step(GST_FORMAT_BUFFERS, count, 1.0, TRUE, FALSE));
  return sent ? S_OK : E_FAIL;
}

// ---- rate and volume ------------------------------------------------------

// A flushing seek to the position being shown, running or paused: the new
// segment carries the rate, so the display sink times every following frame
// at its duration divided by the rate, and the picture on screen stays until
// its remaining time at the new rate is up. (An instant-rate-change seek is
// no substitute: avidemux accepts it and keeps playing at the old rate.)
HRESULT PlaybackGraph::ApplyRate(double rate) {
  if (!pipeline_ || !(rate > 0.0) || !std::isfinite(rate)) return E_INVALIDARG;
  if (rate == GraphRate()) return S_OK;
  std::int64_t ns = 0;
  if (!QueryPositionNs(&ns)) ns = 0;
  GST_DEBUG("rate %f -> %f at %" GST_TIME_FORMAT, GraphRate(), rate, GST_TIME_ARGS(ns));
  return Seek(rate, ns, true);
}

// The rate of the segment the display sink plays (rate x applied rate), or
// of the pipeline's segment when nothing is displayed.
double PlaybackGraph::GraphRate() const {
  if (!pipeline_) return 1.0;
  if (videoSink_) {
    GstPad* pad = gst_element_get_static_pad(videoSink_, "sink");
    GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0);
    gst_object_unref(pad);
    if (event) {
      const GstSegment* segment = nullptr;
      gst_event_parse_segment(event, &segment);
      const double rate = segment->rate * segment->applied_rate;
      gst_event_unref(event);
      return rate;
    }
  }
  GstQuery* query = gst_query_new_segment(GST_FORMAT_TIME);
  double rate = 1.0;
  if (gst_element_query(pipeline_, query)) gst_query_parse_segment(query, &rate, nullptr, nullptr, nullptr);
  gst_query_unref(query);
  return rate;
}

HRESULT PlaybackGraph::SetRate(double rate) {
  const HRESULT hr = ApplyRate(rate);
  if (SUCCEEDED(hr)) rate_ = rate;
  return hr;
}

HRESULT PlaybackGraph::ChangeRate(double delta) {
  if (!pipeline_ || delta == 0.0) return S_OK;
  return SetRate(rate_ + delta);
}

HRESULT PlaybackGraph::ToggleMute() {
  if (!pipeline_ || !volume_) return S_OK;
  volume100_ = volume100_ != 0 ? 0 : kVolumeMuted;
  g_object_set(volume_, "mute", volume100_ == kVolumeMuted, nullptr);
  return S_OK;
}

}  // namespace vireo
