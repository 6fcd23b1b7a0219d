// Fails the run when no read has been handed back for 2 s while reads are
// outstanding and frames flow: a deadlock, or a token that was never given
// back. It aborts the process, so that even a stuck test ends, after
// printing what was outstanding.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#include "client.h"

namespace pkdv::stress {

class Watchdog {
 public:
  explicit Watchdog(World& world);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  void stop();
  // The longest time reads were outstanding with none handed back.
  std::chrono::milliseconds longest_wait() const;

 private:
  void watch();
  [[noreturn]] void fail(std::chrono::milliseconds waited);

  World& world_;
  std::atomic<bool> running_{true};
  std::atomic<std::int64_t> longest_ms_{0};
  std::thread thread_;
};

}  // namespace pkdv::stress
