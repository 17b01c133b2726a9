// The frame-capture filter: arming, the bitmap file for bottom-up and
// top-down frames, the callback, and the capture as a GStreamer element, with
// every file read back by an independent reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "filterhost/lookup.h"
#include "gst_pipeline.h"
#include "kelbit/kelbit.h"

using namespace fh;
using kelbit::CKelbitFilter;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

CMediaType Rgb(int width, int height, const GUID& subtype = MEDIASUBTYPE_RGB24, int bits = 24) {
  return VideoInfoType(subtype, width, height, static_cast<WORD>(bits));
}

// A picture of `width` x `height` pixels as rows top first, each padded to 4
// bytes (padding left 0), whose pixels encode position and `seed`.
Bytes Picture(int width, int height, int seed) {
  const int stride = DibStride(width, 24);
  Bytes p(static_cast<size_t>(stride) * height, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      std::uint8_t* px = p.data() + y * stride + 3 * x;
      px[0] = static_cast<std::uint8_t>(13 * x + seed);
      px[1] = static_cast<std::uint8_t>(29 * y + 1);
      px[2] = static_cast<std::uint8_t>(seed * 5 + x * y);
    }
  return p;
}

// The same rows in the other order.
Bytes Flipped(const Bytes& rows, int height) {
  const size_t stride = rows.size() / height;
  Bytes out(rows.size());
  for (int y = 0; y < height; ++y)
    std::memcpy(out.data() + y * stride, rows.data() + (height - 1 - y) * stride, stride);
  return out;
}

// Top-down unpadded pixels of a top-first padded picture.
Bytes Unpadded(const Bytes& rows, int width, int height) {
  const size_t stride = rows.size() / height;
  Bytes out;
  for (int y = 0; y < height; ++y)
    out.insert(out.end(), rows.begin() + y * stride, rows.begin() + y * stride + 3 * width);
  return out;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What the independent reader made of a bitmap file.
struct Decoded {
  std::string header;  // "width height bfSize", or the reader's complaint
  Bytes pixels;        // top-down, unpadded
};
Decoded ReadWithPython(const std::string& bmp) {
  const std::string raw = bmp + ".raw";
  const std::string cmd = "python3 " KELBIT_BMP_READER " '" + bmp + "' '" + raw + "' 2>&1";
  Decoded d;
  d.header = vtest::RunCommand(cmd).output;
  while (!d.header.empty() && d.header.back() == '\n') d.header.pop_back();
  d.pixels = ReadFile(raw);
  return d;
}

std::string Dir(const std::string& name) {
  const std::string dir = vtest::TempPath(name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// Callback results: whole files written, and failures with their reason.
std::atomic<int> g_calls{0};
std::atomic<int> g_otherCalls{0};
std::atomic<int> g_failures{0};
std::string g_reason;
void CountCall(HRESULT result, const char* reason) {
  if (SUCCEEDED(result) && !reason) {
    ++g_calls;
  } else {
    ++g_failures;
    g_reason = reason ? reason : "";
  }
}
void CountOtherCall(HRESULT, const char*) { ++g_otherCalls; }

// A filter with its input connected to `type`; released at the end.
struct Rig {
  CKelbitFilter* filter = new CKelbitFilter(nullptr);
  CExternalPin up{"up", PINDIR_OUTPUT};
  explicit Rig(const CMediaType& type) {
    filter->NonDelegatingAddRef();
    connected = filter->GetPin(0)->Connect(&up, type);
  }
  ~Rig() {
    filter->GetPin(0)->Disconnect();
    filter->NonDelegatingRelease();
  }
  HRESULT Pass(Bytes& frame, long length = -1) {
    sample.Reset(frame.data(), static_cast<long>(frame.size()), length < 0 ? static_cast<long>(frame.size()) : length);
    return filter->Transform(&sample);
  }
  HRESULT connected;
  CMediaSample sample;
};

}  // namespace

TEST(KelbitFilter, AcceptsOnly24BitRgb) {
  Rig rig(Rgb(4, 4));
  EXPECT_EQ(rig.connected, S_OK);
  CMediaType rgb32 = Rgb(4, 4, MEDIASUBTYPE_RGB32, 32), wrongBits = Rgb(4, 4, MEDIASUBTYPE_RGB24, 32);
  CMediaType other = Rgb(4, 4), mjpg = Rgb(4, 4, MEDIASUBTYPE_MJPG, 24);
  other.SetFormatType(&FORMAT_VideoInfo2);
  for (CMediaType* mt : {&rgb32, &wrongBits, &other, &mjpg})
    EXPECT_EQ(rig.filter->CheckInputType(mt), VFW_E_TYPE_NOT_ACCEPTED) << DescribeMediaType(*mt);
  EXPECT_EQ(rig.filter->CheckInputType(nullptr), E_POINTER);
  Rig refused(rgb32);
  EXPECT_EQ(refused.connected, VFW_E_TYPE_NOT_ACCEPTED);
}

TEST(KelbitFilter, UnarmedFramesPassAndNothingIsWritten) {
  const std::string dir = Dir("unarmed");
  Rig rig(Rgb(5, 3));
  rig.filter->SetCaptureCallback(CountCall);
  g_calls = 0;
  Bytes frame = Picture(5, 3, 1);
  const Bytes before = frame;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(rig.Pass(frame), S_OK);
  EXPECT_EQ(frame, before);
  EXPECT_EQ(g_calls, 0);
  // Armed and disarmed again by an empty name.
  rig.filter->SetCaptureFile((dir + "/x.bmp").c_str());
  rig.filter->SetCaptureFile("");
  EXPECT_EQ(rig.Pass(frame), S_OK);
  EXPECT_TRUE(fs::is_empty(dir));
  EXPECT_EQ(rig.filter->Transform(nullptr), E_POINTER);
}

TEST(KelbitFilter, OneArmingWritesTheNextFrameOnceAndCallsBack) {
  const std::string dir = Dir("once");
  const std::string path = dir + "/frame.bmp";
  Rig rig(Rgb(5, 3));  // 15 bytes of pixels per row, padded to 16
  g_calls = 0;
  rig.filter->SetCaptureCallback(CountCall);
  rig.filter->SetCaptureFile(path.c_str());
  Bytes first = Picture(5, 3, 1), second = Picture(5, 3, 2);
  const Bytes sent = first;
  EXPECT_EQ(rig.Pass(first), S_OK);
  EXPECT_EQ(first, sent);  // only read
  EXPECT_EQ(g_calls, 1);
  const Bytes written = ReadFile(path);
  EXPECT_EQ(rig.Pass(second), S_OK);
  EXPECT_EQ(ReadFile(path), written);
  EXPECT_EQ(g_calls, 1);

  ASSERT_EQ(written.size(), 54u + 48u);
  EXPECT_EQ(written[0], 'B');
  EXPECT_EQ(written[1], 'M');
  auto u32 = [&](size_t at) {
    return static_cast<std::uint32_t>(written[at] | written[at + 1] << 8 | written[at + 2] << 16 |
                                      written[at + 3] << 24);
  };
  EXPECT_EQ(u32(2), 102u);  // bfSize
  EXPECT_EQ(u32(6), 0u);    // reserved
  EXPECT_EQ(u32(10), 54u);  // bfOffBits
  EXPECT_EQ(u32(14), 40u);
  EXPECT_EQ(u32(18), 5u);
  EXPECT_EQ(u32(22), 3u);
  EXPECT_EQ(u32(34), 48u);  // biSizeImage
  // The frame's bytes as they were, bottom row first (the frame is bottom-up).
  EXPECT_TRUE(std::equal(sent.begin(), sent.end(), written.begin() + 54));

  const Decoded d = ReadWithPython(path);
  EXPECT_EQ(d.header, "5 3 102");
  EXPECT_EQ(d.pixels, Unpadded(Flipped(sent, 3), 5, 3));
}

TEST(KelbitFilter, TopDownFrameGivesTheSameFileAsBottomUp) {
  const std::string dir = Dir("topdown");
  const Bytes picture = Picture(7, 4, 3);  // top row first
  Rig bottomUp(Rgb(7, 4)), topDown(Rgb(7, -4));
  ASSERT_EQ(topDown.connected, S_OK);
  Bytes up = Flipped(picture, 4), down = picture;
  bottomUp.filter->SetCaptureFile((dir + "/up.bmp").c_str());
  topDown.filter->SetCaptureFile((dir + "/down.bmp").c_str());
  ASSERT_EQ(bottomUp.Pass(up), S_OK);
  ASSERT_EQ(topDown.Pass(down), S_OK);
  const Bytes a = ReadFile(dir + "/up.bmp"), b = ReadFile(dir + "/down.bmp");
  ASSERT_EQ(a.size(), 54u + 4 * 24);
  EXPECT_EQ(a, b);
  // The connection keeps its top-down format.
  EXPECT_EQ(topDown.filter->GetPin(0)->CurrentMediaType().VideoInfo()->bmiHeader.biHeight, -4);
  const Decoded d = ReadWithPython(dir + "/down.bmp");
  EXPECT_EQ(d.header, "7 4 150");
  EXPECT_EQ(d.pixels, Unpadded(picture, 7, 4));
}

TEST(KelbitFilter, APathLongerThan2047CharactersIsRefusedNotCut) {
  // Folders of 200 characters, then a file name that brings the path to 2047.
  std::string folder = Dir("long");
  while (folder.size() < 1800) folder += "/" + std::string(200, 'd');
  fs::create_directories(folder);
  const std::string fits = folder + "/" + std::string(2047 - folder.size() - 1, 'f');
  ASSERT_EQ(fits.size(), 2047u);

  Rig rig(Rgb(2, 2));
  char armed[2048];
  EXPECT_EQ(rig.filter->SetCaptureFile((fits + "g").c_str()), E_INVALIDARG);
  rig.filter->GetCaptureFile(armed);
  EXPECT_STREQ(armed, "");
  Bytes frame = Picture(2, 2, 4);
  ASSERT_EQ(rig.Pass(frame), S_OK);
  EXPECT_FALSE(fs::exists(fits)) << "the cut name was written";

  EXPECT_EQ(rig.filter->SetCaptureFile(fits.c_str()), S_OK);
  ASSERT_EQ(rig.Pass(frame), S_OK);
  EXPECT_EQ(ReadFile(fits).size(), 54u + 16u);
}

TEST(KelbitFilter, NullCallbackKeepsTheEarlierOne) {
  const std::string dir = Dir("callback");
  Rig rig(Rgb(2, 2));
  g_calls = 0;
  g_otherCalls = 0;
  rig.filter->SetCaptureCallback(CountOtherCall);
  rig.filter->SetCaptureCallback(CountCall);
  EXPECT_EQ(rig.filter->SetCaptureCallback(nullptr), S_OK);
  rig.filter->SetCaptureFile((dir + "/a.bmp").c_str());
  Bytes frame = Picture(2, 2, 1);
  ASSERT_EQ(rig.Pass(frame), S_OK);
  EXPECT_EQ(g_calls, 1);
  EXPECT_EQ(g_otherCalls, 0);
}

TEST(KelbitFilter, FileThatCannotBeCreatedDisarmsAndCallsBackWithTheReason) {
  const std::string dir = Dir("missing");
  Rig rig(Rgb(2, 2));
  g_calls = 0;
  g_failures = 0;
  rig.filter->SetCaptureCallback(CountCall);
  rig.filter->SetCaptureFile((dir + "/no/such/folder/a.bmp").c_str());
  Bytes frame = Picture(2, 2, 1);
  EXPECT_EQ(rig.Pass(frame), S_OK);
  EXPECT_EQ(g_calls, 0);
  EXPECT_EQ(g_failures, 1);
  EXPECT_NE(g_reason.find("No such file or directory"), std::string::npos) << g_reason;
  char armed[2048];
  rig.filter->GetCaptureFile(armed);
  EXPECT_STREQ(armed, "");
  EXPECT_TRUE(fs::is_empty(dir));
}

// A format whose image size was left 0 still gives a complete, consistent
// file; a sample shorter than the frame is never read past its end and gives
// no file at all (a header would claim rows the file lacks) and a failed
// callback.
TEST(KelbitFilter, ImageSizeComesFromTheFrameAndNothingIsReadPastTheSample) {
  const std::string dir = Dir("sizes");
  CMediaType zero = Rgb(5, 3);
  zero.VideoInfo()->bmiHeader.biSizeImage = 0;
  Rig rig(zero);
  rig.filter->SetCaptureFile((dir + "/zero.bmp").c_str());
  Bytes frame = Picture(5, 3, 2);
  ASSERT_EQ(rig.Pass(frame), S_OK);
  const Decoded d = ReadWithPython(dir + "/zero.bmp");
  EXPECT_EQ(d.header, "5 3 102");
  EXPECT_EQ(d.pixels, Unpadded(Flipped(frame, 3), 5, 3));

  for (int height : {3, -3}) {
    Rig shortRig(Rgb(5, height));
    const std::string name = dir + "/short" + std::to_string(height) + ".bmp";
    shortRig.filter->SetCaptureFile(name.c_str());
    shortRig.filter->SetCaptureCallback(CountCall);
    g_calls = 0;
    g_failures = 0;
    Bytes part(40, 9);  // two and a half rows of 16 bytes
    ASSERT_EQ(shortRig.Pass(part), S_OK);
    EXPECT_FALSE(fs::exists(name)) << height;
    EXPECT_EQ(g_calls, 0) << height;
    EXPECT_EQ(g_failures, 1) << height;
    EXPECT_EQ(g_reason, "the sample does not hold the whole frame");
  }
}

// Names armed from another thread while frames pass are always written
// whole: never a file under a mixture of two names.
TEST(KelbitFilter, NameHandOverBetweenThreadsIsWhole) {
  const std::string dir = Dir("threads");
  const std::string a = dir + "/" + std::string(200, 'a'), b = dir + "/" + std::string(200, 'b');
  Rig rig(Rgb(2, 2));
  std::atomic<bool> done{false};
  std::thread armer([&] {
    for (int i = 0; i < 4000; ++i) rig.filter->SetCaptureFile((i % 2 ? a : b).c_str());
    done = true;
  });
  Bytes frame = Picture(2, 2, 1);
  while (!done) rig.Pass(frame);
  armer.join();
  rig.Pass(frame);
  int files = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    ++files;
    EXPECT_TRUE(entry.path().string() == a || entry.path().string() == b) << entry.path();
  }
  EXPECT_GE(files, 1);
}

// ---- as a GStreamer element

namespace {

class KelbitPipeline : public ::testing::Test {
 protected:
  void SetUp() override { vtest::InitGst(); }
};

}  // namespace

TEST_F(KelbitPipeline, CaptureFilePropertySavesTheFirstFrame) {
  const std::string dir = Dir("launch");
  const std::string path = dir + "/first.bmp";
  constexpr int kW = 11, kH = 5;
  std::vector<Bytes> frames;
  for (int n = 1; n <= 3; ++n) frames.push_back(Picture(kW, kH, n));  // GStreamer rows: top first, padded to 4
  auto r = vtest::RunPipeline("appsrc name=in ! kelbit capture-file=" + path + " ! appsink name=out",
                              "video/x-raw,format=BGR,width=11,height=5,framerate=25/1", frames);
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.frames.size(), 3u);
  for (size_t n = 0; n < 3; ++n) EXPECT_EQ(r.frames[n].data, frames[n]) << "frame " << n;  // passed unchanged
  const Decoded d = ReadWithPython(path);
  EXPECT_EQ(d.header, "11 5 " + std::to_string(54 + 36 * kH));
  EXPECT_EQ(d.pixels, Unpadded(frames[0], kW, kH));
  int bitmaps = 0;
  for (const auto& entry : fs::directory_iterator(dir)) bitmaps += entry.path().extension() == ".bmp";
  EXPECT_EQ(bitmaps, 1);
}

TEST_F(KelbitPipeline, RealCapsuleFrameReadsBackIdentical) {
  const char* root = std::getenv("VIREO_DATA_DIR");
  ASSERT_NE(root, nullptr);
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(fs::path(root) / "kvasir-capsule-polyp"))
    if (entry.path().extension() == ".jpg") files.push_back(entry.path().string());
  ASSERT_FALSE(files.empty());
  std::sort(files.begin(), files.end());
  const std::string path = Dir("real") + "/capsule.bmp";
  auto r = vtest::RunPipeline("filesrc location=" + files[0] +
                              " ! jpegdec ! videoconvert ! kelbit capture-file=" + path + " ! appsink name=out");
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.frames.size(), 1u);
  const vtest::Frame& f = r.frames[0];
  EXPECT_EQ(f.format, "BGR");
  const Decoded d = ReadWithPython(path);
  EXPECT_EQ(d.header, std::to_string(f.width) + " " + std::to_string(f.height) + " " +
                          std::to_string(54 + DibStride(f.width, 24) * f.height));
  EXPECT_EQ(d.pixels, Unpadded(f.data, f.width, f.height));
}

TEST_F(KelbitPipeline, RefusesThirtyTwoBitVideo) {
  auto r = vtest::RunPipeline("appsrc name=in ! kelbit ! appsink name=out",
                              "video/x-raw,format=BGRx,width=4,height=2,framerate=25/1", {Bytes(32, 0)});
  EXPECT_TRUE(r.frames.empty());
  EXPECT_NE(r.error.find("Vireo Capture Bitmap refuses the video format"), std::string::npos) << r.error;
}

// The player's way: created by class identifier, armed through the interface
// while the pipeline plays, notified by the callback.
TEST_F(KelbitPipeline, ArmedThroughTheInterfaceWhilePlaying) {
  const std::string dir = Dir("interface");
  GstElement* p = gst_parse_launch("appsrc name=in ! appsink name=out", nullptr);
  ASSERT_NE(p, nullptr);
  HRESULT hr = E_FAIL;
  GstElement* k = CreateElementByClsid(CLSID_KelbitFilter, "k", &hr);
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(hr, S_OK);
  GstElement* src = gst_bin_get_by_name(GST_BIN(p), "in");
  GstElement* sink = gst_bin_get_by_name(GST_BIN(p), "out");
  gst_element_unlink(src, sink);
  gst_bin_add(GST_BIN(p), k);
  ASSERT_TRUE(gst_element_link_many(src, k, sink, nullptr));
  GstCaps* caps = gst_caps_from_string("video/x-raw,format=BGR,width=6,height=4,framerate=25/1");
  g_object_set(src, "caps", caps, "format", GST_FORMAT_TIME, nullptr);
  gst_caps_unref(caps);
  g_object_set(sink, "sync", FALSE, nullptr);
  gst_element_set_state(p, GST_STATE_PLAYING);
  g_calls = 0;
  auto push = [&](int n) {
    vtest::PushFrame(src, Picture(6, 4, n), n);
    GstSample* s = vtest::PullSample(sink, 10);
    ASSERT_NE(s, nullptr);
    gst_sample_unref(s);
  };
  push(1);
  {
    ComPtr<IKelbitFiltInterface> capture;
    ASSERT_EQ(QueryElementInterface(k, IID_IKelbitFiltInterface, capture.put_void()), S_OK);
    capture->SetCaptureFile((dir + "/frame2.bmp").c_str());
    capture->SetCaptureCallback(CountCall);
  }
  gchar* armed = nullptr;
  g_object_get(k, "capture-file", &armed, nullptr);
  EXPECT_EQ(std::string(armed), dir + "/frame2.bmp");
  g_free(armed);
  push(2);
  push(3);
  EXPECT_EQ(g_calls, 1);
  const Decoded d = ReadWithPython(dir + "/frame2.bmp");
  EXPECT_EQ(d.pixels, Unpadded(Picture(6, 4, 2), 6, 4));
  gst_element_set_state(p, GST_STATE_NULL);
  gst_object_unref(src);
  gst_object_unref(sink);
  gst_object_unref(p);
}
