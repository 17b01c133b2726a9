#include "worker_pool.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace ostrel {

WorkerPool::WorkerPool(int threads) {
  for (int worker = 1; worker < threads; ++worker) helpers_.emplace_back([this, worker] { Help(worker); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard guard(lock_);
    stop_ = true;
  }
  wake_.notify_all();
  for (std::thread& helper : helpers_) helper.join();
}

int WorkerPool::DefaultThreads() {
  if (const char* text = std::getenv("VIREO_THREADS")) {
    int value = 0;
    const char* end = text + std::strlen(text);
    const auto [stop, ec] = std::from_chars(text, end, value);
    if (ec == std::errc() && stop == end && value >= 1 && value <= 64) return value;
  }
  return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 64);
}

// A helper may join a job whose tasks are all taken, after its caller has
// returned: the function is only touched for a task taken here.
void WorkerPool::TakeTasks(const Task* task, int count, int worker) {
  for (int i; (i = next_.fetch_add(1, std::memory_order_relaxed)) < count;) {
    (*task)(i, worker);
    if (done_.fetch_add(1, std::memory_order_release) + 1 == count) done_.notify_one();
  }
}

void WorkerPool::Run(int count, const Task& task) {
  if (helpers_.empty() || count <= 1) {
    for (int i = 0; i < count; ++i) task(i, 0);
    return;
  }
  {
    // Helpers still inside the previous job would take tasks of this one
    // with that job's function: wait until they have left.
    std::unique_lock guard(lock_);
    idle_.wait(guard, [this] { return active_ == 0; });
    task_ = &task;
    count_ = count;
    next_.store(0, std::memory_order_relaxed);
    done_.store(0, std::memory_order_relaxed);
    ++generation_;
  }
  wake_.notify_all();
  TakeTasks(&task, count, 0);
  // The caller sleeps until the helpers finish, leaving the processor to the
  // pipeline's other threads.
  for (int done; (done = done_.load(std::memory_order_acquire)) < count;)
    done_.wait(done, std::memory_order_acquire);
}

void WorkerPool::Help(int worker) {
  unsigned seen = 0;
  std::unique_lock guard(lock_);
  for (;;) {
    wake_.wait(guard, [&] { return stop_ || generation_ != seen; });
    if (stop_) return;
    seen = generation_;
    const Task* task = task_;
    const int count = count_;
    ++active_;
    guard.unlock();
    TakeTasks(task, count, worker);
    guard.lock();
    if (--active_ == 0) idle_.notify_all();
  }
}

}  // namespace ostrel
