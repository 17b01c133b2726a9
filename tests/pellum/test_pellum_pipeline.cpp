// pellum in real pipelines: a synthetic capsule clip labelled "MIL " plays
// through decodebin and playbin with pellum inserted automatically, and its
// frames equal those of the same clip labelled Motion JPEG.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <gst/app/gstappsink.h>

#include "filterhost/interfaces.h"
#include "filterhost/lookup.h"
#include "gst_pipeline.h"

using namespace fh;
using vtest::RunPipeline;

namespace {

// The same synthetic clip of 50 frames, labelled "MIL " and "MJPG".
struct Clips {
  std::string mil, mjpg;
};
const Clips& TestClips() {
  static const Clips clips = [] {
    Clips c{vtest::TempPath("vendor.avi"), vtest::TempPath("mjpg.avi")};
    const std::string tool = std::string(std::getenv("VIREO_BIN_DIR")) + "/vireo-synthclip ";
    vtest::RunCommand(tool + c.mil + " --frames 50 --fourcc MIL 2>&1");
    vtest::RunCommand(tool + c.mjpg + " --frames 50 2>&1");
    return c;
  }();
  return clips;
}

// Records the factory of every element added anywhere in a pipeline.
struct Plugged {
  std::mutex lock;
  std::set<std::string> factories;
  std::function<void(GstElement*)> Watch() {
    return [this](GstElement* pipeline) {
      g_signal_connect(pipeline, "deep-element-added", G_CALLBACK(+[](GstBin*, GstBin*, GstElement* e, gpointer self) {
                         GstElementFactory* f = gst_element_get_factory(e);
                         if (!f) return;
                         auto* p = static_cast<Plugged*>(self);
                         std::lock_guard<std::mutex> guard(p->lock);
                         p->factories.insert(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(f)));
                       }),
                       this);
    };
  }
  bool Has(const std::string& name) {
    std::lock_guard<std::mutex> guard(lock);
    return factories.count(name) > 0;
  }
};

// The bytes and times of every buffer reaching the appsink "out". (Encoded
// buffers are copied as they are, whatever their caps say of a size.)
struct Buffer {
  std::vector<std::uint8_t> data;
  GstClockTime pts;
};
std::vector<Buffer> CollectBuffers(const std::string& description) {
  std::vector<Buffer> buffers;
  GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
  if (!pipeline) return buffers;
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
  g_object_set(sink, "sync", FALSE, nullptr);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 30 * GST_SECOND)) {
    GstBuffer* buf = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (gst_buffer_map(buf, &map, GST_MAP_READ)) {
      buffers.push_back({std::vector<std::uint8_t>(map.data, map.data + map.size), GST_BUFFER_PTS(buf)});
      gst_buffer_unmap(buf, &map);
    }
    gst_sample_unref(sample);
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(sink);
  gst_object_unref(pipeline);
  return buffers;
}

class PellumPipeline : public ::testing::Test {
 protected:
  void SetUp() override {
    vtest::InitGst();
    ASSERT_NE(std::getenv("VIREO_BIN_DIR"), nullptr);
  }
};

}  // namespace

TEST_F(PellumPipeline, SamplesPassBitForBitAsMotionJpeg) {
  const Clips& clips = TestClips();
  auto vendor = CollectBuffers("filesrc location=" + clips.mil + " ! avidemux ! pellum ! appsink name=out");
  auto plain = CollectBuffers("filesrc location=" + clips.mjpg + " ! avidemux ! appsink name=out");
  ASSERT_EQ(vendor.size(), 50u);
  ASSERT_EQ(plain.size(), 50u);
  for (size_t i = 0; i < 50; ++i) {
    EXPECT_EQ(vendor[i].data, plain[i].data) << "frame " << i;
    EXPECT_EQ(vendor[i].pts, plain[i].pts) << "frame " << i;
  }
  ASSERT_GT(vendor[0].data.size(), 2u);
  EXPECT_EQ(vendor[0].data[0], 0xFF);  // a JPEG start-of-image marker
  EXPECT_EQ(vendor[0].data[1], 0xD8);
}

TEST_F(PellumPipeline, OutputCapsAreMotionJpeg) {
  auto r = RunPipeline("filesrc location=" + TestClips().mil +
                       " ! avidemux ! pellum ! image/jpeg ! jpegdec ! videoconvert ! video/x-raw,format=BGR ! "
                       "appsink name=out");
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.frames.size(), 50u);
  EXPECT_EQ(r.frames[0].width, 256);
  EXPECT_EQ(r.frames[0].height, 256);
}

TEST_F(PellumPipeline, DecodebinInsertsPellumAndDecodesTheSameFrames) {
  const Clips& clips = TestClips();
  const std::string tail = " ! decodebin ! videoconvert ! video/x-raw,format=BGR ! appsink name=out";
  Plugged plugged;
  auto vendor = RunPipeline("filesrc location=" + clips.mil + tail, "", {}, 120, plugged.Watch());
  auto plain = RunPipeline("filesrc location=" + clips.mjpg + tail);
  ASSERT_EQ(vendor.error, "");
  ASSERT_EQ(plain.error, "");
  EXPECT_TRUE(plugged.Has("pellum"));
  EXPECT_TRUE(plugged.Has("jpegdec"));
  ASSERT_EQ(vendor.frames.size(), 50u);
  ASSERT_EQ(plain.frames.size(), 50u);
  for (size_t i = 0; i < 50; ++i) EXPECT_EQ(vendor.frames[i].data, plain.frames[i].data) << "frame " << i;
}

// As gst-play-1.0 plays a file: playbin, no options.
TEST_F(PellumPipeline, PlaybinPlaysTheVendorClip) {
  Plugged plugged;
  auto r = RunPipeline("playbin uri=file://" + TestClips().mil + " video-sink=fakesink audio-sink=fakesink", "", {},
                       120, plugged.Watch());
  EXPECT_EQ(r.error, "");
  EXPECT_TRUE(r.eos);
  EXPECT_TRUE(plugged.Has("pellum"));
}

TEST_F(PellumPipeline, MotionJpegClipIsRefused) {
  auto r = RunPipeline("filesrc location=" + TestClips().mjpg + " ! avidemux ! pellum ! appsink name=out");
  EXPECT_TRUE(r.frames.empty());
  EXPECT_NE(r.error, "");
}

TEST_F(PellumPipeline, RegisteredForAutoplugging) {
  GstElementFactory* factory = gst_element_factory_find("pellum");
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(factory)), GST_RANK_MARGINAL);
  EXPECT_STREQ(gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_LONGNAME), "Vireo PELLUM");
  EXPECT_TRUE(gst_element_factory_list_is_type(factory, GST_ELEMENT_FACTORY_TYPE_DECODABLE));
  // The demuxer's caps carry only the FOURCC; decodebin wants them to be a
  // subset of the sink template.
  GstCaps* demuxed = gst_caps_from_string("video/x-avi-unknown, fourcc=(int)541870413");
  GstCaps* other = gst_caps_from_string("video/x-avi-unknown, fourcc=(int)1196444237");
  GList* all = gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_DECODABLE, GST_RANK_MARGINAL);
  GList* forVendor = gst_element_factory_list_filter(all, demuxed, GST_PAD_SINK, TRUE);
  GList* forOther = gst_element_factory_list_filter(all, other, GST_PAD_SINK, TRUE);
  EXPECT_NE(g_list_find(forVendor, factory), nullptr);
  EXPECT_EQ(g_list_find(forOther, factory), nullptr);
  gst_plugin_feature_list_free(forVendor);
  gst_plugin_feature_list_free(forOther);
  gst_plugin_feature_list_free(all);
  gst_caps_unref(demuxed);
  gst_caps_unref(other);

  GstElement* e = CreateElementByClsid(CLSID_NullInPlace, nullptr, nullptr);
  ASSERT_NE(e, nullptr);
  gst_object_ref_sink(e);
  EXPECT_EQ(gst_element_get_factory(e), factory);
  ComPtr<IUnknown> nullipp;
  EXPECT_EQ(QueryElementInterface(e, IID_INullIPP, nullipp.put_void()), S_OK);
  nullipp.reset();
  gst_object_unref(e);
  gst_object_unref(factory);
}
