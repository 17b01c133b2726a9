// Time of one full analysis (13 measurements at 48 places, then the four
// classifiers) of a rendered 256 x 256 capsule frame, by 1, 2 and all
// processors' threads (wall-clock time, as the threads share the frame).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <thread>
#include <vector>

#include "ostrel/analysis/analiza_detektor.h"
#include "tools/synthclip/renderer.h"

namespace {

struct RenderedFrame {
  int size, stride;
  std::vector<std::uint8_t> bottomUp;
  explicit RenderedFrame(std::int64_t index) {
    vireo::synth::SynthOptions options;
    options.lesions = vireo::synth::kBleeding | vireo::synth::kUlcer;
    vireo::synth::TunnelRenderer renderer(options);
    size = renderer.Size();
    stride = (3 * size + 3) & ~3;
    std::vector<std::uint8_t> topDown(static_cast<std::size_t>(stride) * size);
    renderer.RenderFrame(index, topDown.data(), stride);
    bottomUp.resize(topDown.size());
    for (int y = 0; y < size; ++y)
      std::copy_n(&topDown[static_cast<std::size_t>(y) * stride], stride,
                  &bottomUp[static_cast<std::size_t>(size - 1 - y) * stride]);
  }
};

void BM_AnalyzeFrame(benchmark::State& state) {
  const RenderedFrame frame(40);
  std::vector<std::uint8_t> channel(static_cast<std::size_t>(frame.size) * frame.size);
  ostrel::CAnalizaDetektor engine(frame.size, frame.size, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    engine.AnalyzeFrame(frame.stride, frame.bottomUp.data(), channel.data());
    benchmark::DoNotOptimize(engine.Flags(0).data());
    benchmark::ClobberMemory();
  }
}
void ThreadCounts(benchmark::internal::Benchmark* b) {
  const std::set<int> counts = {1, 2, static_cast<int>(std::max(1u, std::thread::hardware_concurrency()))};
  for (int threads : counts) b->Arg(threads);
}
BENCHMARK(BM_AnalyzeFrame)->ArgName("threads")->Apply(ThreadCounts)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
