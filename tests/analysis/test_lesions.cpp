// What the classifiers flag on synthetic capsule clips with and without
// rendered lesions. Prints the counts; asserts only what must hold whatever
// the tables detect.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "ostrel/analysis/analiza_detektor.h"
#include "tools/synthclip/renderer.h"

namespace {

using ostrel::CAnalizaDetektor;
namespace synth = vireo::synth;

constexpr int kFrames = 400;
constexpr int kLabels[] = {CAnalizaDetektor::kBlood1, CAnalizaDetektor::kUlcer1, CAnalizaDetektor::kUlcer2,
                           CAnalizaDetektor::kBlood2};

struct Tally {
  int frames = 0;
  int flagged[CAnalizaDetektor::kFlagCount] = {};
  int anyFlag = 0;
};

TEST(AnalysisLesions, SyntheticClipReport) {
  struct Clip {
    const char* name;
    unsigned lesions;
    std::uint32_t seed;
  };
  const Clip clips[] = {{"no lesions", 0, 11}, {"bleeding", synth::kBleeding, 12}, {"ulcer", synth::kUlcer, 13}};
  std::printf("%-11s %-12s %6s %7s %7s %7s %7s %7s\n", "clip", "frames", "count", "Blood1", "Ulcer1", "Ulcer2",
              "Blood2", "any");
  for (const Clip& clip : clips) {
    synth::SynthOptions options;
    options.seed = clip.seed;
    options.lesions = clip.lesions;
    synth::TunnelRenderer renderer(options);
    const int size = renderer.Size();
    const int stride = (3 * size + 3) & ~3;
    std::vector<std::uint8_t> topDown(static_cast<std::size_t>(stride) * size);
    std::vector<std::uint8_t> bottomUp(topDown.size());
    std::vector<std::uint8_t> channel(static_cast<std::size_t>(size) * size);
    CAnalizaDetektor engine(size, size);
    Tally withLesion, without;
    for (int frame = 0; frame < kFrames; ++frame) {
      const unsigned visible = renderer.RenderFrame(frame, topDown.data(), stride);
      for (int y = 0; y < size; ++y)  // the pipeline hands frames over bottom-up
        std::copy_n(&topDown[static_cast<std::size_t>(y) * stride], stride,
                    &bottomUp[static_cast<std::size_t>(size - 1 - y) * stride]);
      engine.AnalyzeFrame(stride, bottomUp.data(), channel.data());
      Tally& t = (visible & clip.lesions) ? withLesion : without;
      ++t.frames;
      bool any = false;
      for (int label = 0; label < CAnalizaDetektor::kFlagCount; ++label)
        if (engine.FrameShows(static_cast<CAnalizaDetektor::Flag>(label))) {
          ++t.flagged[label];
          any = true;
        }
      t.anyFlag += any;
    }
    for (const auto& [tally, what] : {std::pair{&withLesion, "with lesion"}, std::pair{&without, "without"}}) {
      std::printf("%-11s %-12s %6d", clip.name, what, tally->frames);
      for (int label : kLabels) std::printf(" %7d", tally->flagged[label]);
      std::printf(" %7d\n", tally->anyFlag);
      EXPECT_EQ(tally->flagged[CAnalizaDetektor::kUlcer3], 0);
      EXPECT_EQ(tally->flagged[CAnalizaDetektor::kPatho1], 0);
      EXPECT_EQ(tally->flagged[CAnalizaDetektor::kBlood3], 0);
    }
    if (clip.lesions != 0) {
      EXPECT_GT(withLesion.frames, 0) << clip.name << ": no frame shows its lesion";
    }
  }
}

}  // namespace
