// A fixed set of helper threads that join the calling thread in running the
// numbered tasks of one job. The caller takes tasks as well, so a job never
// waits for a helper that has not woken up yet: it only waits for the tasks
// a helper has already taken.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace ostrel {

class WorkerPool {
 public:
  // `threads` in all, the caller included (1: no helper, everything runs on
  // the caller's thread).
  explicit WorkerPool(int threads);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  int Threads() const { return static_cast<int>(helpers_.size()) + 1; }

  using Task = std::function<void(int task, int worker)>;
  // Runs task(i, worker) for i = 0 .. count - 1 and returns when all are done.
  // `worker` is 0 on the caller's thread and 1 .. Threads() - 1 on helpers,
  // so that each may use scratch memory of its own.
  void Run(int count, const Task& task);

  // VIREO_THREADS when it holds a number from 1 to 64, else the number of
  // processors.
  static int DefaultThreads();

 private:
  void Help(int worker);
  void TakeTasks(const Task* task, int count, int worker);

  std::mutex lock_;
  std::condition_variable wake_;  // a new job or the end
  std::condition_variable idle_;  // the last helper left a job
  const Task* task_ = nullptr;
  int count_ = 0;
  unsigned generation_ = 0;
  int active_ = 0;  // helpers inside the current job
  bool stop_ = false;
  std::atomic<int> next_{0}, done_{0};
  std::vector<std::thread> helpers_;
};

}  // namespace ostrel
