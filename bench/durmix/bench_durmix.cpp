// The frame multiplicator's copy cost per frame at 6 x 4 on 256 x 256 frames,
// beside a plain memcpy of one output frame.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "durmix/durmix.h"

using namespace fh;

namespace {

constexpr int kSide = 256;

CMediaType Rgb24(int width, int height) { return VideoInfoType(MEDIASUBTYPE_RGB24, width, height, 24); }

const std::size_t kOutputBytes = static_cast<std::size_t>(DibStride(6 * kSide, 24)) * 4 * kSide;

void BM_DurmixTransform6x4(benchmark::State& state) {
  auto* filter = new durmix::CDurmix(nullptr);
  filter->NonDelegatingAddRef();
  CExternalPin up("up", PINDIR_OUTPUT), down("down", PINDIR_INPUT);
  filter->SetMode(0, 6, 4);
  CMediaType outType;
  if (filter->GetPin(0)->Connect(&up, Rgb24(kSide, kSide)) != S_OK ||
      filter->GetPin(1)->GetMediaType(0, &outType) != S_OK || filter->GetPin(1)->Connect(&down, outType) != S_OK) {
    state.SkipWithError("connection failed");
    return;
  }
  std::vector<BYTE> in(static_cast<std::size_t>(DibStride(kSide, 24)) * kSide, 0x5A), out(kOutputBytes);
  CMediaSample inSample, outSample;
  for (auto _ : state) {
    inSample.Reset(in.data(), static_cast<long>(in.size()), static_cast<long>(in.size()));
    outSample.Reset(out.data(), static_cast<long>(out.size()), 0);
    if (filter->Transform(&inSample, &outSample) != S_OK) state.SkipWithError("Transform failed");
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kOutputBytes));
  filter->GetPin(1)->Disconnect();
  filter->GetPin(0)->Disconnect();
  filter->NonDelegatingRelease();
}
BENCHMARK(BM_DurmixTransform6x4);

void BM_MemcpyOutputFrame(benchmark::State& state) {
  std::vector<BYTE> from(kOutputBytes, 0x5A), to(kOutputBytes);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), kOutputBytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kOutputBytes));
}
BENCHMARK(BM_MemcpyOutputFrame);

}  // namespace

BENCHMARK_MAIN();
