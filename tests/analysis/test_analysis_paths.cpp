// The whole-frame analysis against the one-measurement-at-a-time path on
// rendered capsule frames and on real ones: every feature bit for bit, and
// the flags those features give.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ostrel/analysis/analiza_detektor.h"
#include "schedule.h"
#include "gst_pipeline.h"
#include "tools/synthclip/renderer.h"

namespace {

using ostrel::CAnalizaDetektor;

struct Image {
  int width = 0, height = 0, stride = 0;
  std::vector<std::uint8_t> bytes;
};

Image Rendered(std::int64_t index) {
  vireo::synth::SynthOptions options;
  options.lesions = vireo::synth::kBleeding | vireo::synth::kUlcer;
  vireo::synth::TunnelRenderer renderer(options);
  Image image;
  image.width = image.height = renderer.Size();
  image.stride = (3 * image.width + 3) & ~3;
  image.bytes.resize(static_cast<std::size_t>(image.stride) * image.height);
  renderer.RenderFrame(index, image.bytes.data(), image.stride);
  return image;
}

Image Decode(const std::string& path) {
  vtest::Frame frame = vtest::DecodeImage(path);
  return Image{frame.width, frame.height, frame.stride, std::move(frame.data)};
}

// Analyses `image` whole, with a channel buffer holding `fill` beforehand,
// by `threads` threads, and measures it again slot by slot; both must agree
// exactly.
void ExpectPathsAgree(const Image& image, std::uint8_t fill, const std::string& name, int threads) {
  const std::size_t pixels = static_cast<std::size_t>(image.width) * image.height;
  std::vector<std::uint8_t> channel(pixels, fill);
  CAnalizaDetektor engine(image.width, image.height, threads);
  // Twice: the second frame runs on threads that have waited in between.
  engine.AnalyzeFrame(image.stride, image.bytes.data(), channel.data());
  engine.AnalyzeFrame(image.stride, image.bytes.data(), channel.data());

  CAnalizaDetektor reference(image.width, image.height);
  std::vector<std::uint8_t> full(pixels);
  for (const analysis_test::Scheduled& e : analysis_test::kSchedule) {
    ASSERT_TRUE(reference.ConvertChannel(e.code, image.stride, image.bytes.data(), full.data()));
    for (int b = 0; b < CAnalizaDetektor::kBlocks; ++b) {
      const double want = analysis_test::MeasureScheduled(reference, e, b);
      reference.Features(b)[e.slot] = want;
      ASSERT_EQ(engine.Features(b)[e.slot], want)
          << name << " slot " << e.slot << " block " << b << ", " << threads << " threads";
    }
  }
  reference.ClassifyBlocks();
  for (int b = 0; b < CAnalizaDetektor::kBlocks; ++b)
    ASSERT_EQ(engine.Flags(b), reference.Flags(b)) << name << " block " << b;
}

TEST(AnalysisPaths, RenderedFramesMeasureAsSlotBySlot) {
  // One thread, some threads sharing the channels, more threads than channels.
  for (std::int64_t index : {0, 40, 97, 180})
    for (int threads : {1, 3, 16}) {
      const Image image = Rendered(index);
      ExpectPathsAgree(image, 0x00, "rendered " + std::to_string(index), threads);
      ExpectPathsAgree(image, 0xFF, "rendered " + std::to_string(index), threads);
    }
}

TEST(AnalysisPaths, RealFramesMeasureAsSlotBySlot) {
  const std::vector<std::string> files = vtest::CapsuleFramePaths();
  ASSERT_FALSE(files.empty());
  for (const std::string& file : files) {
    const Image image = Decode(file);
    ASSERT_EQ(image.width, 336) << file;
    ASSERT_EQ(image.height, 336) << file;
    for (int threads : {1, 2}) ExpectPathsAgree(image, 0x5A, file, threads);
    if (HasFailure()) return;
  }
}

}  // namespace
