// Puts frames on one end of the namespace's veth pair (AF_PACKET), and the
// frames the live benchmarks recognise on the other end.
#pragma once

#include <time.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "pkdv.h"

namespace pkdv::bench {

class Injector {
 public:
  // Binds to `interface`; check ready().
  explicit Injector(const std::string& interface);
  ~Injector();
  Injector(const Injector&) = delete;
  Injector& operator=(const Injector&) = delete;

  bool ready() const { return socket_ >= 0; }
  bool send(const std::vector<std::uint8_t>& frame);

 private:
  int socket_ = -1;
};

// Floods one interface from a thread of its own until stopped, at an even rate
// (frames fall due at the rate and are sent in whatever bursts the thread's
// 1 ms sleeps allow) or, at a rate of 0, as fast as the socket takes them.
// Its own CPU time is kept apart from the library's.
class Flood {
 public:
  Flood(const std::string& interface, double frames_per_second);
  ~Flood() { stop(); }
  Flood(const Flood&) = delete;
  Flood& operator=(const Flood&) = delete;

  bool ready() const { return injector_.ready(); }
  std::int64_t cpu_ns() const;
  // Frames sent so far.
  std::int64_t sent() const { return sent_.load(std::memory_order_relaxed); }
  // Frames per second it sent; asked once the flood has stopped.
  double rate() const;
  void stop();

 private:
  Injector injector_;
  std::atomic<bool> stop_{false};
  std::atomic<std::int64_t> sent_{0};
  std::int64_t started_ = 0;
  std::int64_t stopped_ = 0;
  std::thread thread_;
  clockid_t clock_{};
};

// A 60-byte broadcast frame of a local experimental EtherType that carries
// `number` behind a marker.
std::vector<std::uint8_t> numbered_frame(std::uint32_t number);
// The number of a frame that numbered_frame made; empty for any other frame.
std::optional<std::uint32_t> frame_number(const PacketBuffer& buffer);

}  // namespace pkdv::bench
