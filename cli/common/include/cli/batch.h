// A batch of clips: the checks that run before anything is opened, the pool
// of workers over the clips, and the stop signals.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace vireo::cli {

// One file a clip's run writes.
struct OutputFile {
  std::string what;  // "map", "findings file", "marked clip"
  std::string path;
  std::size_t maxLength = 0;  // longest name the writing filter accepts, 0 for no limit
};

struct BatchItem {
  std::string clip;
  std::vector<OutputFile> outputs;
  std::string refused;  // why the clip does not run; empty when it may
};

// Refuses, by file and not by spelling (symbolic and hard links, "./a" and
// "a"), every item whose clip is not a readable regular file, or whose output
// does not fit its filter, is not a regular file or a new one in an existing
// folder, is the same file as any clip of the batch, or as another output of
// the batch. A collision is told once, on the later item, naming both clips.
void CheckBatch(std::vector<BatchItem>& items);

// Runs work(index, slot) for indices 0 .. count-1 on up to `workers` threads
// (slot is the worker's number); meanwhile calls `tick` on the calling thread
// every 250 ms.
void RunPool(std::size_t count, int workers, const std::function<void(std::size_t index, int slot)>& work,
             const std::function<void()>& tick);

class ProgressDisplay;

// The tools' batch: installs the stop signals, then runs run(index, slot) for
// each of `count` clips, `jobs` at a time, refreshing `display` meanwhile.
// `run` says whether its clip succeeded; returns how many did not.
int RunBatch(std::size_t count, int jobs, ProgressDisplay& display,
             const std::function<bool(std::size_t index, int slot)>& run);

// SIGINT and SIGTERM: the first asks the work to end (StopRequested turns
// true and runs finish with what they have), a second ends the process at once.
void InstallStopSignals();
const std::atomic<bool>& StopRequested();
// 128 + the number of the signal that asked to stop (130 for SIGINT).
int StopExitStatus();

}  // namespace vireo::cli
