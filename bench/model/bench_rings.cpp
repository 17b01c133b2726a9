// Fit + map step of the rings model at the default parameters on rendered
// 256 x 256 frames of the synthetic tunnel, one frame per benchmark iteration.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "quorlin/model/map_writer.h"
#include "quorlin/model/params.h"
#include "quorlin/model/rings.h"
#include "tools/synthclip/renderer.h"

namespace {

using namespace quorlin;

constexpr int kFrames = 64;

struct Clip {
  int size = 256;
  int stride = 3 * 256;
  std::vector<std::vector<std::uint8_t>> frames;
  Clip() {
    vireo::synth::SynthOptions options;
    options.size = size;
    const vireo::synth::TunnelRenderer renderer(options);
    for (int f = 0; f < kFrames; ++f) {
      frames.emplace_back(static_cast<std::size_t>(stride) * size);
      renderer.RenderFrame(f, frames.back().data(), stride);
    }
  }
  FrameView View(int f) const { return FrameView{frames[f].data(), size, size, stride, 3}; }
};

// The argument picks the image-force kernels (0 node by node, 1 SSE2,
// 2 AVX2, 3 AVX-512); kernels this processor lacks are reported as skipped.
void BM_FitAndMapStep(benchmark::State& state) {
  static const Clip clip;
  const auto kernels = static_cast<ForceKernels>(state.range(0));
  if (kernels > WidestForceKernels()) {
    state.SkipWithError("this processor lacks these kernels");
    return;
  }
  const GRID_GEOMETRY g = DefaultGeometry();
  const auto phases = DefaultPhases();
  GRID_RINGS model;
  model.UseForceKernels(kernels);
  const double centre[2] = {g.Xo, g.Yo};
  model.Create(centre, g.Rings, g.Perimeter, g.Rmin, g.Ratio);
  for (std::uint32_t i = 0; i < 4; ++i) model.SetPhase(i, phases[i]);
  model.CaptureTemplates(clip.View(0));
  model.Prepare();
  MapWriter map;  // no file: rows are sampled and counted
  int f = 1;
  std::uint64_t rows = 0;
  for (auto _ : state) {
    const FrameView frame = clip.View(f);
    model.Fit(frame);
    rows += model.UpdateMap(map, frame);
    f = f + 1 < kFrames ? f + 1 : 1;
  }
  benchmark::DoNotOptimize(rows);
  state.counters["rows"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_FitAndMapStep)
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
