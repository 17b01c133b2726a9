// The "quorlin" element in real pipelines: formats, properties, warnings,
// and map completion at the end of the stream and when the element stops.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "filterhost/lookup.h"
#include "gst_pipeline.h"
#include "harness.h"

using namespace fh;
using vtest::RunPipeline;

namespace {

constexpr int kSize = 256;

std::string Caps(const char* format) {
  return std::string("video/x-raw,format=") + format + ",width=256,height=256,framerate=25/1";
}

// A synthetic Motion JPEG clip made once by the clip generator.
const std::string& Clip() {
  static const std::string path = [] {
    const std::string clip = vtest::TempPath("pipeline-clip.avi");
    const char* bin = std::getenv("VIREO_BIN_DIR");
    const std::string cmd = std::string(bin ? bin : ".") + "/vireo-synthclip " + clip + " --frames 150 > /dev/null";
    return std::system(cmd.c_str()) == 0 ? clip : std::string();
  }();
  return path;
}

std::string Decode(const std::string& clip) {
  return "filesrc location=" + clip + " ! avidemux ! jpegdec ! videoconvert ! ";
}

// Waits for EOS or an error on the pipeline's bus.
bool WaitForEos(GstElement* pipeline) {
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* msg = gst_bus_timed_pop_filtered(bus, 60 * GST_SECOND,
                                               static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  const bool eos = msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS;
  if (msg) gst_message_unref(msg);
  gst_object_unref(bus);
  return eos;
}

void ExpectComplete(const qtest::MapFile& m) {
  ASSERT_TRUE(m.ok);
  EXPECT_EQ(m.width, 264u);
  EXPECT_EQ(m.rowBytes * m.height, m.sizeImage);
  EXPECT_EQ(m.bfSize, m.bytes.size());
  EXPECT_EQ(54 + m.sizeImage, m.bytes.size());
}

// The lines GStreamer's debug log receives under one category while it lives.
class CategoryLog {
 public:
  explicit CategoryLog(const char* category) : category_(category) {
    gst_debug_set_threshold_for_name(category, GST_LEVEL_LOG);
    gst_debug_remove_log_function(gst_debug_log_default);
    gst_debug_add_log_function(&CategoryLog::Receive, this, nullptr);
  }
  ~CategoryLog() {
    gst_debug_remove_log_function_by_data(this);
    gst_debug_add_log_function(gst_debug_log_default, nullptr, nullptr);
    gst_debug_unset_threshold_for_name(category_.c_str());
  }
  std::string Text() {
    std::lock_guard<std::mutex> guard(lock_);
    return text_;
  }

 private:
  static void Receive(GstDebugCategory* category, GstDebugLevel, const gchar*, const gchar*, gint, GObject*,
                      GstDebugMessage* message, gpointer self) {
    auto* log = static_cast<CategoryLog*>(self);
    if (log->category_ != gst_debug_category_get_name(category)) return;
    std::lock_guard<std::mutex> guard(log->lock_);
    log->text_ += gst_debug_message_get(message);
    log->text_ += '\n';
  }

  std::string category_;
  std::mutex lock_;
  std::string text_;
};

class QuorlinElement : public ::testing::Test {
 protected:
  void SetUp() override { vtest::InitGst(); }
};

}  // namespace

TEST_F(QuorlinElement, TwentyFourAndThirtyTwoBitFramesAreProcessedAndDrawnAlike) {
  const auto frames24 = qtest::CapsuleFrames(40, kSize, 24);
  const auto frames32 = qtest::CapsuleFrames(40, kSize, 32);
  const std::string map24 = vtest::TempPath("alike24.bmp"), map32 = vtest::TempPath("alike32.bmp");
  auto r24 = RunPipeline("appsrc name=in ! quorlin map-file=" + map24 + " ! appsink name=out", Caps("BGR"), frames24);
  auto r32 = RunPipeline("appsrc name=in ! quorlin map-file=" + map32 + " ! appsink name=out", Caps("BGRx"), frames32);
  ASSERT_EQ(r24.error, "");
  ASSERT_EQ(r32.error, "");
  ASSERT_EQ(r24.frames.size(), 40u);
  ASSERT_EQ(r32.frames.size(), 40u);
  EXPECT_EQ(r32.frames[0].format, "BGRx");
  for (std::size_t n = 0; n < 40; ++n) {
    std::size_t drawn = 0, differ = 0;
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x) {
        const std::uint8_t* a = r24.frames[n].Pixel(x, y);
        differ += std::memcmp(a, r32.frames[n].Pixel(x, y), 3) != 0;
        drawn += a[0] == 255 && a[1] == 0 && a[2] == 0;  // colour 1, pure blue
      }
    EXPECT_EQ(differ, 0u) << "frame " << n;
    EXPECT_GT(drawn, 100u) << "frame " << n;
  }
  const qtest::MapFile a = qtest::ReadMap(map24), b = qtest::ReadMap(map32);
  ExpectComplete(a);
  EXPECT_EQ(a.bytes, b.bytes);
}

TEST_F(QuorlinElement, OtherFormatsAreRefusedByName) {
  std::vector<std::vector<std::uint8_t>> frames(1, std::vector<std::uint8_t>(16 * 16 * 2));
  auto r = RunPipeline("appsrc name=in ! quorlin ! appsink name=out",
                       "video/x-raw,format=RGB16,width=16,height=16,framerate=25/1", frames);
  EXPECT_TRUE(r.frames.empty());
  EXPECT_NE(r.error.find("Vireo Deformable Rings refuses the video format"), std::string::npos) << r.error;
}

TEST_F(QuorlinElement, UncreatableMapIsAWarningAndFramesAreStillDrawn) {
  const auto frames = qtest::CapsuleFrames(5, kSize, 24);
  const std::string path = vtest::TempPath("no-such-folder/map.bmp");
  auto r = RunPipeline("appsrc name=in ! quorlin map-file=" + path + " ! appsink name=out", Caps("BGR"), frames);
  EXPECT_EQ(r.error, "");
  ASSERT_EQ(r.frames.size(), 5u);
  ASSERT_EQ(r.warnings.size(), 1u);
  EXPECT_NE(r.warnings[0].find(path), std::string::npos) << r.warnings[0];
  EXPECT_NE(r.warnings[0].find("No such file or directory"), std::string::npos) << r.warnings[0];
  EXPECT_NE(std::memcmp(r.frames[4].data.data(), frames[4].data(), frames[4].size()), 0);
}

TEST_F(QuorlinElement, PropertiesAndInterfacesOfTheElement) {
  HRESULT hr = E_FAIL;
  GstElement* e = CreateElementByClsid(CLSID_Quorlin, nullptr, &hr);
  ASSERT_NE(e, nullptr);
  gst_object_ref_sink(e);
  g_object_set(e, "map-file", "/tmp/x.bmp", "look", 2, nullptr);
  ComPtr<IQuorlinInterface> control;
  ASSERT_EQ(QueryElementInterface(e, IID_IQuorlinInterface, control.put_void()), S_OK);
  GRID_LOOK look{};
  control->GetLook(&look);
  EXPECT_EQ(look.Mode, 2);
  look.Mode = 1;
  control->SetLook(&look);
  control->SetFileName("/tmp/y.bmp");
  gchar* file = nullptr;
  int mode = 0;
  g_object_get(e, "map-file", &file, "look", &mode, nullptr);
  EXPECT_STREQ(file, "/tmp/y.bmp");
  EXPECT_EQ(mode, 1);
  g_free(file);
  // A name longer than 1022 characters is refused whole; 1022 fit.
  EXPECT_EQ(control->SetFileName(std::string(1023, 'n').c_str()), E_INVALIDARG);
  g_object_get(e, "map-file", &file, nullptr);
  EXPECT_STREQ(file, "/tmp/y.bmp");
  g_free(file);
  EXPECT_EQ(control->SetFileName(std::string(1022, 'n').c_str()), S_OK);
  g_object_get(e, "map-file", &file, nullptr);
  EXPECT_EQ(std::strlen(file), 1022u);
  g_free(file);
  control.reset();
  gst_object_unref(e);
}

TEST_F(QuorlinElement, MapIsCompleteAtEndOfStreamAndGrowsAfterASeek) {
  ASSERT_FALSE(Clip().empty());
  const std::string map = vtest::TempPath("eos.bmp");
  GstElement* p =
      gst_parse_launch((Decode(Clip()) + "quorlin map-file=" + map + " ! fakesink sync=false").c_str(), nullptr);
  ASSERT_NE(p, nullptr);
  gst_element_set_state(p, GST_STATE_PLAYING);
  ASSERT_TRUE(WaitForEos(p));
  const qtest::MapFile first = qtest::ReadMap(map);
  ExpectComplete(first);
  EXPECT_GT(first.height, 0u);

  ASSERT_TRUE(gst_element_seek_simple(p, GST_FORMAT_TIME,
                                      static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), 0));
  ASSERT_TRUE(WaitForEos(p));
  const qtest::MapFile second = qtest::ReadMap(map);
  ExpectComplete(second);
  EXPECT_GT(second.height, first.height);
  EXPECT_TRUE(std::equal(first.bytes.begin() + 54, first.bytes.end(), second.bytes.begin() + 54));
  gst_element_set_state(p, GST_STATE_NULL);
  gst_object_unref(p);
  EXPECT_EQ(qtest::ReadMap(map).bytes, second.bytes);
}

TEST_F(QuorlinElement, MapIsCompleteWhenTheElementStopsBeforeTheEnd) {
  ASSERT_FALSE(Clip().empty());
  const std::string map = vtest::TempPath("stop.bmp");
  GstElement* p = gst_parse_launch(
      (Decode(Clip()) + "quorlin map-file=" + map + " ! identity name=count ! fakesink sync=false").c_str(), nullptr);
  ASSERT_NE(p, nullptr);
  // Blocks the stream after 60 frames, so the element stops mid-clip.
  GstElement* count = gst_bin_get_by_name(GST_BIN(p), "count");
  GstPad* pad = gst_element_get_static_pad(count, "src");
  static int frames;
  frames = 0;
  gst_pad_add_probe(
      pad, GST_PAD_PROBE_TYPE_BUFFER,
      [](GstPad*, GstPadProbeInfo*, gpointer) { return ++frames > 60 ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK; },
      nullptr, nullptr);
  gst_object_unref(pad);
  gst_object_unref(count);
  gst_element_set_state(p, GST_STATE_PLAYING);
  ASSERT_TRUE(WaitForEos(p));
  gst_element_set_state(p, GST_STATE_READY);
  const qtest::MapFile m = qtest::ReadMap(map);
  ExpectComplete(m);
  EXPECT_GT(m.height, 0u);
  gst_element_set_state(p, GST_STATE_NULL);
  gst_object_unref(p);
}

TEST_F(QuorlinElement, TwoElementsInParallelWriteIdenticalMaps) {
  ASSERT_FALSE(Clip().empty());
  const std::string a = vtest::TempPath("para-a.bmp"), b = vtest::TempPath("para-b.bmp");
  vtest::RunResult ra, rb;
  std::thread t([&] { ra = RunPipeline(Decode(Clip()) + "quorlin map-file=" + a + " ! fakesink sync=false"); });
  rb = RunPipeline(Decode(Clip()) + "quorlin map-file=" + b + " ! fakesink sync=false");
  t.join();
  ASSERT_EQ(ra.error, "");
  ASSERT_EQ(rb.error, "");
  const qtest::MapFile ma = qtest::ReadMap(a), mb = qtest::ReadMap(b);
  ExpectComplete(ma);
  EXPECT_GT(ma.height, 0u);
  EXPECT_EQ(ma.bytes, mb.bytes);
}

// GST_DEBUG=quorlin:N shows the element's own lines: what it connected or
// refused with the code, and the map it opened and closed.
TEST_F(QuorlinElement, DebugCategoryTellsFormatsAndMapFiles) {
  const std::string map = vtest::TempPath("logged.bmp");
  const std::string missing = vtest::TempPath("no-such-folder/logged.bmp");
  const auto capsule = qtest::CapsuleFrames(40, kSize, 24);
  const std::vector<std::vector<std::uint8_t>> rgb16(1, std::vector<std::uint8_t>(16 * 16 * 2));
  struct Case {
    std::string pipeline, caps;
    const std::vector<std::vector<std::uint8_t>>& frames;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"appsrc name=in ! quorlin map-file=" + map + " ! appsink name=out",
       Caps("BGR"),
       capsule,
       {"connected: input video/x-raw, format=(string)BGR", "map \"" + map + "\" opened",
        "map \"" + map + "\" closed with "}},
      {"appsrc name=in ! quorlin map-file=" + missing + " ! appsink name=out",
       Caps("BGR"),
       capsule,
       {"cannot create map \"" + missing + "\": No such file or directory"}},
      {"appsrc name=in ! quorlin ! appsink name=out",
       "video/x-raw,format=RGB16,width=16,height=16,framerate=25/1",
       rgb16,
       {"refuses video/x-raw, format=(string)RGB16", "(hr=0x8004022A VFW_E_TYPE_NOT_ACCEPTED)"}},
  };
  std::string first;
  for (const Case& c : cases) {
    std::string text;
    {
      CategoryLog log("quorlin");
      RunPipeline(c.pipeline, c.caps, c.frames);
      text = log.Text();
    }
    if (first.empty()) first = text;
    for (const std::string& line : c.lines) EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
  }
  // The count logged is the map's own.
  const qtest::MapFile written = qtest::ReadMap(map);
  ASSERT_GT(written.height, 0u);
  EXPECT_NE(first.find("closed with " + std::to_string(written.height) + " rows"), std::string::npos) << first;
}
