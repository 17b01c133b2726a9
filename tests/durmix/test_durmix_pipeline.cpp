// The frame multiplicator as a GStreamer element: mosaics of real pipelines,
// the element properties, mode changes while playing, creation by CLSID.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "filterhost/interfaces.h"
#include "filterhost/lookup.h"
#include "gst_pipeline.h"

using namespace fh;
using vtest::RunPipeline;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Caps(const char* format, int width, int height) {
  return std::string("video/x-raw,format=") + format + ",width=" + std::to_string(width) +
         ",height=" + std::to_string(height) + ",framerate=25/1";
}

// Top-down frames whose pixels encode their position and the frame number.
std::vector<Bytes> PatternFrames(int count, int width, int height, int bpp) {
  std::vector<Bytes> frames;
  const int stride = vtest::GstStride(width, bpp);
  for (int n = 1; n <= count; ++n) {
    Bytes f(static_cast<size_t>(stride) * height, 0);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        std::uint8_t* p = f.data() + y * stride + x * bpp;
        p[0] = static_cast<std::uint8_t>(7 * x + 1);
        p[1] = static_cast<std::uint8_t>(11 * y + 2);
        p[2] = static_cast<std::uint8_t>(n);
      }
    frames.push_back(std::move(f));
  }
  return frames;
}

// Picture position (tile column from the left, tile row from the top) of
// frame n (counted from 1) in a mosaic fed bottom-up.
struct Place {
  int column, rowFromTop;
};
Place PlaceOf(int n, int columns, int rows) {
  const int slot = n % (columns * rows);
  const int band = slot / columns;  // from the bottom
  const int column = band % 2 == 0 ? columns - 1 - slot % columns : slot % columns;
  return {column, rows - 1 - band};
}

// Whether the tile at `place` of `mosaic` holds exactly `frame`.
::testing::AssertionResult TileHolds(const vtest::Frame& mosaic, Place place, const Bytes& frame, int width,
                                     int height) {
  const int bpp = mosaic.bpp();
  const int stride = vtest::GstStride(width, bpp);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* got = mosaic.Pixel(place.column * width, place.rowFromTop * height + y);
    const std::uint8_t* want = frame.data() + y * stride;
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c)
        if (got[x * bpp + c] != want[x * bpp + c])
          return ::testing::AssertionFailure()
                 << "tile (" << place.column << "," << place.rowFromTop << ") differs at " << x << "," << y;
  }
  return ::testing::AssertionSuccess();
}

bool TileIsBlack(const vtest::Frame& mosaic, Place place, int width, int height) {
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* p = mosaic.Pixel(place.column * width + x, place.rowFromTop * height + y);
      if (p[0] || p[1] || p[2]) return false;
    }
  return true;
}

class DurmixPipeline : public ::testing::Test {
 protected:
  void SetUp() override { vtest::InitGst(); }
};

}  // namespace

TEST_F(DurmixPipeline, OneByOneOutputEqualsInput) {
  for (const char* format : {"BGR", "BGRx"}) {
    const int bpp = std::string(format) == "BGR" ? 3 : 4;
    auto frames = PatternFrames(3, 10, 6, bpp);
    auto r = RunPipeline("appsrc name=in ! durmix ! appsink name=out", Caps(format, 10, 6), frames);
    ASSERT_EQ(r.error, "") << format;
    ASSERT_EQ(r.frames.size(), 3u);
    for (size_t n = 0; n < 3; ++n) {
      EXPECT_EQ(r.frames[n].width, 10);
      EXPECT_EQ(r.frames[n].height, 6);
      EXPECT_EQ(r.frames[n].format, format);
      EXPECT_EQ(r.frames[n].pts, n * GST_SECOND / 25);
      EXPECT_TRUE(TileHolds(r.frames[n], {0, 0}, frames[n], 10, 6)) << format << " frame " << n;
    }
  }
}

TEST_F(DurmixPipeline, TwoByTwoPlacesFramesBottomLeftTopLeftTopRightBottomRight) {
  auto frames = PatternFrames(5, 10, 6, 3);
  auto r = RunPipeline("appsrc name=in ! durmix columns=2 rows=2 ! appsink name=out", Caps("BGR", 10, 6), frames);
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.frames.size(), 5u);
  EXPECT_EQ(r.frames[0].width, 20);
  EXPECT_EQ(r.frames[0].height, 12);
  const Place bottomLeft{0, 1}, topLeft{0, 0}, topRight{1, 0}, bottomRight{1, 1};
  EXPECT_TRUE(TileHolds(r.frames[0], bottomLeft, frames[0], 10, 6));
  EXPECT_TRUE(TileIsBlack(r.frames[0], topLeft, 10, 6));
  EXPECT_TRUE(TileIsBlack(r.frames[0], bottomRight, 10, 6));
  EXPECT_TRUE(TileHolds(r.frames[1], topLeft, frames[1], 10, 6));
  EXPECT_TRUE(TileHolds(r.frames[2], topRight, frames[2], 10, 6));
  const vtest::Frame& fourth = r.frames[3];
  EXPECT_TRUE(TileHolds(fourth, bottomLeft, frames[0], 10, 6));
  EXPECT_TRUE(TileHolds(fourth, topLeft, frames[1], 10, 6));
  EXPECT_TRUE(TileHolds(fourth, topRight, frames[2], 10, 6));
  EXPECT_TRUE(TileHolds(fourth, bottomRight, frames[3], 10, 6));
  EXPECT_TRUE(TileHolds(r.frames[4], bottomLeft, frames[4], 10, 6));
  EXPECT_TRUE(TileHolds(r.frames[4], bottomRight, frames[3], 10, 6));
}

// Real capsule frames, scaled down, through a 6 x 4 mosaic: after 26 frames
// every tile holds the frame the snake order puts there.
TEST_F(DurmixPipeline, SixByFourMosaicOfRealCapsuleFrames) {
  const char* root = std::getenv("VIREO_DATA_DIR");
  ASSERT_NE(root, nullptr);
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(root) / "kvasir-capsule-polyp"))
    if (entry.path().extension() == ".jpg") files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), 26u);
  constexpr int kSide = 42;
  std::vector<Bytes> frames;
  for (size_t i = 0; i < 26; ++i) {
    auto d =
        RunPipeline("filesrc location=" + files[i] +
                    " ! jpegdec ! videoconvert ! videoscale ! video/x-raw,format=BGR,width=" + std::to_string(kSide) +
                    ",height=" + std::to_string(kSide) + " ! appsink name=out");
    ASSERT_EQ(d.error, "");
    ASSERT_EQ(d.frames.size(), 1u);
    frames.push_back(d.frames[0].data);
  }
  auto r =
      RunPipeline("appsrc name=in ! durmix columns=6 rows=4 ! appsink name=out", Caps("BGR", kSide, kSide), frames);
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.frames.size(), 26u);
  const vtest::Frame& last = r.frames.back();
  ASSERT_EQ(last.width, 6 * kSide);
  ASSERT_EQ(last.height, 4 * kSide);
  // Frames 3 to 26 are the last 24; 1 and 2 were replaced by 25 and 26.
  for (int n = 3; n <= 26; ++n)
    EXPECT_TRUE(TileHolds(last, PlaceOf(n, 6, 4), frames[static_cast<size_t>(n - 1)], kSide, kSide)) << "frame " << n;
}

// Modes set while the pipeline plays take effect at the next frame, through
// the interface and the element properties alike.
TEST_F(DurmixPipeline, ModeSetWhilePlayingRenegotiatesTheMosaic) {
  vtest::AppPipeline app("appsrc name=in ! durmix name=d ! appsink name=out", Caps("BGR", 10, 6));
  ASSERT_NE(app.pipeline, nullptr);
  GstElement* d = app.Element("d");
  ComPtr<DurmixInterface> control;
  ASSERT_EQ(QueryElementInterface(d, IID_DurmixInterface, control.put_void()), S_OK);
  ASSERT_EQ(gst_element_set_state(app.pipeline, GST_STATE_PLAYING), GST_STATE_CHANGE_ASYNC);
  auto frames = PatternFrames(40, 10, 6, 3);
  int pushed = 0;
  auto pushAndPull = [&](int* width, int* height) {
    vtest::PushFrame(app.src, frames[pushed], pushed);
    ++pushed;
    GstSample* s = vtest::PullSample(app.sink, 10);
    ASSERT_NE(s, nullptr);
    vtest::SampleSize(s, width, height);
    gst_sample_unref(s);
  };
  const int modes[][2] = {{6, 4}, {1, 1}, {3, 2}, {2, 1}, {5, 4}, {2, 2}};
  for (const auto& mode : modes) {
    control->SetMode(0, mode[0], mode[1]);
    for (int k = 0; k < 3; ++k) {
      int w = 0, h = 0;
      pushAndPull(&w, &h);
      EXPECT_EQ(w, 10 * mode[0]);
      EXPECT_EQ(h, 6 * mode[1]);
    }
  }
  g_object_set(d, "columns", 4, "rows", 3, nullptr);
  int columns = 0, rows = 0;
  g_object_get(d, "columns", &columns, "rows", &rows, nullptr);
  EXPECT_EQ(columns, 4);
  EXPECT_EQ(rows, 3);
  std::int32_t id = 0;
  control->GetMode(&id, &columns, &rows);
  EXPECT_EQ(id, 1007);  // the page's "4 x 3" button
  int w = 0, h = 0;
  pushAndPull(&w, &h);
  EXPECT_EQ(w, 40);
  EXPECT_EQ(h, 18);
}

// The input picture size changes mid-stream (a camera switching resolution,
// clips joined): the mosaic follows at the next frame with tiles of the new
// size, in every format and with both input sizes' tiles placed in order.
TEST_F(DurmixPipeline, FollowsAnInputSizeChangeMidStream) {
  struct Case {
    const char* format;
    int bpp, columns, rows, w1, h1, w2, h2;
  } cases[] = {
      {"BGR", 3, 2, 2, 10, 6, 14, 9},  // larger: a larger mosaic
      {"BGR", 3, 3, 2, 14, 9, 7, 5},   // smaller, odd widths: padded rows
      {"BGRx", 4, 1, 1, 8, 4, 12, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format + std::string(" ") + std::to_string(c.w1) + "->" + std::to_string(c.w2));
    auto first = PatternFrames(3, c.w1, c.h1, c.bpp);
    auto second = PatternFrames(c.columns * c.rows + 1, c.w2, c.h2, c.bpp);
    GstElement* p = gst_parse_launch(("appsrc name=in format=time ! durmix columns=" + std::to_string(c.columns) +
                                      " rows=" + std::to_string(c.rows) + " ! appsink name=out sync=false")
                                         .c_str(),
                                     nullptr);
    ASSERT_NE(p, nullptr);
    GstElement* src = gst_bin_get_by_name(GST_BIN(p), "in");
    GstElement* sink = gst_bin_get_by_name(GST_BIN(p), "out");
    ASSERT_EQ(gst_element_set_state(p, GST_STATE_PLAYING), GST_STATE_CHANGE_ASYNC);
    int pushed = 0;
    auto push = [&](const Bytes& f, const std::string& caps) {
      GstCaps* gc = gst_caps_from_string(caps.c_str());
      g_object_set(src, "caps", gc, nullptr);
      gst_caps_unref(gc);
      vtest::PushFrame(src, f, pushed++);
    };
    for (const Bytes& f : first) push(f, Caps(c.format, c.w1, c.h1));
    for (const Bytes& f : second) push(f, Caps(c.format, c.w2, c.h2));
    g_signal_emit_by_name(src, "end-of-stream", nullptr);
    std::vector<vtest::Frame> got;
    for (;;) {
      GstSample* s = nullptr;
      g_signal_emit_by_name(sink, "try-pull-sample", 10 * GST_SECOND, &s);
      if (!s) break;
      got.push_back(vtest::FrameFromSample(s));
      gst_sample_unref(s);
    }
    EXPECT_EQ(vtest::PendingBusError(p), "");
    gst_element_set_state(p, GST_STATE_NULL);
    gst_object_unref(src);
    gst_object_unref(sink);
    gst_object_unref(p);
    ASSERT_EQ(got.size(), first.size() + second.size());
    for (size_t n = 0; n < first.size(); ++n) EXPECT_EQ(got[n].width, c.w1 * c.columns);
    const vtest::Frame& last = got.back();
    ASSERT_EQ(last.width, c.w2 * c.columns);
    ASSERT_EQ(last.height, c.h2 * c.rows);
    // The last columns x rows frames all have the new size and fill the mosaic.
    const int total = static_cast<int>(got.size());
    for (int k = 0; k < c.columns * c.rows; ++k) {
      const int n = total - k;  // frame number since the filter was created
      EXPECT_TRUE(TileHolds(last, PlaceOf(n, c.columns, c.rows), second[second.size() - 1 - k], c.w2, c.h2))
          << "frame " << n;
    }
  }
}

// The application changes the mode while frames stream, a few milliseconds
// apart: every frame still comes out, each a whole mosaic of some mode, and
// the stream never ends with an error.
TEST_F(DurmixPipeline, ModeChangesFromAnotherThreadNeverEndTheStream) {
  vtest::AppPipeline app("appsrc name=in ! durmix name=d ! appsink name=out", Caps("BGR", 10, 6));
  ASSERT_NE(app.pipeline, nullptr);
  g_object_set(app.src, "max-bytes", guint64{0}, nullptr);
  ComPtr<DurmixInterface> control;
  ASSERT_EQ(QueryElementInterface(app.Element("d"), IID_DurmixInterface, control.put_void()), S_OK);
  ASSERT_EQ(gst_element_set_state(app.pipeline, GST_STATE_PLAYING), GST_STATE_CHANGE_ASYNC);
  constexpr int kFrames = 400;
  std::atomic<bool> done{false};
  std::thread modes([&] {
    const int table[][2] = {{6, 4}, {1, 1}, {3, 2}, {2, 1}, {5, 4}, {2, 2}, {4, 3}};
    for (int i = 0; !done; ++i) {
      control->SetMode(0, table[i % 7][0], table[i % 7][1]);
      g_usleep(i % 3 == 0 ? 0 : 1000);
    }
  });
  auto frames = PatternFrames(1, 10, 6, 3);
  int out = 0;
  for (int n = 0; n < kFrames; ++n) {
    vtest::PushFrame(app.src, frames[0], n);
    GstSample* s = vtest::PullSample(app.sink, 10);
    if (!s) break;
    int w = 0, h = 0;
    vtest::SampleSize(s, &w, &h);
    EXPECT_TRUE(w % 10 == 0 && h % 6 == 0 && w / 10 <= 6 && h / 6 <= 4) << w << " x " << h;
    EXPECT_EQ(gst_buffer_get_size(gst_sample_get_buffer(s)), static_cast<gsize>(vtest::GstStride(w, 3) * h));
    gst_sample_unref(s);
    ++out;
  }
  done = true;
  modes.join();
  EXPECT_EQ(vtest::PendingBusError(app.pipeline), "");
  EXPECT_EQ(out, kFrames);
}

TEST_F(DurmixPipeline, RefusesSixteenBitVideo) {
  auto r = RunPipeline("appsrc name=in ! durmix ! appsink name=out", Caps("RGB16", 8, 4), {Bytes(64, 0)});
  EXPECT_TRUE(r.frames.empty());
  EXPECT_NE(r.error.find("Vireo Frame Multiplicator refuses the video format"), std::string::npos) << r.error;
}

TEST_F(DurmixPipeline, CreatedByClassIdentifier) {
  HRESULT hr = E_FAIL;
  GstElement* e = CreateElementByClsid(CLSID_Durmix, nullptr, &hr);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(hr, S_OK);
  gst_object_ref_sink(e);
  GstElementFactory* factory = gst_element_get_factory(e);
  EXPECT_STREQ(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)), "durmix");
  EXPECT_STREQ(gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_LONGNAME), "Vireo Frame Multiplicator");
  EXPECT_EQ(gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(factory)), GST_RANK_NONE);
  ComPtr<DurmixInterface> control;
  EXPECT_EQ(QueryElementInterface(e, IID_DurmixInterface, control.put_void()), S_OK);
  ComPtr<ISpecifyPropertyPages> pages;
  EXPECT_EQ(QueryElementInterface(e, IID_ISpecifyPropertyPages, pages.put_void()), S_OK);
  control.reset();
  pages.reset();
  gst_object_unref(e);
}
