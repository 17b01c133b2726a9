// Speed of the player on a long clip: from opening a clip to its first frame
// painted, and from a seek request to the new frame painted. The clip comes
// from VIREO_BENCH_CLIP (run_bench.sh makes a 10,000-frame one).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <cstdlib>
#include <random>

#include "main_window.h"
#include "messages.h"
#include "video_widget.h"

namespace {

QString ClipPath() {
  const char* clip = std::getenv("VIREO_BENCH_CLIP");
  return clip ? QString::fromLocal8Bit(clip) : QString();
}

// Processes events until the widget painted more than `count` pictures.
bool WaitPainted(vireo::VideoWidget* video, int count) {
  QElapsedTimer timer;
  timer.start();
  while (video->PaintedCount() <= count) {
    if (timer.elapsed() > 10000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  }
  return true;
}

void BM_OpenToFirstFramePainted(benchmark::State& state) {
  for (auto _ : state) {
    QElapsedTimer timer;
    timer.start();
    vireo::MainWindow window;
    window.Start(ClipPath());
    if (!window.Graph().HasGraph() || !WaitPainted(window.Video(), 0)) {
      state.SkipWithError("the clip did not open");
      return;
    }
    state.SetIterationTime(timer.nsecsElapsed() / 1e9);
  }
}

void BM_SeekToFramePainted(benchmark::State& state) {
  vireo::MainWindow window;
  window.Start(ClipPath());
  if (!window.Graph().HasGraph() || !WaitPainted(window.Video(), 0)) {
    state.SkipWithError("the clip did not open");
    return;
  }
  std::mt19937 random(7);
  const std::int64_t total = window.Graph().TotalFrames();
  std::uniform_int_distribution<std::int64_t> frame(0, total - 1);
  for (auto _ : state) {
    const int painted = window.Video()->PaintedCount();
    QElapsedTimer timer;
    timer.start();
    window.Graph().SeekToFrame(frame(random));
    if (!WaitPainted(window.Video(), painted)) {
      state.SkipWithError("no frame after the seek");
      return;
    }
    state.SetIterationTime(timer.nsecsElapsed() / 1e9);
  }
}

BENCHMARK(BM_OpenToFirstFramePainted)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_SeekToFramePainted)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
  vireo::InitGraphLayer(argv[0]);
  QApplication app(argc, argv);
  vireo::SetMessageHook([](const vireo::MessageRequest& r) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(r.caption), qPrintable(r.text));
    return QMessageBox::Ok;
  });
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
