// Runs the vireo-synthclip program and reads its clips back through GStreamer.
#include <gtest/gtest.h>
#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tools/synthclip/renderer.h"

namespace {

namespace fs = std::filesystem;

class SynthClipTool : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { gst_init(nullptr, nullptr); }
  void SetUp() override {
    const char* bin = std::getenv("VIREO_BIN_DIR");
    ASSERT_NE(bin, nullptr) << "VIREO_BIN_DIR is not set";
    program_ = std::string(bin) + "/vireo-synthclip";
    ASSERT_TRUE(fs::exists(program_)) << program_;
    dir_ = fs::temp_directory_path() / ("synthclip-" + std::to_string(getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Exit status of the program with these arguments; stderr goes to `log`.
  int Run(const std::vector<std::string>& args) {
    std::string command = "'" + program_ + "'";
    for (const std::string& a : args) command += " '" + a + "'";
    command += " 2>'" + (dir_ / "log").string() + "' >/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Log() { return Slurp(dir_ / "log"); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  static std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string program_;
  fs::path dir_;
};

struct Playback {
  int buffers = 0;
  std::string caps;                              // caps of the first buffer's pad
  GstClockTime firstTime = GST_CLOCK_TIME_NONE;  // stream time of the first buffer
  gint64 duration = -1, position = -1;           // queried after preroll
  bool ok = false;
};

void CountBuffer(GstElement*, GstBuffer* buffer, GstPad* pad, gpointer data) {
  auto* playback = static_cast<Playback*>(data);
  if (playback->buffers++ == 0) {
    if (GstCaps* caps = gst_pad_get_current_caps(pad)) {
      gchar* text = gst_caps_to_string(caps);
      playback->caps = text;
      g_free(text);
      gst_caps_unref(caps);
    }
    if (GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0)) {
      const GstSegment* segment = nullptr;
      gst_event_parse_segment(event, &segment);
      playback->firstTime = gst_segment_to_stream_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
      gst_event_unref(event);
    }
  }
}

// Prerolls `description` (which ends in a fakesink named "sink"), asks for
// its duration and position, then plays it to the end counting the buffers
// reaching the sink.
Playback Play(const std::string& description) {
  Playback playback;
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
  if (!pipeline || error) {
    ADD_FAILURE() << description << ": " << (error ? error->message : "");
    g_clear_error(&error);
    return playback;
  }
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
  g_object_set(sink, "signal-handoffs", TRUE, "sync", FALSE, nullptr);
  g_signal_connect(sink, "handoff", G_CALLBACK(CountBuffer), &playback);
  gst_element_set_state(pipeline, GST_STATE_PAUSED);
  if (gst_element_get_state(pipeline, nullptr, nullptr, 60 * GST_SECOND) == GST_STATE_CHANGE_SUCCESS) {
    gst_element_query_duration(pipeline, GST_FORMAT_TIME, &playback.duration);
    gst_element_query_position(pipeline, GST_FORMAT_TIME, &playback.position);
  }
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* message = gst_bus_timed_pop_filtered(bus, 60 * GST_SECOND,
                                                   static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  playback.ok = message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
  if (message) gst_message_unref(message);
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(sink);
  gst_object_unref(pipeline);
  return playback;
}

std::string FileUri(const std::string& path) {
  gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
  std::string result = uri;
  g_free(uri);
  return result;
}

TEST_F(SynthClipTool, LongAviClipIsMotionJpegWithEveryFrame) {
  const std::string clip = Path("long.AVI");  // extensions compare case-insensitively
  ASSERT_EQ(Run({clip, "--frames", "2000", "--size", "256", "--seed", "5"}), 0) << Log();

  GError* error = nullptr;
  GstDiscoverer* discoverer = gst_discoverer_new(30 * GST_SECOND, &error);
  ASSERT_NE(discoverer, nullptr);
  GstDiscovererInfo* info = gst_discoverer_discover_uri(discoverer, FileUri(clip).c_str(), &error);
  ASSERT_NE(info, nullptr) << (error ? error->message : "");
  EXPECT_EQ(gst_discoverer_info_get_result(info), GST_DISCOVERER_OK);
  EXPECT_EQ(gst_discoverer_info_get_duration(info), 80 * GST_SECOND);  // 2000 frames at 25 per second
  GList* videos = gst_discoverer_info_get_video_streams(info);
  ASSERT_EQ(g_list_length(videos), 1u);
  auto* video = GST_DISCOVERER_VIDEO_INFO(videos->data);
  EXPECT_EQ(gst_discoverer_video_info_get_width(video), 256u);
  EXPECT_EQ(gst_discoverer_video_info_get_height(video), 256u);
  EXPECT_EQ(gst_discoverer_video_info_get_framerate_num(video), 25u);
  GstCaps* caps = gst_discoverer_stream_info_get_caps(GST_DISCOVERER_STREAM_INFO(video));
  EXPECT_TRUE(gst_structure_has_name(gst_caps_get_structure(caps, 0), "image/jpeg"));
  gst_caps_unref(caps);
  gst_discoverer_stream_info_list_free(videos);
  gst_discoverer_info_unref(info);
  g_object_unref(discoverer);

  const Playback demuxed = Play("filesrc location=\"" + clip + "\" ! avidemux ! fakesink name=sink");
  EXPECT_TRUE(demuxed.ok);
  EXPECT_EQ(demuxed.buffers, 2000);
  EXPECT_NE(demuxed.caps.find("image/jpeg"), std::string::npos) << demuxed.caps;
}

TEST_F(SynthClipTool, SameSeedGivesTheSameFileInEveryContainer) {
  for (const std::string ext : {".avi", ".mov", ".mpg"}) {
    const std::string frames = ext == ".mpg" ? "12" : "40";
    const std::vector<std::string> options{"--frames", frames, "--size", "96", "--lesions", "bleeding,ulcer"};
    std::vector<std::string> a{Path("a" + ext)}, b{Path("b" + ext)}, c{Path("c" + ext), "--seed", "2"};
    for (auto* args : {&a, &b, &c}) args->insert(args->end(), options.begin(), options.end());
    ASSERT_EQ(Run(a), 0) << Log();
    sleep(1);  // muxers that stamp the time would differ now
    ASSERT_EQ(Run(b), 0) << Log();
    ASSERT_EQ(Run(c), 0) << Log();
    const std::string first = Slurp(a[0]);
    EXPECT_GT(first.size(), 1000u);
    EXPECT_EQ(first, Slurp(b[0])) << ext;
    EXPECT_NE(first, Slurp(c[0])) << ext;
  }
}

TEST_F(SynthClipTool, EveryContainerDecodesBackToAllFrames) {
  struct Case {
    std::string name, frames, size;
  };
  for (const Case& c : {Case{"clip.mov", "30", "128"}, Case{"clip.MPG", "15", "64"}, Case{"odd.avi", "10", "17"}}) {
    const std::string clip = Path(c.name);
    ASSERT_EQ(Run({clip, "--frames", c.frames, "--size", c.size}), 0) << Log();
    const Playback decoded = Play("filesrc location=\"" + clip + "\" ! decodebin ! fakesink name=sink");
    EXPECT_TRUE(decoded.ok) << c.name;
    EXPECT_EQ(decoded.buffers, std::stoi(c.frames)) << c.name;
    EXPECT_NE(decoded.caps.find("video/x-raw"), std::string::npos) << decoded.caps;
    EXPECT_NE(decoded.caps.find("width=(int)" + c.size), std::string::npos) << decoded.caps;
  }
}

// The program-stream demuxer takes a clip's start and length from the time
// stamps of pictures right after pack headers; a clip must start at its first
// frame and last as long as its frames.
TEST_F(SynthClipTool, MpegClipsPlayFromTheFirstFrameForTheirWholeLength) {
  struct Case {
    std::string fps;
    int frames;
    double rate;
  };
  for (const Case& c : {Case{"25", 24, 25.0}, Case{"29.97", 9, 30000.0 / 1001}}) {
    const std::string clip = Path("clip" + c.fps + ".mpg");
    ASSERT_EQ(Run({clip, "--frames", std::to_string(c.frames), "--size", "48", "--fps", c.fps}), 0) << Log();
    for (const std::string parse : {"decodebin", "parsebin"}) {
      SCOPED_TRACE(c.fps + " " + parse);
      const Playback played = Play("filesrc location=\"" + clip + "\" ! " + parse + " ! fakesink name=sink");
      EXPECT_TRUE(played.ok);
      EXPECT_EQ(played.buffers, c.frames);
      EXPECT_EQ(played.firstTime, 0u);
      EXPECT_EQ(played.position, 0);
      // Within half a frame, so that length times rate rounds to the frame count.
      const double length = c.frames / c.rate * GST_SECOND;
      EXPECT_NEAR(static_cast<double>(played.duration), length, 0.5 * GST_SECOND / c.rate);
    }
  }
}

TEST_F(SynthClipTool, VendorFourccReachesTheDemuxer) {
  const std::string clip = Path("vendor.avi");
  ASSERT_EQ(Run({clip, "--frames", "25", "--size", "64", "--fourcc", "MIL"}), 0) << Log();
  const Playback demuxed = Play("filesrc location=\"" + clip + "\" ! avidemux ! fakesink name=sink");
  EXPECT_TRUE(demuxed.ok);
  EXPECT_EQ(demuxed.buffers, 25);
  EXPECT_NE(demuxed.caps.find("video/x-avi-unknown"), std::string::npos) << demuxed.caps;
  EXPECT_NE(demuxed.caps.find("fourcc=(int)541870413"), std::string::npos) << demuxed.caps;  // 0x204C494D "MIL "
}

TEST_F(SynthClipTool, TruthFileMatchesTheRenderer) {
  const std::string clip = Path("truth.avi"), truth = Path("truth.csv");
  ASSERT_EQ(
      Run({clip, "--frames", "400", "--size", "64", "--seed", "9", "--lesions", "bleeding,ulcer", "--truth", truth}), 0)
      << Log();
  std::istringstream lines(Slurp(truth));
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "frame,scale_change,roll_deg,drift_x,drift_y,lesions");
  const vireo::synth::TunnelRenderer renderer({64, 25.0, 9, vireo::synth::kBleeding | vireo::synth::kUlcer});
  int count = 0, withLesions = 0;
  while (std::getline(lines, line)) {
    const vireo::synth::FrameTruth t = renderer.TruthAt(count);
    std::istringstream fields(line);
    std::string frame, scale, roll, dx, dy, lesions;
    std::getline(fields, frame, ','), std::getline(fields, scale, ','), std::getline(fields, roll, ',');
    std::getline(fields, dx, ','), std::getline(fields, dy, ','), std::getline(fields, lesions);
    EXPECT_EQ(std::stoll(frame), count);
    EXPECT_NEAR(std::stod(scale), t.scaleChange, 1e-6);
    EXPECT_NEAR(std::stod(roll), t.rollDeg, 1e-4);
    EXPECT_NEAR(std::stod(dx), t.driftX, 1e-3);
    EXPECT_NEAR(std::stod(dy), t.driftY, 1e-3);
    std::string expected = (t.lesions & vireo::synth::kBleeding) ? "bleeding" : "";
    if (t.lesions & vireo::synth::kUlcer) expected += expected.empty() ? "ulcer" : ";ulcer";
    EXPECT_EQ(lesions, expected) << "frame " << count;
    withLesions += !lesions.empty();
    ++count;
  }
  EXPECT_EQ(count, 400);
  EXPECT_GT(withLesions, 0);
}

TEST_F(SynthClipTool, ImpossibleRequestsFailAndLeaveNoFile) {
  const std::string out = Path("bad.avi");
  const std::vector<std::vector<std::string>> bad{
      {},
      {out, "--size", "0"},
      {out, "--size", "-8"},
      {out, "--size", "15"},
      {out, "--size", "12abc"},
      {out, "--frames", "0"},
      {out, "--frames", "-5"},
      {out, "--frames", "ten"},
      {out, "--frames"},
      {out, "--fps", "0"},
      {out, "--fps", "nan"},
      {out, "--seed", "-1"},
      {out, "--seed", "4294967296"},
      {out, "--lesions", "polyp"},
      {out, "--lesions", "bleeding,"},
      {out, "--fourcc", "XVID"},
      {out, "--colour", "red"},
      {out, Path("second.avi")},
      {Path("bad.mp4")},
      {Path("bad")},
      {Path("bad.mov"), "--fourcc", "MIL"},
      {Path("bad.mpg"), "--fps", "5"},
      {Path("bad.mpg"), "--size", "65"},
      {Path("missing-dir/bad.avi")},
      {out, "--truth", Path("missing-dir/truth.csv")},
  };
  for (const auto& args : bad) {
    std::string shown;
    for (const auto& a : args) shown += a + " ";
    EXPECT_NE(Run(args), 0) << shown;
    EXPECT_FALSE(Log().empty()) << shown;
  }
  // Nothing but the log is left behind: no output, no temporary files.
  for (const auto& entry : fs::directory_iterator(dir_)) EXPECT_EQ(entry.path().filename(), "log");

  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_EQ(Run({out, "--frames", "3", "--size", "16", "--fps=5", "--lesions=ulcer"}), 0) << Log();
  EXPECT_TRUE(fs::exists(out));
}

}  // namespace
