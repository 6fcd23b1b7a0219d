#include "doubles/command_thread.h"

#include <chrono>
#include <future>
#include <memory>

namespace pkdv::testing {

CommandThread::CommandThread() : thread_([this] { loop(); }) {}

CommandThread::~CommandThread() {
  end();
}

void CommandThread::end() {
  {
    std::lock_guard guard(mutex_);
    ending_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void CommandThread::run(std::function<void()> command) {
  run_for(std::move(command), -1);
}

bool CommandThread::run_for(std::function<void()> command, int timeout_ms) {
  auto done = std::make_shared<std::promise<void>>();
  auto finished = done->get_future();
  {
    std::lock_guard guard(mutex_);
    commands_.push_back([command = std::move(command), done] {
      command();
      done->set_value();
    });
  }
  wake_.notify_all();
  if (timeout_ms < 0) {
    finished.wait();
    return true;
  }
  return finished.wait_for(std::chrono::milliseconds(timeout_ms)) == std::future_status::ready;
}

void CommandThread::loop() {
  for (;;) {
    std::function<void()> command;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return ending_ || !commands_.empty(); });
      if (commands_.empty()) return;
      command = std::move(commands_.front());
      commands_.pop_front();
    }
    command();
  }
}

}  // namespace pkdv::testing
