// Thumbnails: the grabber's pictures equal the clip's frames decoded by a
// separate pipeline; the loader hands them over without blocking and says
// which frames cannot be shown.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QGuiApplication>
#include <QTimer>
#include <cstdlib>
#include <map>

#include "clips.h"
#include "frame_grabber.h"
#include "gst_pipeline.h"
#include "player/graph.h"
#include "thumbnail_loader.h"

namespace {

constexpr int kSize = 64;
constexpr int kFrames = 120;

QGuiApplication& App() {
  static int argc = 1;
  static char name[] = "test_review_thumbnails";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = [] {
    vireo::InitGraphLayer(nullptr);
    return new QGuiApplication(argc, argv);
  }();
  return *app;
}

// Every frame of the clip, decoded by a pipeline of the test's own.
const std::vector<vtest::Frame>& DecodedFrames(const std::string& clip) {
  static std::map<std::string, std::vector<vtest::Frame>> decoded;
  auto& frames = decoded[clip];
  if (frames.empty())
    frames = vtest::RunPipeline("filesrc location=\"" + clip +
                                "\" ! decodebin ! videoconvert ! video/x-raw,format=BGRx ! appsink name=out sync=false")
                 .frames;
  return frames;
}

// Largest difference of any colour of any pixel between a picture and a
// decoded frame of the same size.
int LargestDifference(const QImage& picture, const vtest::Frame& frame) {
  const QImage image = picture.convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(image.width(), frame.width);
  EXPECT_EQ(image.height(), frame.height);
  int largest = 0;
  for (int y = 0; y < std::min(image.height(), frame.height); ++y)
    for (int x = 0; x < std::min(image.width(), frame.width); ++x) {
      const QRgb p = image.pixel(x, y);
      const std::uint8_t* f = frame.Pixel(x, y);
      largest = std::max({largest, std::abs(qBlue(p) - f[0]), std::abs(qGreen(p) - f[1]), std::abs(qRed(p) - f[2])});
    }
  return largest;
}

TEST(Thumbnails, GrabbedFramesEqualTheSeparatelyDecodedOnes) {
  App();
  for (const char* ext : {".avi", ".mov"}) {
    SCOPED_TRACE(ext);
    const std::string clip = ptest::Clip(ext, kFrames, kSize);
    ASSERT_FALSE(clip.empty());
    const auto& decoded = DecodedFrames(clip);
    ASSERT_EQ(decoded.size(), static_cast<std::size_t>(kFrames));
    vireo::FrameGrabber grabber;
    std::string error;
    ASSERT_TRUE(grabber.Open(clip, &error)) << error;
    EXPECT_EQ(grabber.Frames(), kFrames);
    // Out of order, repeated and at both ends, as findings lists are.
    for (std::int64_t frame : {77, 0, 119, 3, 77, 40}) {
      SCOPED_TRACE(frame);
      const QImage picture = grabber.Grab(frame, QSize(kSize, kSize), &error);
      ASSERT_FALSE(picture.isNull()) << error;
      EXPECT_LE(LargestDifference(picture, decoded[frame]), 3);
      // Frames of a synthetic clip differ from their neighbours by far more.
      EXPECT_GT(LargestDifference(picture, decoded[frame == 0 ? 1 : frame - 1]), 20);
    }
    const QImage small = grabber.Grab(50, QSize(32, 32), &error);
    ASSERT_EQ(small.size(), QSize(32, 32));
    const QImage separate = QImage(decoded[50].data.data(), kSize, kSize, decoded[50].stride, QImage::Format_RGB32)
                                .scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    vtest::Frame scaled{32, 32, 32 * 4, "BGRx", {}};
    for (int y = 0; y < 32; ++y)
      scaled.data.insert(scaled.data.end(), separate.constScanLine(y), separate.constScanLine(y) + 32 * 4);
    EXPECT_LE(LargestDifference(small, scaled), 3);
    for (std::int64_t frame : {std::int64_t{kFrames}, std::int64_t{kFrames + 1000}, std::int64_t{-1}}) {
      EXPECT_TRUE(grabber.Grab(frame, QSize(kSize, kSize), &error).isNull());
      EXPECT_EQ(error, "past the end of the clip");
    }
  }
}

TEST(Thumbnails, LoaderAnswersAtOnceAndDeliversEveryFrameLater) {
  App();
  const std::string clip = ptest::Clip(".avi", kFrames, kSize);
  const auto& decoded = DecodedFrames(clip);
  vireo::ThumbnailLoader loader(QSize(kSize, kSize));
  std::map<std::int64_t, QImage> delivered;
  QObject::connect(&loader, &vireo::ThumbnailLoader::ready,
                   [&](qint64 frame, const QImage& image) { delivered[frame] = image; });
  loader.SetClip(QString::fromStdString(clip));
  const std::vector<std::int64_t> frames = {5, 60, 118, 60, 500};
  for (std::int64_t frame : frames) EXPECT_TRUE(loader.Thumbnail(frame).isNull()) << "nothing decoded yet";
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (delivered.size() == 4) loop.quit();
  });
  poll.start(10);
  QTimer::singleShot(20000, &loop, &QEventLoop::quit);
  loop.exec();
  ASSERT_EQ(delivered.size(), 4u);
  EXPECT_TRUE(delivered[500].isNull()) << "past the end";
  for (std::int64_t frame : {5, 60, 118}) {
    ASSERT_FALSE(delivered[frame].isNull());
    EXPECT_LE(LargestDifference(delivered[frame], decoded[frame]), 3);
    EXPECT_EQ(loader.Thumbnail(frame), delivered[frame]) << "kept once decoded";
  }
}

}  // namespace
