// The player's playback graph: GStreamer pipelines for a clip in one of the
// graph modes, the plug-ins created by class identifier and configured through
// their control interfaces, and the playback operations (run, pause, stop,
// steps, rate, seeking by frame, mute). No Qt here, so command-line tools use
// it as well as the player.
//
// A command-line tool runs a headless analysis like this:
//
//   vireo::InitGraphLayer(argv[0]);          // plug-in folder, gst_init
//   vireo::PlaybackGraph graph;              // no event handler: poll
//   graph.SetDiagnosticHandler([](const vireo::Diagnostic& d) {
//     std::fprintf(stderr, "%s%s\n", d.text.c_str(), d.detail.c_str()); });
//   vireo::GraphRequest request;
//   request.clipPath = clip;
//   request.mode = vireo::kModeMdr;          // or kModePathology with
//   request.mapPath = map;                   // findingsPath and exportPath
//   if (FAILED(graph.Assemble(request))) return 1;   // paused on frame 0
//   graph.Run();
//   for (;;) {
//     auto event = graph.WaitEvent(1000);    // at most 1 s
//     if (event && event->kind != vireo::GraphEvent::Kind::Warning) break;
//     progress: graph.CurrentFrame() of graph.TotalFrames()
//   }
//   graph.Close();           // stops and releases the pipeline
//   graph.ReleaseFilters();  // drops the plug-ins: they complete their files
//
// Analysis modes run without a clock, as fast as the plug-ins work. All calls
// are made from one thread; only the frame and event handlers are called from
// GStreamer's streaming threads.
#pragma once

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "filterhost/atomic_file.h"
#include "filterhost/com.h"
#include "filterhost/grid_records.h"

namespace vireo {

using fh::HRESULT;

// Graph modes (5 is unused). 3, 4 and 6 are the analysis modes.
enum GraphMode : int {
  kModePlain = 0,       // the clip rendered
  kModeMultiImage = 1,  // durmix mosaic, rendered
  kModeCapture = 2,     // kelbit, rendered
  kModeMdrPreview = 3,  // quorlin writing the map, rendered without a clock
  kModeMdr = 4,         // quorlin writing the map into a fakesink, no clock
  kModePathology = 6,   // ostrel writing findings, jpegenc ! avimux ! filesink
};
bool IsAnalysisMode(int mode);

enum class PlayState : int { kStopped = 0, kPaused = 1, kRunning = 2, kNoClip = 3 };

// Which demuxer the graph uses: avidemux (positions in frames), another one
// found by parsebin, or none (decodebin / uridecodebin straight from the file).
enum class SplitterKind { kAvi, kOther, kNone };

// The MDR model's parameters for a preprocessing run, as the MDR page edits
// them: the records and the text they were read from.
struct MdrParameters {
  GRID_GEOMETRY geometry{};
  GRID_PHASE phases[4]{};
  std::string text;
};

struct GraphRequest {
  std::string clipPath;
  int mode = kModePlain;
  std::string mapPath;                         // quorlin, modes 3 and 4
  std::optional<MdrParameters> mdrParameters;  // quorlin's defaults when unset
  std::string findingsPath;                    // ostrel, mode 6
  std::string exportPath;                      // the AVI written in mode 6
  bool markedVideo = true;                     // mode 6: false writes the findings only (no AVI)
  int mosaicCols = 1;                          // durmix, mode 1 (brought into 1..6)
  int mosaicRows = 1;                          // (brought into 1..4)
  // The variants are tried from this one on (tests start later in the chain).
  SplitterKind firstVariant = SplitterKind::kAvi;
  // Called with the plug-in element of each variant as it joins the pipeline,
  // before any frame flows (tools attach pad probes here).
  std::function<void(GstElement*)> onPlugin;
};

// A message for the user. kDiagnostic: caption "PlayVireo", no owner;
// kFailed: caption "Failed", error icon, owned by the main window. `detail`
// holds GStreamer's own explanation when there is one (may be empty).
struct Diagnostic {
  enum class Kind { kDiagnostic, kFailed };
  Kind kind = Kind::kDiagnostic;
  std::string text;
  std::string detail;
};

// A pathology run through which no frame came.
inline constexpr char kNothingDecoded[] = "no frame could be decoded: nothing was analysed";

// What the pipeline reports while it runs. kComplete is the end of the stream.
struct GraphEvent {
  enum class Kind { kComplete, kError, kWarning };
  Kind kind = Kind::kComplete;
  std::string text;
};

// A decoded picture for display: BGRx, top-down, valid during the call only.
struct VideoFrame {
  const std::uint8_t* data = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;
  std::int64_t pts = -1;  // nanoseconds, -1 when unknown
};

// Adds the plug-in folders beside the program (installed layout and build
// tree) to GStreamer's plug-in path and initialises GStreamer. Call once,
// before anything else; argv0 may be null.
void InitGraphLayer(const char* argv0);

// The message a clip path is refused with before any graph is built
// (playlists, Windows Media files), or nothing.
std::optional<std::string> RefusedClipMessage(const std::string& path);

// The "Cannot ..." text shown when no variant of `mode` could be built.
const char* CannotAssembleText(int mode);

// The volume of a muted clip (hundredths of a decibel, as the player counts).
constexpr long kVolumeMuted = -10000;

class PlaybackGraph {
 public:
  using FrameHandler = std::function<void(const VideoFrame&)>;
  using EventHandler = std::function<void(const GraphEvent&)>;
  using DiagnosticHandler = std::function<void(const Diagnostic&)>;

  PlaybackGraph();
  ~PlaybackGraph();
  PlaybackGraph(const PlaybackGraph&) = delete;
  PlaybackGraph& operator=(const PlaybackGraph&) = delete;

  // Called on a streaming thread for every picture to show (preroll too).
  void SetFrameHandler(FrameHandler handler);
  // Called on a streaming thread for each event; without a handler events
  // queue on the bus for WaitEvent.
  void SetEventHandler(EventHandler handler);
  // Called on the caller's thread; the default prints to stderr.
  void SetDiagnosticHandler(DiagnosticHandler handler);

  // Builds the graph of `request` (variants: avidemux, parsebin, none) and
  // pauses it on its first frame. A failure has been reported through the
  // diagnostic handler and leaves no graph.
  HRESULT Assemble(const GraphRequest& request);
  // Stops and releases the pipeline; the plug-ins stay referenced until the
  // next Assemble or ReleaseFilters.
  void Close();
  // Releases the pipeline (no state change of its own beyond NULL).
  void ReleaseGraph();
  // Drops the plug-ins kept after Close, so they complete their output files.
  void ReleaseFilters();
  bool HasGraph() const { return pipeline_ != nullptr; }

  PlayState State() const { return state_; }
  int Mode() const { return mode_; }
  SplitterKind Splitter() const { return splitter_; }
  bool FrameTimeFormat() const { return splitter_ == SplitterKind::kAvi; }
  bool HasVideo() const { return hasVideo_; }
  bool HasAudio() const { return volume_ != nullptr; }
  bool CanStep() const { return videoSink_ != nullptr; }
  bool VideoSize(int* width, int* height) const;
  // g_rate: the user's rate factor; g_frameRate: detected frames per second
  // (the AVI header's rate, else the video caps' rate; kept from the previous
  // clip, 5.0 at first, when neither is known).
  double Rate() const { return rate_; }
  double FrameRate() const { return frameRate_; }
  // The rate the pipeline plays at now, read from the segment the display
  // sink plays (differs from Rate() under automatic rate control).
  double GraphRate() const;
  long Volume() const { return volume100_; }  // 0 full, kVolumeMuted muted

  HRESULT Run();
  HRESULT Pause();
  HRESULT TogglePausePlay();
  HRESULT StopAndRewind();
  // One frame forward (+1) or back (-1) by repositioning; no clamping.
  HRESULT StepOneFrame(int direction);
  // `count` frames forward with a step event (pauses first when needed).
  HRESULT StepFrames(int count);
  HRESULT ChangeRate(double delta);  // g_rate += delta when the graph accepts
  HRESULT SetRate(double rate);      // g_rate = rate when the graph accepts
  // The pipeline's rate only; the picture shown stays and the clip goes on
  // from it at the new rate.
  HRESULT ApplyRate(double rate);
  HRESULT ToggleMute();

  // Positions in the graph's time format: frames with avidemux, otherwise
  // media time in 100-ns units. -1 when unknown.
  std::int64_t CurrentPosition() const;
  std::int64_t Duration() const;
  HRESULT SetPosition(std::int64_t position);
  // Frame numbers; `round` adds half a frame before truncating the fallback
  // conversion (the Controls dialog does).
  std::int64_t CurrentFrame(bool round = false) const;
  std::int64_t TotalFrames(bool round = false) const;
  HRESULT SeekToFrame(std::int64_t frame);
  // Graph units -> frames and back (the conversions of the time format, with
  // the frame-rate fallback).
  std::int64_t ToFrames(std::int64_t position, bool round) const;
  std::int64_t FromFrames(std::int64_t frame) const;

  // The frame size the analysing plug-in receives; false before it knows.
  bool PluginInputSize(int* width, int* height) const;
  // Why the detector of this pathology graph analyses none of the clip's
  // frames ("frames of 224 x 224 are smaller than the 256 x 256 the detector
  // analyses: nothing was analysed"); empty when it analyses them or before
  // the graph is assembled. The tools and the player say it alike.
  std::string FramesTooSmall() const;

  // The plug-in elements of the current or last graph (slot order); the
  // frame-capture element in mode 2, or null.
  std::vector<GstElement*> PluginElements() const;
  GstElement* CaptureElement() const { return capture_; }
  // Frames that have left the plug-in of an analysis graph since it was
  // built, those of the preroll included (the detector's output is queued,
  // so it may be ahead of the sinks).
  std::int64_t FramesAnalysed() const { return analysed_.load(); }
  GstElement* Pipeline() const { return pipeline_; }

  // Warnings the plug-ins posted while the graph was assembled (a file they
  // cannot create), handed out once: here or by WaitEvent.
  std::vector<GraphEvent> TakePrerollWarnings();
  // Next event of a graph built without an event handler; nothing when the
  // timeout passes.
  std::optional<GraphEvent> WaitEvent(int timeoutMs);

 private:
  HRESULT BuildVariant(const GraphRequest& request, SplitterKind kind, std::string* detail);
  HRESULT BuildTail(const GraphRequest& request, GstElement** entry, std::string* detail);
  GstElement* AddExportWriter(const std::string& path, std::string* detail);
  void CompleteExport();
  GstElement* AddPlugin(fh::REFCLSID clsid, const char* name, HRESULT* hr);
  GstElement* AddElement(const char* factory, const char* name);
  GstElement* MakeDisplayBranch();
  void AddAudioBranch(GstPad* pad);
  void OnDemuxPad(GstPad* pad);
  void OnDecodedPad(GstPad* pad);
  static void OnNoMorePads(GstElement* element, gpointer self);
  HRESULT Preroll(std::string* detail);
  void DetectFrameRate();
  double HeaderFrameRate() const;
  void Report(Diagnostic::Kind kind, const std::string& text, const std::string& detail = {});
  void ReportFailed(HRESULT hr, const char* call);
  HRESULT SetState(GstState state, const char* call);
  // A flushing seek; `keepPicture` when it only changes the rate.
  HRESULT Seek(double rate, std::int64_t positionNs, bool keepPicture = false);
  GstFlowReturn DeliverSample(GstSample* sample);
  bool QueryPositionNs(std::int64_t* ns) const;
  bool QueryDurationNs(std::int64_t* ns) const;
  void DropPipeline();
  static GstBusSyncReply OnBusSync(GstBus* bus, GstMessage* message, gpointer self);
  static std::optional<GraphEvent> ToEvent(GstMessage* message);

  FrameHandler frameHandler_;
  EventHandler eventHandler_;
  // Warnings posted while the graph prerolled, not yet handed out.
  std::vector<GraphEvent> prerollWarnings_;
  DiagnosticHandler diagnosticHandler_;

  GstElement* pipeline_ = nullptr;
  GstElement* videoSink_ = nullptr;    // appsink of the display, or null
  GstElement* volume_ = nullptr;       // audio branch volume, or null
  GstElement* entry_ = nullptr;        // first element after the decoder
  GstElement* videoTarget_ = nullptr;  // the element the decoded video enters
  GstElement* capture_ = nullptr;
  std::atomic<std::int64_t> analysed_{0};
  std::vector<GstElement*> filters_;  // plug-ins, referenced until rebuilt
  std::mutex padMutex_;               // pad-added runs on streaming threads
  bool demuxLinked_ = false;
  bool videoLinked_ = false;
  bool audioLinked_ = false;
  bool brokenAvi_ = false;  // the AVI variant failed inside avidemux
  // The marked clip of a pathology graph, written under a temporary name and
  // put in place when the pipeline is dropped, if its writer got the end of
  // the stream.
  std::unique_ptr<fh::AtomicFile> export_;
  std::atomic<bool> exportEnded_{false};
  GstElement* analyser_ = nullptr;  // the analysing plug-in, or null

  int mode_ = kModePlain;
  SplitterKind splitter_ = SplitterKind::kNone;
  PlayState state_ = PlayState::kNoClip;
  bool hasVideo_ = false;
  double rate_ = 1.0;
  // The rate being changed to, until the new segment's picture after the one
  // on screen arrives; 0 otherwise.
  std::atomic<double> changingTo_{0.0};
  std::atomic<std::int64_t> shownEnd_{-1};  // end time of the picture shown
  double frameRate_ = 5.0;
  long volume100_ = 0;
};

}  // namespace vireo
