// A group of client threads that each set up their reads, report ready, and
// wait alertably (so their deliveries run) until the group is stopped.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <latch>
#include <thread>
#include <vector>

namespace pkdv::bench {

class ClientThreads {
 public:
  using Body = std::function<void(int index, ClientThreads& group)>;
  // `body(index, group)` runs in thread `index`: it posts its reads, calls
  // ready(), calls wait_for_stop(), then takes its reads back.
  ClientThreads(int count, Body body);
  ~ClientThreads();
  ClientThreads(const ClientThreads&) = delete;
  ClientThreads& operator=(const ClientThreads&) = delete;

  // For the bodies.
  void ready() { ready_.count_down(); }
  // Alertable waits of `slice_ms` each until the group is stopped: a longer
  // slice wakes the thread less often and stops it later.
  void wait_for_stop(std::uint32_t slice_ms = 20);

  // For the thread that made the group.
  void wait_until_ready() { ready_.wait(); }
  void stop_and_join();

 private:
  std::latch ready_;
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

}  // namespace pkdv::bench
