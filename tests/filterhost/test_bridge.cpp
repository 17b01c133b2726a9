// Test filters hosted in real GStreamer pipelines.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "filterhost/filter.h"
#include "filterhost/lookup.h"
#include "gst_pipeline.h"
#include "testplugin.h"

using namespace fh;
using vtest::RunPipeline;

namespace {

constexpr int kW = 10, kH = 6;  // odd row bytes (30) exercise padding to 32

// Top-down BGR frames whose pixel (x, y) encodes x, y and the frame index.
std::vector<std::vector<std::uint8_t>> Frames(int count, int bpp = 3) {
  std::vector<std::vector<std::uint8_t>> frames;
  const int stride = vtest::GstStride(kW, bpp);
  for (int n = 0; n < count; ++n) {
    std::vector<std::uint8_t> f(static_cast<size_t>(stride) * kH, 0);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        std::uint8_t* p = f.data() + y * stride + x * bpp;
        p[0] = static_cast<std::uint8_t>(10 * x + 1);
        p[1] = static_cast<std::uint8_t>(20 * y + 2);
        p[2] = static_cast<std::uint8_t>(n);
      }
    frames.push_back(std::move(f));
  }
  return frames;
}

std::string Caps(const char* format) {
  return std::string("video/x-raw,format=") + format + ",width=" + std::to_string(kW) +
         ",height=" + std::to_string(kH) + ",framerate=25/1";
}

class Bridge : public ::testing::Test {
 protected:
  void SetUp() override { vtest::InitGst(); }
};

}  // namespace

TEST_F(Bridge, InPlaceFilterChangesPixelsAndSeesFramesBottomUp) {
  auto r = RunPipeline("appsrc name=in ! vireotestmarker ! appsink name=out", Caps("BGR"), Frames(3));
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.frames.size(), 3u);
  for (size_t n = 0; n < 3; ++n) {
    const vtest::Frame& f = r.frames[n];
    ASSERT_EQ(f.width, kW);
    // The first row in the filter's memory is the bottom row of the picture.
    for (int x = 0; x < kW; ++x) {
      EXPECT_EQ(f.Pixel(x, kH - 1)[0], 0);
      EXPECT_EQ(f.Pixel(x, kH - 1)[2], 255);
    }
    for (int y = 0; y < kH - 1; ++y)
      for (int x = 0; x < kW; ++x) {
        EXPECT_EQ(f.Pixel(x, y)[0], 255 - (10 * x + 1));
        EXPECT_EQ(f.Pixel(x, y)[1], 255 - (20 * y + 2));
        EXPECT_EQ(f.Pixel(x, y)[2], 255 - static_cast<int>(n));
      }
  }
}

TEST_F(Bridge, CopyTransformWidensAndKeepsTimestampsAndOrientation) {
  for (const char* format : {"BGR", "BGRx"}) {
    const int bpp = std::string(format) == "BGR" ? 3 : 4;
    auto r = RunPipeline("appsrc name=in ! vireotestwiden ! appsink name=out", Caps(format), Frames(4, bpp));
    ASSERT_EQ(r.error, "") << format;
    ASSERT_EQ(r.frames.size(), 4u);
    for (size_t n = 0; n < 4; ++n) {
      const vtest::Frame& f = r.frames[n];
      ASSERT_EQ(f.width, 2 * kW);
      ASSERT_EQ(f.height, kH);
      EXPECT_EQ(f.format, format);
      EXPECT_EQ(f.pts, n * GST_SECOND / 25);
      EXPECT_EQ(f.duration, GST_SECOND / 25);
      EXPECT_EQ(f.offset, n);
      for (int y = 0; y < kH; ++y)
        for (int x = 0; x < 2 * kW; ++x) {
          EXPECT_EQ(f.Pixel(x, y)[0], 10 * (x / 2) + 1);
          EXPECT_EQ(f.Pixel(x, y)[1], 20 * y + 2);
        }
    }
  }
}

TEST_F(Bridge, RefusedFormatFailsNegotiationWithAClearError) {
  auto r = RunPipeline("appsrc name=in ! vireotestmarker ! appsink name=out", Caps("BGRx"), Frames(1, 4));
  EXPECT_TRUE(r.frames.empty());
  EXPECT_NE(r.error.find("Vireo Test Marker refuses the video format"), std::string::npos) << r.error;
  EXPECT_NE(r.error.find("BGRx"), std::string::npos) << r.error;
}

TEST_F(Bridge, UpstreamConverterNegotiatesTheAcceptedFormat) {
  auto r = RunPipeline("appsrc name=in ! videoconvert ! vireotestmarker ! appsink name=out", Caps("RGB"), Frames(2));
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.frames.size(), 2u);
  EXPECT_EQ(r.frames[0].format, "BGR");
}

// Scripts the filter named "f" through its control interface.
std::function<void(GstElement*)> Scripted(std::function<void(vt::ITestControl*)> script) {
  return [script](GstElement* pipeline) {
    GstElement* f = gst_bin_get_by_name(GST_BIN(pipeline), "f");
    ComPtr<vt::ITestControl> control;
    ASSERT_EQ(QueryElementInterface(f, vt::IID_ITestControl, control.put_void()), S_OK);
    script(control.get());
    gst_object_unref(f);
  };
}

// The filter named "f" answers `hr` from frame `from` on.
std::function<void(GstElement*)> FailFrom(int from, HRESULT hr) {
  return Scripted([from, hr](vt::ITestControl* control) { control->FailFrom(from, hr); });
}

// A filter that reports it wrote nothing (as the MDR filter does when it
// draws no grid) passes its frames on as they came, whatever it did to the
// copy it was given.
TEST_F(Bridge, FramesAFilterReportsUnwrittenGoOnAsTheyCame) {
  const auto frames = Frames(3);
  auto r = RunPipeline("appsrc name=in ! vireotestmarker name=f ! appsink name=out", Caps("BGR"), frames, 30,
                       Scripted([](vt::ITestControl* control) { control->DenyWriting(true); }));
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.frames.size(), 3u);
  for (std::size_t n = 0; n < 3; ++n) EXPECT_EQ(r.frames[n].data, frames[n]) << "frame " << n;
}

TEST_F(Bridge, FailingTransformIsABusErrorNamingTheResult) {
  auto r = RunPipeline("appsrc name=in ! vireotestmarker name=f ! appsink name=out", Caps("BGR"), Frames(4), 30,
                       FailFrom(2, E_FAIL));
  EXPECT_EQ(r.frames.size(), 1u);
  EXPECT_NE(r.error.find("Vireo Test Marker: Transform failed (hr=0x80004005 E_FAIL)"), std::string::npos) << r.error;
}

TEST_F(Bridge, SFalseDropsTheFrame) {
  auto r = RunPipeline("appsrc name=in ! vireotestwiden name=f ! appsink name=out", Caps("BGR"), Frames(5), 30,
                       FailFrom(3, S_FALSE));
  EXPECT_EQ(r.error, "");
  EXPECT_TRUE(r.eos);
  ASSERT_EQ(r.frames.size(), 2u);
  EXPECT_EQ(r.frames[1].offset, 1u);
}

TEST_F(Bridge, ReconnectPinRenegotiatesTheOutput) {
  // Raising the factor mid-stream asks for an output reconnection.
  vtest::AppPipeline app("appsrc name=in ! vireotestwiden name=f ! appsink name=out", Caps("BGR"));
  ASSERT_NE(app.pipeline, nullptr);
  GstElement* f = app.Element("f");
  gst_element_set_state(app.pipeline, GST_STATE_PLAYING);
  auto frames = Frames(2);
  // Untimestamped buffers: the filter must renegotiate without them.
  auto push = [&](const std::vector<std::uint8_t>& data) {
    GstBuffer* b = gst_buffer_new_memdup(data.data(), data.size());
    GstFlowReturn ret;
    g_signal_emit_by_name(app.src, "push-buffer", b, &ret);
    gst_buffer_unref(b);
  };
  auto pullWidth = [&]() {
    GstSample* s = vtest::PullSample(app.sink, 5);
    if (!s) return -1;
    int w = -1, h = -1;
    vtest::SampleSize(s, &w, &h);
    gst_sample_unref(s);
    return w;
  };
  push(frames[0]);
  EXPECT_EQ(pullWidth(), 2 * kW);
  g_object_set(f, "factor", 3, nullptr);
  push(frames[1]);
  EXPECT_EQ(pullWidth(), 3 * kW);
  int factor = 0;
  g_object_get(f, "factor", &factor, nullptr);
  EXPECT_EQ(factor, 3);
}

TEST_F(Bridge, DecodedSyntheticAviRunsThroughTheFilter) {
  const std::string avi = vtest::TempPath("decoded.avi");
  const std::string generator = std::string(std::getenv("VIREO_BIN_DIR")) + "/vireo-synthclip";
  ASSERT_EQ(std::system((generator + " " + avi + " --frames 12 --size 64 >/dev/null 2>&1").c_str()), 0);
  auto r = RunPipeline("filesrc location=" + avi +
                       " ! avidemux ! jpegdec ! videoconvert ! vireotestmarker ! appsink name=out");
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.frames.size(), 12u);
  for (const vtest::Frame& f : r.frames) {
    ASSERT_EQ(f.width, 64);
    for (int x = 0; x < 64; ++x) EXPECT_EQ(f.Pixel(x, 63)[2], 255);
    // Outside the circular field of view the clip is black; inverted it is white.
    EXPECT_GT(f.Pixel(0, 0)[0], 230);
  }
}

TEST_F(Bridge, InspectListsTheElementWithItsClsid) {
  const std::string out = vtest::RunCommand("gst-inspect-1.0 vireotestmarker 2>&1").output;
  EXPECT_NE(out.find("Vireo Test Marker"), std::string::npos) << out;
  EXPECT_NE(out.find(GuidToString(vt::CLSID_TestMarker)), std::string::npos) << out;
}

TEST_F(Bridge, CreateByClsidAndQueryTheCustomInterface) {
  HRESULT hr = E_FAIL;
  GstElement* e = CreateElementByClsid(vt::CLSID_TestWiden, "widen", &hr);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(hr, S_OK);
  gst_object_ref_sink(e);
  ComPtr<vt::ITestControl> control;
  EXPECT_EQ(QueryElementInterface(e, vt::IID_ITestControl, control.put_void()), S_OK);
  int32_t frames = -1;
  EXPECT_EQ(control->GetFrameCount(&frames), S_OK);
  EXPECT_EQ(frames, 0);
  ComPtr<IUnknown> filter;
  EXPECT_EQ(QueryElementInterface(e, IID_IBaseFilter, filter.put_void()), S_OK);
  void* none = nullptr;
  EXPECT_EQ(QueryElementInterface(e, IID_IQuorlinInterface, &none), E_NOINTERFACE);
  EXPECT_EQ(QueryElementInterface(e, IID_IQuorlinInterface, nullptr), E_POINTER);
  control.reset();
  filter.reset();
  gst_object_unref(e);

  GstElement* other = gst_element_factory_make("identity", nullptr);
  gst_object_ref_sink(other);
  EXPECT_EQ(QueryElementInterface(other, vt::IID_ITestControl, &none), E_NOINTERFACE);
  gst_object_unref(other);
  EXPECT_EQ(QueryElementInterface(nullptr, vt::IID_ITestControl, &none), E_POINTER);
}

TEST_F(Bridge, UnknownClsidIsAResultCode) {
  HRESULT hr = S_OK;
  constexpr CLSID unknown{0xdeadbeef, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
  EXPECT_EQ(CreateElementByClsid(unknown, nullptr, &hr), nullptr);
  EXPECT_EQ(hr, REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CreateElementByClsid(unknown, nullptr, nullptr), nullptr);
}
