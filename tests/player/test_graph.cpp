// The playback graph on real clips: the three variants, time formats and
// frame conversions, playback operations, events, and the messages of graphs
// that cannot be built.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>

#include "clips.h"
#include "filterhost/lookup.h"
#include "player/graph.h"
#include "sink_trace.h"

namespace {

using vireo::Diagnostic;
using vireo::GraphEvent;
using vireo::GraphRequest;
using vireo::PlaybackGraph;
using vireo::PlayState;
using vireo::SplitterKind;

class GraphTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { vireo::InitGraphLayer(nullptr); }

  void SetUp() override {
    graph.SetDiagnosticHandler([this](const Diagnostic& d) { diagnostics.push_back(d); });
    graph.SetFrameHandler([this](const vireo::VideoFrame& f) {
      width = f.width;
      height = f.height;
      ++frames;
    });
  }

  GraphRequest Request(const std::string& clip, int mode = vireo::kModePlain) {
    GraphRequest r;
    r.clipPath = clip;
    r.mode = mode;
    return r;
  }

  // Runs to the end of the stream; false on an error or after 30 s.
  bool RunToEnd() {
    graph.Run();
    for (int i = 0; i < 30; ++i) {
      auto event = graph.WaitEvent(1000);
      if (event && event->kind == GraphEvent::Kind::kComplete) return true;
      if (event && event->kind == GraphEvent::Kind::kError) return false;
    }
    return false;
  }

  // Polls `done` for up to 10 s.
  static bool WaitUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i) g_usleep(10000);
    return done();
  }

  PlaybackGraph graph;
  std::vector<Diagnostic> diagnostics;
  std::atomic<int> frames{0}, width{0}, height{0};
};

TEST_F(GraphTest, AviPlaysWithTheAviDemuxerCountingFrames) {
  const std::string clip = ptest::Clip(".avi", 40);
  ASSERT_FALSE(clip.empty());
  ASSERT_EQ(graph.Assemble(Request(clip)), fh::S_OK);
  EXPECT_TRUE(diagnostics.empty());
  EXPECT_EQ(graph.Splitter(), SplitterKind::kAvi);
  EXPECT_TRUE(graph.FrameTimeFormat());
  EXPECT_EQ(graph.State(), PlayState::kPaused);
  EXPECT_TRUE(graph.HasVideo());
  EXPECT_TRUE(graph.CanStep());
  EXPECT_NEAR(graph.FrameRate(), 25.0, 1e-6);
  EXPECT_EQ(graph.Duration(), 40);
  EXPECT_EQ(graph.TotalFrames(), 40);
  EXPECT_EQ(graph.CurrentFrame(), 0);
  EXPECT_GE(frames.load(), 1);  // the paused first frame reached the display
  int w = 0, h = 0;
  ASSERT_TRUE(graph.VideoSize(&w, &h));
  EXPECT_EQ(w, 64);
  EXPECT_EQ(h, 64);
  EXPECT_EQ(width.load(), 64);

  ASSERT_EQ(graph.SeekToFrame(17), fh::S_OK);
  EXPECT_EQ(graph.CurrentFrame(), 17);
  graph.StepOneFrame(+1);
  EXPECT_EQ(graph.CurrentFrame(), 18);
  graph.StepOneFrame(-1);
  graph.StepOneFrame(-1);
  EXPECT_EQ(graph.CurrentFrame(), 16);
  EXPECT_EQ(graph.State(), PlayState::kPaused);

  graph.StopAndRewind();
  EXPECT_EQ(graph.State(), PlayState::kStopped);
  EXPECT_EQ(graph.CurrentFrame(), 0);
}

TEST_F(GraphTest, OtherContainersUseMediaTimeAndConvertToFrames) {
  for (const char* ext : {".mov", ".mpg"}) {
    SCOPED_TRACE(ext);
    const std::string clip = ptest::Clip(ext, 50);
    ASSERT_FALSE(clip.empty());
    ASSERT_EQ(graph.Assemble(Request(clip)), fh::S_OK);
    EXPECT_EQ(graph.Splitter(), SplitterKind::kOther);
    EXPECT_FALSE(graph.FrameTimeFormat());
    // Media time in 100-ns units, converted to frames at the clip's rate.
    const std::int64_t duration = graph.Duration();
    EXPECT_NEAR(static_cast<double>(duration), 2.0e7, 1e5);
    EXPECT_EQ(graph.TotalFrames(true), 50);
    EXPECT_EQ(graph.CurrentFrame(true), 0);
    ASSERT_EQ(graph.SeekToFrame(20), fh::S_OK);
    EXPECT_EQ(graph.CurrentFrame(true), 20);
    graph.StepOneFrame(+1);
    EXPECT_EQ(graph.CurrentFrame(true), 21);
    graph.Close();
  }
}

// Rates the AVI header cannot give (outside 1..100 fps) and clips of other
// containers take the rate their video announces, so that seeking by frame
// lands on the frame asked for.
TEST_F(GraphTest, FrameRateComesFromTheVideoWhenTheHeaderCannotGiveIt) {
  const struct {
    const char* ext;
    const char* fps;
    double expected;
  } cases[] = {{".avi", "150", 150.0}, {".avi", "0.5", 0.5}, {".mov", "10", 10.0}, {".avi", "12.5", 12.5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.ext) + " at " + c.fps);
    const std::string clip = ptest::Clip(c.ext, 30, 32, std::string("--fps ") + c.fps);
    ASSERT_FALSE(clip.empty());
    ASSERT_EQ(graph.Assemble(Request(clip)), fh::S_OK);
    EXPECT_NEAR(graph.FrameRate(), c.expected, 1e-6);
    ASSERT_EQ(graph.SeekToFrame(17), fh::S_OK);
    EXPECT_EQ(graph.CurrentFrame(true), 17);
    graph.Close();
  }
}

TEST_F(GraphTest, WithoutDemuxerEveryStreamIsRendered) {
  for (const char* ext : {".avi", ".mov", ".mpg"}) {
    SCOPED_TRACE(ext);
    const std::string clip = ptest::Clip(ext, 30);
    GraphRequest request = Request(clip);
    request.firstVariant = SplitterKind::kNone;
    ASSERT_EQ(graph.Assemble(request), fh::S_OK);
    EXPECT_EQ(graph.Splitter(), SplitterKind::kNone);
    EXPECT_TRUE(graph.HasVideo());
    EXPECT_FALSE(graph.HasAudio());  // the synthetic clips are silent
    EXPECT_EQ(graph.TotalFrames(true), 30);
    EXPECT_TRUE(RunToEnd());
  }
}

TEST_F(GraphTest, EndOfStreamReachesTheEventHandler) {
  std::atomic<int> complete{0};
  graph.SetEventHandler([&](const GraphEvent& e) {
    if (e.kind == GraphEvent::Kind::kComplete) ++complete;
  });
  ASSERT_EQ(graph.Assemble(Request(ptest::Clip(".avi", 10))), fh::S_OK);
  graph.SetRate(4.0);
  graph.Run();
  for (int i = 0; i < 100 && complete == 0; ++i) g_usleep(50000);
  EXPECT_EQ(complete.load(), 1);
}

TEST_F(GraphTest, RateStepsAccumulateAndRefusedRatesChangeNothing) {
  ASSERT_EQ(graph.Assemble(Request(ptest::Clip(".avi", 40))), fh::S_OK);
  graph.Run();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(graph.ChangeRate(0.25), fh::S_OK);
  EXPECT_DOUBLE_EQ(graph.Rate(), 1.75);
  EXPECT_DOUBLE_EQ(graph.GraphRate(), 1.75);
  EXPECT_TRUE(fh::FAILED(graph.SetRate(0.0)));
  EXPECT_DOUBLE_EQ(graph.Rate(), 1.75);
  EXPECT_EQ(graph.SetRate(0.5), fh::S_OK);
  EXPECT_EQ(graph.ApplyRate(2.0), fh::S_OK);  // automatic rate control leaves the user's rate
  EXPECT_DOUBLE_EQ(graph.Rate(), 0.5);
  EXPECT_DOUBLE_EQ(graph.GraphRate(), 2.0);
  EXPECT_EQ(graph.TogglePausePlay(), fh::S_OK);
  EXPECT_EQ(graph.State(), PlayState::kPaused);
}

// A rate change while running reaches the display sink as a segment carrying
// the rate: every following picture is scheduled one frame duration divided
// by the rate after the previous one, and the pictures handed on go on from
// the one shown, none skipped or repeated. A manual step changes the user's
// rate too, automatic rate control only the pipeline's.
TEST_F(GraphTest, RateChangesWhileRunningRetimeTheDisplayInEveryVariant) {
  struct Case {
    SplitterKind variant;
    bool automatic;
    double rate;
  };
  const Case cases[] = {{SplitterKind::kAvi, false, 1.25},   {SplitterKind::kAvi, true, 2.5},
                        {SplitterKind::kOther, false, 1.25}, {SplitterKind::kOther, true, 2.5},
                        {SplitterKind::kNone, false, 1.25},  {SplitterKind::kNone, true, 2.5}};
  const std::string clip = ptest::Clip(".avi", 400);
  std::mutex mutex;
  std::vector<std::int64_t> handed;
  graph.SetFrameHandler([&](const vireo::VideoFrame& f) {
    std::lock_guard lock(mutex);
    handed.push_back(f.pts);
  });
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "variant " << static_cast<int>(c.variant)
                                    << (c.automatic ? " automatic" : " manual"));
    GraphRequest request = Request(clip);
    request.firstVariant = c.variant;
    ASSERT_EQ(graph.Assemble(request), fh::S_OK);
    ASSERT_EQ(graph.Splitter(), c.variant);
    ptest::SinkTrace trace(graph.Pipeline());
    ASSERT_TRUE(trace.Attached());
    {
      std::lock_guard lock(mutex);
      handed.clear();
    }
    ASSERT_EQ(graph.Run(), fh::S_OK);
    ASSERT_TRUE(WaitUntil([&] { return trace.Pictures().size() >= 5; }));

    const int segment = static_cast<int>(trace.Rates().size());
    ASSERT_EQ(c.automatic ? graph.ApplyRate(c.rate) : graph.ChangeRate(0.25), fh::S_OK);
    EXPECT_DOUBLE_EQ(graph.Rate(), c.automatic ? 1.0 : c.rate);
    EXPECT_DOUBLE_EQ(graph.GraphRate(), c.rate);
    ASSERT_TRUE(WaitUntil([&] { return trace.CountFrom(segment) >= 8; }));
    graph.Pause();

    const std::vector<double> rates = trace.Rates();
    ASSERT_EQ(rates.size(), static_cast<std::size_t>(segment) + 1);
    EXPECT_DOUBLE_EQ(rates.back(), c.rate);
    const std::vector<std::int64_t> steps = trace.Steps(segment);
    ASSERT_GE(steps.size(), 5u);
    for (std::int64_t step : steps) EXPECT_NEAR(static_cast<double>(step), 40e6 / c.rate, 1000.0);

    std::lock_guard lock(mutex);
    ASSERT_GE(handed.size(), 8u);
    for (std::size_t i = 1; i < handed.size(); ++i)
      ASSERT_EQ(handed[i] * 25 / 1000000000, handed[i - 1] * 25 / 1000000000 + 1) << "picture " << i;
  }
}

TEST_F(GraphTest, RunsToTheEndAndRewinds) {
  ASSERT_EQ(graph.Assemble(Request(ptest::Clip(".avi", 12))), fh::S_OK);
  EXPECT_TRUE(RunToEnd());
  EXPECT_GE(frames.load(), 12);
  graph.StopAndRewind();
  EXPECT_EQ(graph.CurrentFrame(), 0);
  EXPECT_EQ(graph.State(), PlayState::kStopped);
}

TEST_F(GraphTest, StepFramesMovesForwardWhilePaused) {
  ASSERT_EQ(graph.Assemble(Request(ptest::Clip(".avi", 40))), fh::S_OK);
  EXPECT_EQ(graph.StepFrames(3), fh::S_OK);
  for (int i = 0; i < 40 && graph.CurrentFrame() != 3; ++i) g_usleep(50000);
  EXPECT_EQ(graph.CurrentFrame(), 3);
  EXPECT_EQ(graph.State(), PlayState::kPaused);
}

TEST_F(GraphTest, UndecodableFilesLeaveNoGraphAndSayWhy) {
  const std::string missing = ptest::ScratchDir() + "/missing.avi";
  const std::string empty = ptest::WriteFile("empty.avi", "");
  const std::string text = ptest::WriteFile("notes.avi", std::string(5000, 'x'));
  std::string truncated = ptest::WriteFile("truncated.avi", "");
  {
    std::ifstream in(ptest::Clip(".avi", 20), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    truncated = ptest::WriteFile("truncated.avi", bytes.substr(0, 300));
  }
  for (const std::string& path : {missing, empty, text, truncated}) {
    SCOPED_TRACE(path);
    diagnostics.clear();
    EXPECT_TRUE(fh::FAILED(graph.Assemble(Request(path))));
    EXPECT_FALSE(graph.HasGraph());
    EXPECT_EQ(graph.State(), PlayState::kNoClip);
    ASSERT_EQ(diagnostics.size(), 1u);
    EXPECT_EQ(diagnostics[0].kind, Diagnostic::Kind::kFailed);
    EXPECT_EQ(diagnostics[0].text, "Cannot play the file");
    EXPECT_FALSE(diagnostics[0].detail.empty());
  }
  // The graph is usable afterwards.
  EXPECT_EQ(graph.Assemble(Request(ptest::Clip(".avi", 20))), fh::S_OK);
}

TEST_F(GraphTest, ModesWithoutTheirPlugInReportCannot) {
  const std::string clip = ptest::Clip(".avi", 10);
  const std::pair<int, const char*> cases[] = {
      {vireo::kModeMultiImage, "Cannot play in multi-image mode"},
      {vireo::kModeCapture, "Cannot save frames"},
      {vireo::kModeMdrPreview, "Cannot assemble the graph for MDR processing"},
      {vireo::kModeMdr, "Cannot assemble the graph for MDR processing"},
      {vireo::kModePathology, "Cannot assemble the graph for pathology detection"},
  };
  for (const auto& [mode, text] : cases) {
    SCOPED_TRACE(mode);
    GraphRequest request = Request(clip, mode);
    request.mapPath = ptest::ScratchDir() + "/map.bmp";
    request.findingsPath = ptest::ScratchDir() + "/findings.txt";
    request.exportPath = ptest::ScratchDir() + "/export.avi";
    diagnostics.clear();
    const fh::HRESULT hr = graph.Assemble(request);
    if (fh::SUCCEEDED(hr)) {
      // The plug-in is installed in this build: the graph must then hold it.
      EXPECT_EQ(graph.PluginElements().size(), 1u);
      EXPECT_EQ(graph.CaptureElement() != nullptr, mode == vireo::kModeCapture);
      continue;
    }
    EXPECT_EQ(hr, fh::REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(graph.HasGraph());
    ASSERT_EQ(diagnostics.size(), 1u);
    EXPECT_EQ(diagnostics[0].kind, Diagnostic::Kind::kFailed);
    EXPECT_EQ(diagnostics[0].text, text);
  }
}

TEST_F(GraphTest, APlugInWarningWhilePrerollingReachesTheCaller) {
  GraphRequest request = Request(ptest::Clip(".avi", 10), vireo::kModePathology);
  request.findingsPath = ptest::ScratchDir() + "/no such folder/findings.txt";
  request.exportPath = ptest::ScratchDir() + "/warned.avi";
  if (fh::FAILED(graph.Assemble(request))) GTEST_SKIP() << "the detector plug-in is not built";
  auto event = graph.WaitEvent(1000);
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(event->kind, GraphEvent::Kind::kWarning);
  EXPECT_NE(event->text.find("no such folder"), std::string::npos) << event->text;
  EXPECT_TRUE(RunToEnd());
}

TEST_F(GraphTest, VendorLabelledAviPlaysThroughTheRelabellingFilter) {
  const std::string clip = ptest::ScratchDir() + "/vendor.avi";
  const std::string command = std::string(std::getenv("VIREO_BIN_DIR")) + "/vireo-synthclip '" + clip +
                              "' --frames 20 --size 64 --fourcc MIL > /dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const fh::HRESULT hr = graph.Assemble(Request(clip));
  if (fh::FAILED(hr)) {
    // Without pellum no decoder takes "MIL ": the message says why.
    ASSERT_EQ(diagnostics.size(), 1u);
    EXPECT_EQ(diagnostics[0].text, "Cannot play the file");
    EXPECT_FALSE(diagnostics[0].detail.empty());
    return;
  }
  EXPECT_EQ(graph.Splitter(), SplitterKind::kAvi);
  EXPECT_EQ(graph.TotalFrames(), 20);
  EXPECT_TRUE(RunToEnd());
}

// The file's extension decides, in any case; folders and the rest of the
// name do not.
TEST(GraphTexts, PlaylistsAndWindowsMediaAreRefusedByTheirExtension) {
  const std::optional<std::string> asx = "ASX Playlists are not supported by this application.";
  const std::optional<std::string> wm = "Windows Media files (ASF,WMV,WMA) are not supported by this application.";
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"/v/list.asx", asx},
      {"/v/LIST.Asx", asx},
      {"/v/clip.wmv", wm},
      {"/v/Clip.WMA", wm},
      {"clip.asf", wm},
      {"/" + std::string(300, 'a') + ".wmv", wm},
      {"/v/clip.avi", std::nullopt},
      {"/v/old.ASX.d/clip.avi", std::nullopt},
      {"/x/exports.wmv-converted/clip.avi", std::nullopt},
      {"/v/a.asxb.avi", std::nullopt},
      {"/v/clip.wmv.avi", std::nullopt},
      {"/v/wmv", std::nullopt},
      {"/v.wmv/clip", std::nullopt},
  };
  for (const auto& [path, message] : cases) EXPECT_EQ(vireo::RefusedClipMessage(path), message) << path;
}

}  // namespace
