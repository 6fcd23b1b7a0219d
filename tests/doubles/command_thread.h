// A thread that runs the commands it is given and nothing else, so its first
// call into the library (and the registration that comes with it) is one the
// test chose.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace pkdv::testing {

class CommandThread {
 public:
  CommandThread();
  ~CommandThread();
  CommandThread(const CommandThread&) = delete;
  CommandThread& operator=(const CommandThread&) = delete;

  // Runs `command` in the thread and waits for it to finish.
  void run(std::function<void()> command);
  // Same, but gives up after `timeout_ms` and reports false (the command may
  // be stuck, e.g. in a deadlock).
  bool run_for(std::function<void()> command, int timeout_ms);
  // Lets the thread end once its commands ran, and waits for that.
  void end();

 private:
  void loop();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> commands_;
  bool ending_ = false;
  std::thread thread_;
};

}  // namespace pkdv::testing
