// The detector element in real pipelines: findings file lines, markers on the
// frames, the findings file's life, and its failures.
#include <gtest/gtest.h>
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "filterhost/interfaces.h"
#include "filterhost/lookup.h"
#include "gst_pipeline.h"
#include "ostrel/analysis/analiza_detektor.h"
#include "ostrel/detections.h"

using namespace fh;
using ostrel::CAnalizaDetektor;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Uniform frames: reddish tissue that flags Blood2 in every block, and grey
// that flags nothing (each checked against the engine below).
constexpr std::uint8_t kRed[3] = {16, 32, 128};
constexpr std::uint8_t kGrey[3] = {100, 100, 100};

Bytes Uniform(const std::uint8_t bgr[3], int width = 256, int height = 256) {
  const int stride = vtest::GstStride(width, 3);
  Bytes f(static_cast<size_t>(stride) * height, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) std::copy_n(bgr, 3, &f[static_cast<size_t>(y) * stride + 3 * x]);
  return f;
}

std::string Caps(int width = 256, int height = 256) {
  return "video/x-raw,format=BGR,width=" + std::to_string(width) + ",height=" + std::to_string(height) +
         ",framerate=25/1";
}

const std::string kHeader = "Interpretation auto ostrelection: 0\r\n";

// What the filter should make of a top-down GStreamer frame: it sees the frame
// bottom-up, analyses it and draws the markers of its flags.
Bytes Expected(const Bytes& topDown, int width, int height, bool* flagged) {
  const int stride = vtest::GstStride(width, 3);
  Bytes dib(topDown.size());
  for (int y = 0; y < height; ++y)
    std::copy_n(&topDown[static_cast<size_t>(y) * stride], stride, &dib[static_cast<size_t>(height - 1 - y) * stride]);
  CAnalizaDetektor engine(width, height);
  Bytes channel(static_cast<size_t>(width) * height);
  engine.AnalyzeFrame(stride, dib.data(), channel.data());
  char line[ostrel::kFindingsLineSize];
  *flagged = ostrel::FormatFindingsLine(engine, 0, line) > 0;
  if (*flagged) ostrel::DrawMarkers(engine, dib.data(), stride);
  Bytes out(topDown.size());
  for (int y = 0; y < height; ++y)
    std::copy_n(&dib[static_cast<size_t>(height - 1 - y) * stride], stride, &out[static_cast<size_t>(y) * stride]);
  return out;
}

std::function<void(GstElement*)> Name(const std::string& path) {
  return [path](GstElement* pipeline) {
    GstElement* f = gst_bin_get_by_name(GST_BIN(pipeline), "f");
    g_object_set(f, "findings-file", path.c_str(), nullptr);
    gst_object_unref(f);
  };
}

// A pipeline appsrc ! ostrel ! appsink driven frame by frame.
class Stepped {
 public:
  Stepped() {
    pipeline_ = gst_parse_launch("appsrc name=in format=time ! ostrel name=f ! appsink name=out sync=false async=false",
                                 nullptr);
    src_ = gst_bin_get_by_name(GST_BIN(pipeline_), "in");
    filter_ = gst_bin_get_by_name(GST_BIN(pipeline_), "f");
    sink_ = gst_bin_get_by_name(GST_BIN(pipeline_), "out");
    SetCaps(Caps());
  }
  ~Stepped() {
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    gst_object_unref(src_);
    gst_object_unref(filter_);
    gst_object_unref(sink_);
    gst_object_unref(pipeline_);
  }
  GstElement* Filter() const { return filter_; }
  // The next warning on the pipeline's bus, or nullptr.
  GstMessage* PopWarning() {
    GstBus* bus = gst_element_get_bus(pipeline_);
    GstMessage* m = gst_bus_pop_filtered(bus, GST_MESSAGE_WARNING);
    gst_object_unref(bus);
    return m;
  }
  void SetState(GstState state) {
    ASSERT_NE(gst_element_set_state(pipeline_, state), GST_STATE_CHANGE_FAILURE);
    ASSERT_NE(gst_element_get_state(pipeline_, nullptr, nullptr, 10 * GST_SECOND), GST_STATE_CHANGE_FAILURE);
  }
  void SetCaps(const std::string& caps) {
    GstCaps* c = gst_caps_from_string(caps.c_str());
    g_object_set(src_, "caps", c, nullptr);
    gst_caps_unref(c);
  }
  // Pushes one frame and waits until it has passed the filter.
  Bytes Pass(const Bytes& frame) {
    GstBuffer* b = gst_buffer_new_memdup(frame.data(), frame.size());
    GST_BUFFER_PTS(b) = pts_;
    pts_ += GST_SECOND / 25;
    EXPECT_EQ(gst_app_src_push_buffer(GST_APP_SRC(src_), b), GST_FLOW_OK);
    GstSample* s = gst_app_sink_try_pull_sample(GST_APP_SINK(sink_), 10 * GST_SECOND);
    if (!s) {
      ADD_FAILURE() << "no frame came out";
      return {};
    }
    GstMapInfo map;
    gst_buffer_map(gst_sample_get_buffer(s), &map, GST_MAP_READ);
    Bytes out(map.data, map.data + map.size);
    gst_buffer_unmap(gst_sample_get_buffer(s), &map);
    gst_sample_unref(s);
    return out;
  }

 private:
  GstElement *pipeline_, *src_, *filter_, *sink_;
  GstClockTime pts_ = 0;
};

ComPtr<IOstrelInterfejs> Detector(GstElement* element) {
  ComPtr<IOstrelInterfejs> d;
  EXPECT_EQ(QueryElementInterface(element, IID_IOstrelInterfejs, d.put_void()), S_OK);
  return d;
}

class Ostrel : public ::testing::Test {
 protected:
  void SetUp() override {
    vtest::InitGst();
    bool flagged = false;
    Expected(Uniform(kRed), 256, 256, &flagged);
    ASSERT_TRUE(flagged) << "the red test frame no longer shows a label";
    Expected(Uniform(kGrey), 256, 256, &flagged);
    ASSERT_FALSE(flagged) << "the grey test frame shows a label";
  }
};

}  // namespace

TEST_F(Ostrel, NewFilterHasNoNameAndNamesItsPage) {
  GstElement* e = CreateElementByClsid(CLSID_FiltrDetektor, nullptr, nullptr);
  ASSERT_NE(e, nullptr);
  gst_object_ref_sink(e);
  EXPECT_STREQ(gst_element_factory_get_klass(gst_element_get_factory(e)), "Filter/Analyzer/Video");
  EXPECT_STREQ(gst_plugin_feature_get_name(gst_element_get_factory(e)), "ostrel");
  {
    auto detector = Detector(e);
    char name[2048];
    std::fill_n(name, 2048, 'x');
    EXPECT_EQ(detector->GetFindingsFile(name), S_OK);
    EXPECT_STREQ(name, "");
    gchar* property = nullptr;
    g_object_get(e, "findings-file", &property, nullptr);
    EXPECT_STREQ(property, "");
    g_free(property);

    ComPtr<ISpecifyPropertyPages> pages;
    ASSERT_EQ(detector->QueryInterface(IID_ISpecifyPropertyPages, pages.put_void()), S_OK);
    CAUUID ids;
    ASSERT_EQ(pages->GetPages(&ids), S_OK);
    ASSERT_EQ(ids.cElems, 1u);
    EXPECT_EQ(ids.pElems[0], CLSID_WlasciwosciDetektor);
    CoTaskMemFree(ids.pElems);
    EXPECT_EQ(detector->QueryInterface(IID_IOstrelInterfejs, nullptr), E_POINTER);

    // A name longer than 2047 characters is refused whole, never cut.
    const std::string fits = "/tmp/" + std::string(2042, 'n');
    EXPECT_EQ(detector->SetFindingsFile((fits + "x").c_str()), E_INVALIDARG);
    EXPECT_EQ(detector->GetFindingsFile(name), S_OK);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(detector->SetFindingsFile(fits.c_str()), S_OK);
    EXPECT_EQ(detector->GetFindingsFile(name), S_OK);
    EXPECT_EQ(std::string(name), fits);
    EXPECT_EQ(detector->SetFindingsFile(""), S_OK);
  }
  gst_object_unref(e);
}

TEST_F(Ostrel, LinesNumberFramesFromNamingAndMarkTheFlaggedFrames) {
  const std::string path = vtest::TempPath("numbering.txt");
  const std::vector<Bytes> in = {Uniform(kGrey), Uniform(kRed), Uniform(kRed), Uniform(kGrey), Uniform(kRed)};
  auto r = vtest::RunPipeline("appsrc name=in ! ostrel name=f ! appsink name=out", Caps(), in, 60, Name(path));
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.frames.size(), in.size());
  EXPECT_EQ(vtest::ReadFile(path), kHeader + "1\t0\t Blood2\r\n2\t0\t Blood2\r\n4\t0\t Blood2\r\n");

  for (size_t n = 0; n < in.size(); ++n) {
    bool flagged = false;
    const Bytes expected = Expected(in[n], 256, 256, &flagged);
    EXPECT_EQ(r.frames[n].data == in[n], !flagged) << n;
    EXPECT_TRUE(r.frames[n].data == expected) << n;
  }
  // The Blood2 plus of block 0, centred at (86, 43) in the filter's bottom-up
  // rows, is yellow in the picture's row 255 - 43.
  const vtest::Frame& marked = r.frames[1];
  for (auto [x, y] : {std::pair{86, 212}, {85, 212}, {87, 212}, {86, 211}, {86, 213}}) {
    EXPECT_EQ(marked.Pixel(x, y)[0], 0);
    EXPECT_EQ(marked.Pixel(x, y)[1], 255);
    EXPECT_EQ(marked.Pixel(x, y)[2], 255);
  }
  EXPECT_EQ(marked.Pixel(86, 214)[2], kRed[2]);
}

TEST_F(Ostrel, WithoutAFindingsFileFramesPassUnchanged) {
  const std::vector<Bytes> in = {Uniform(kRed), Uniform(kGrey), Uniform(kRed)};
  auto r = vtest::RunPipeline("appsrc name=in ! ostrel name=f ! appsink name=out", Caps(), in);
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.frames.size(), in.size());
  for (size_t n = 0; n < in.size(); ++n) EXPECT_TRUE(r.frames[n].data == in[n]) << n;
  EXPECT_TRUE(r.warnings.empty());
}

TEST_F(Ostrel, NamingAgainMidStreamRestartsTheCountAndEmptiesTheFile) {
  const std::string first = vtest::TempPath("first.txt"), second = vtest::TempPath("second.txt");
  Stepped p;
  auto detector = Detector(p.Filter());
  ASSERT_EQ(detector->SetFindingsFile(first.c_str()), S_OK);
  p.SetState(GST_STATE_PLAYING);
  p.Pass(Uniform(kRed));
  p.Pass(Uniform(kRed));
  p.Pass(Uniform(kRed));
  EXPECT_EQ(detector->SetFindingsFile(first.c_str()), S_OK);
  p.Pass(Uniform(kGrey));
  p.Pass(Uniform(kRed));
  g_object_set(p.Filter(), "findings-file", second.c_str(), nullptr);
  p.Pass(Uniform(kRed));
  // The previous file is complete as soon as another is named.
  EXPECT_EQ(vtest::ReadFile(first), kHeader + "1\t0\t Blood2\r\n");
  gchar* name = nullptr;
  g_object_get(p.Filter(), "findings-file", &name, nullptr);
  EXPECT_EQ(std::string(name), second);
  g_free(name);

  // Stopping completes the file; running again goes on with it.
  p.SetState(GST_STATE_READY);
  EXPECT_EQ(vtest::ReadFile(second), kHeader + "0\t0\t Blood2\r\n");
  p.SetState(GST_STATE_PLAYING);
  p.Pass(Uniform(kRed));
  p.SetState(GST_STATE_NULL);
  EXPECT_EQ(vtest::ReadFile(second), kHeader + "0\t0\t Blood2\r\n1\t0\t Blood2\r\n");
}

TEST_F(Ostrel, SizeChangesReplaceTheEngineAndSmallFramesAreOnlyCounted) {
  const std::string path = vtest::TempPath("sizes.txt");
  Stepped p;
  g_object_set(p.Filter(), "findings-file", path.c_str(), nullptr);
  p.SetState(GST_STATE_PLAYING);
  p.SetCaps(Caps(128, 128));
  const Bytes small = Uniform(kRed, 128, 128);
  EXPECT_TRUE(p.Pass(small) == small);
  p.SetCaps(Caps(320, 272));
  const Bytes large = Uniform(kRed, 320, 272);
  bool flagged = false;
  const Bytes expected = Expected(large, 320, 272, &flagged);
  ASSERT_TRUE(flagged);
  EXPECT_TRUE(p.Pass(large) == expected);
  p.SetCaps(Caps());
  p.Pass(Uniform(kRed));
  p.SetState(GST_STATE_NULL);
  EXPECT_EQ(vtest::ReadFile(path), kHeader + "1\t0\t Blood2\r\n2\t0\t Blood2\r\n");
}

TEST_F(Ostrel, UncreatableFileWarnsOnTheBusAndFramesStillPass) {
  const std::string path = vtest::TempPath("missing-folder") + "/findings.txt";
  const std::vector<Bytes> in = {Uniform(kRed), Uniform(kRed)};
  auto r = vtest::RunPipeline("appsrc name=in ! ostrel name=f ! appsink name=out", Caps(), in, 60, Name(path));
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.frames.size(), 2u);
  EXPECT_TRUE(r.frames[0].data == in[0]);
  ASSERT_EQ(r.warnings.size(), 1u);
  EXPECT_NE(r.warnings[0].find(path), std::string::npos) << r.warnings[0];
  EXPECT_NE(r.warnings[0].find("No such file or directory"), std::string::npos) << r.warnings[0];
  EXPECT_FALSE(std::filesystem::exists(path));

  // Named while running: the warning comes at once and the interface still
  // answers S_OK.
  Stepped p;
  p.SetState(GST_STATE_PLAYING);
  auto detector = Detector(p.Filter());
  EXPECT_EQ(detector->SetFindingsFile(path.c_str()), S_OK);
  EXPECT_TRUE(p.Pass(Uniform(kRed)) == Uniform(kRed));
  GstMessage* warning = p.PopWarning();
  EXPECT_NE(warning, nullptr);
  if (warning) gst_message_unref(warning);
}

TEST_F(Ostrel, RefusesAnythingButRgb24) {
  const std::vector<Bytes> in = {Bytes(256 * 256 * 4, 0)};
  auto r = vtest::RunPipeline("appsrc name=in ! ostrel ! appsink name=out",
                              "video/x-raw,format=BGRx,width=256,height=256,framerate=25/1", in);
  EXPECT_TRUE(r.frames.empty());
  EXPECT_NE(r.error.find("Vireo Ostrelector refuses the video format"), std::string::npos) << r.error;

  // Behind a converter the element negotiates 24-bit BGR.
  auto c = vtest::RunPipeline("appsrc name=in ! videoconvert ! ostrel ! appsink name=out",
                              "video/x-raw,format=BGRx,width=256,height=256,framerate=25/1", in);
  ASSERT_EQ(c.error, "");
  ASSERT_EQ(c.frames.size(), 1u);
  EXPECT_EQ(c.frames[0].format, "BGR");
}

// Without a frame there is nothing to report: an earlier file stays, and
// none is created.
TEST_F(Ostrel, DestroyingTheElementBeforeAnyFrameLeavesFilesAsTheyWere) {
  const std::string earlier = vtest::TempPath("earlier.txt"), fresh = vtest::TempPath("fresh.txt");
  std::ofstream(earlier) << "earlier findings\n";
  std::filesystem::remove(fresh);
  for (const std::string& path : {earlier, fresh}) {
    GstElement* e = gst_element_factory_make("ostrel", nullptr);
    ASSERT_NE(e, nullptr);
    gst_object_ref_sink(e);
    g_object_set(e, "findings-file", path.c_str(), nullptr);
    gst_object_unref(e);
  }
  EXPECT_EQ(vtest::ReadFile(earlier), "earlier findings\n");
  EXPECT_FALSE(std::filesystem::exists(fresh));
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(fresh).parent_path()))
    EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
}
