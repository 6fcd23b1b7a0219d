// A thread that runs steps handed to it one at a time, so a test can place
// each step (open, wait, end) in the target thread deterministically.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

class StepThread {
 public:
  StepThread() : thread_([this] { serve(); }) {}
  ~StepThread() { finish(); }

  // Runs `step` in the thread and returns once it has finished.
  void run(std::function<void()> step) {
    std::unique_lock lock(mutex_);
    step_ = std::move(step);
    changed_.notify_all();
    changed_.wait(lock, [this] { return !step_; });
  }
  // Lets the thread end and joins it.
  void finish() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      ending_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

 private:
  void serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return step_ || ending_; });
      if (!step_) return;
      lock.unlock();
      (*step_)();
      lock.lock();
      step_.reset();
      changed_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<std::function<void()>> step_;
  bool ending_ = false;
  std::thread thread_;
};
