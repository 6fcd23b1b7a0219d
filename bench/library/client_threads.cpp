#include "library/client_threads.h"

#include "library/reader.h"

namespace pkdv::bench {

ClientThreads::ClientThreads(int count, Body body) : ready_(count) {
  for (int i = 0; i < count; ++i) threads_.emplace_back([this, body, i] { body(i, *this); });
}

ClientThreads::~ClientThreads() {
  stop_and_join();
}

void ClientThreads::wait_for_stop(std::uint32_t slice_ms) {
  wait_alertably_until(stop_, slice_ms);
}

void ClientThreads::stop_and_join() {
  stop_.store(true, std::memory_order_release);
  for (auto& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
}

}  // namespace pkdv::bench
