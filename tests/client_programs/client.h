// What the client programs share: each is a separate process on the shipped
// library (libpkdv.so, or pkdv.dll under Wine) that exits 0 when the library
// behaved, and otherwise names the fault and exits non-zero.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "pkdv.h"

namespace client {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

[[noreturn]] inline void fail(const char* what) {
  std::printf("FAILED: %s\n", what);
  std::fflush(stdout);
  std::_Exit(1);
}

inline void check(bool ok, const char* what) {
  if (!ok) fail(what);
}

inline long elapsed_ms(Clock::time_point since) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// Ends the process with status 2 if it is still running after `limit`: a
// call that never returns is reported, not waited for.
inline void start_watchdog(std::chrono::seconds limit, const char* what) {
  std::thread([limit, what] {
    std::this_thread::sleep_for(limit);
    std::printf("FAILED (watchdog): %s\n", what);
    std::fflush(stdout);
    std::_Exit(2);
  }).detach();
}

// A PacketBuffer with its data area, for one read at a time.
struct Slot {
  static constexpr std::uint32_t kCapacity = 2048;
  std::vector<std::uint8_t> storage =
      std::vector<std::uint8_t>(PKDV_PACKET_BUFFER_HEADER_SIZE + kCapacity);
  std::uint32_t transferred = 0;
  PacketBuffer* buffer() {
    auto* b = reinterpret_cast<PacketBuffer*>(storage.data());
    b->capacity = kCapacity;
    return b;
  }
};

// Per OS (frame_source_<os>.cpp): an open adapter that has frames ready for
// every read of the test, and the platform's alertable wait.
AdapterHandle open_busy_adapter();
std::uint32_t wait_alertable(std::uint32_t milliseconds);

}  // namespace client
