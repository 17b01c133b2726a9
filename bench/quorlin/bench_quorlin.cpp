// The MDR filter's work per frame at the default parameters: fit, map step
// and drawing, on rendered 256 x 256 capsule frames, by look mode.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "quorlin.h"
#include "tools/synthclip/renderer.h"

using namespace fh;

namespace {

constexpr int kSize = 256, kFrames = 64;

std::vector<std::vector<std::uint8_t>> Frames() {
  vireo::synth::SynthOptions options;
  vireo::synth::TunnelRenderer renderer(options);
  std::vector<std::vector<std::uint8_t>> frames;
  for (int n = 0; n < kFrames; ++n) {
    std::vector<std::uint8_t> f(static_cast<std::size_t>(DibStride(kSize, 24)) * kSize);
    renderer.RenderFrame(n, f.data(), DibStride(kSize, 24));
    frames.push_back(std::move(f));
  }
  return frames;
}

CMediaType Rgb24() { return VideoInfoType(MEDIASUBTYPE_RGB24, kSize, kSize, 24); }

void Transform(benchmark::State& state) {
  static const auto frames = Frames();
  const std::string map = (std::filesystem::temp_directory_path() / "vireo-bench-quorlin.bmp").string();
  auto* filter = new quorlin::CQuorlin(nullptr);
  filter->NonDelegatingAddRef();
  CExternalPin upstream("upstream", PINDIR_OUTPUT);
  const CMediaType type = Rgb24();
  filter->GetPin(0)->Connect(&upstream, type);
  filter->SetFileName(map.c_str());
  GRID_LOOK look{};
  filter->GetLook(&look);
  look.Mode = static_cast<std::int32_t>(state.range(0));
  filter->SetLook(&look);
  std::vector<std::uint8_t> frame;
  CMediaSample sample;
  std::size_t n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    frame = frames[n++ % frames.size()];
    sample.Reset(frame.data(), static_cast<long>(frame.size()), static_cast<long>(frame.size()));
    state.ResumeTiming();
    if (filter->Transform(&sample) != S_OK) state.SkipWithError("Transform failed");
  }
  state.SetItemsProcessed(state.iterations());
  filter->GetPin(0)->Disconnect();
  filter->NonDelegatingRelease();
  std::filesystem::remove(map);
}
BENCHMARK(Transform)->ArgName("look")->Arg(0)->Arg(1)->Arg(3)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
