#include "cli/batch.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

#include "cli/progress.h"
#include "filterhost/atomic_file.h"

namespace vireo::cli {

namespace {

std::string ClipProblem(const std::string& clip) {
  std::string reason;
  if (fh::CheckInputPath(clip, &reason)) return {};
  return fh::KindOfPath(clip) == fh::PathKind::kMissing ? "no such file" : reason;
}

std::string OutputProblem(const OutputFile& out) {
  if (out.maxLength > 0 && out.path.size() > out.maxLength)
    return "the " + out.what + " name has " + std::to_string(out.path.size()) + " characters, more than the " +
           std::to_string(out.maxLength) + " its filter accepts";
  std::string reason;
  if (fh::CheckOutputPath(out.path, &reason)) return {};
  if (fh::KindOfPath(out.path) == fh::PathKind::kMissing)
    return "cannot create the " + out.what + " " + out.path + ": " + reason;
  return "the " + out.what + " " + out.path + " " + reason;
}

}  // namespace

void CheckBatch(std::vector<BatchItem>& items) {
  struct Known {
    fh::FileIdentity id;
    std::size_t item;
    const OutputFile* output;  // null for a clip
  };
  std::vector<Known> known;
  for (std::size_t i = 0; i < items.size(); ++i) known.push_back({fh::IdentifyFile(items[i].clip), i, nullptr});

  for (std::size_t i = 0; i < items.size(); ++i) {
    BatchItem& item = items[i];
    if (item.refused.empty()) item.refused = ClipProblem(item.clip);
    for (const OutputFile& out : item.outputs) {
      if (!item.refused.empty()) break;
      item.refused = OutputProblem(out);
      if (!item.refused.empty()) break;
      const fh::FileIdentity id = fh::IdentifyFile(out.path);
      for (const Known& k : known) {
        if (!(k.id == id)) continue;
        const std::string mine = "its " + out.what + " " + out.path;
        if (!k.output)
          item.refused =
              k.item == i ? "would overwrite the clip with " + out.path : mine + " is the clip " + items[k.item].clip;
        else if (k.item == i)
          item.refused = mine + " is also its " + k.output->what;
        else
          item.refused = mine + " is also the " + k.output->what + " of " + items[k.item].clip;
        break;
      }
      known.push_back({id, i, &out});
    }
  }
}

void RunPool(std::size_t count, int workers, const std::function<void(std::size_t, int)>& work,
             const std::function<void()>& tick) {
  const int threads = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(std::max(workers, 1)), count));
  std::atomic<std::size_t> next{0};
  std::mutex mutex;
  std::condition_variable finished;
  int running = threads;
  std::vector<std::thread> pool;
  for (int slot = 0; slot < threads; ++slot)
    pool.emplace_back([&, slot] {
      for (std::size_t i; (i = next++) < count;) work(i, slot);
      std::lock_guard lock(mutex);
      --running;
      finished.notify_one();
    });
  // The display is refreshed four times a second; the last worker's end
  // wakes the wait at once, so a run returns as soon as its work is done.
  std::unique_lock lock(mutex);
  while (running > 0) {
    lock.unlock();
    if (tick) tick();
    lock.lock();
    finished.wait_for(lock, std::chrono::milliseconds(250), [&] { return running == 0; });
  }
  lock.unlock();
  for (std::thread& t : pool) t.join();
}

int RunBatch(std::size_t count, int jobs, ProgressDisplay& display, const std::function<bool(std::size_t, int)>& run) {
  InstallStopSignals();
  std::atomic<int> failed{0};
  RunPool(
      count, jobs, [&](std::size_t i, int slot) { failed += run(i, slot) ? 0 : 1; }, [&] { display.Refresh(); });
  return failed.load();
}

namespace {

std::atomic<bool> g_stop{false};
volatile std::sig_atomic_t g_signal = 0;

void OnStopSignal(int signal) {
  if (g_stop.load()) _exit(128 + signal);
  g_signal = signal;
  g_stop = true;
}

}  // namespace

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

const std::atomic<bool>& StopRequested() { return g_stop; }

int StopExitStatus() { return 128 + (g_signal ? g_signal : SIGINT); }

}  // namespace vireo::cli
