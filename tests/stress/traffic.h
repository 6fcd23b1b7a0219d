// The frames the stress test puts on the wire, the check of a frame a read
// hands back, and the thread that keeps frames flowing.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace pkdv::stress {

inline constexpr std::size_t kShortestFrame = 60;
inline constexpr std::size_t kLongestFrame = 1514;

// Frame number `number`, `size` bytes: broadcast, a local EtherType, the
// number and size, then bytes that follow from the number.
std::vector<std::uint8_t> make_frame(std::uint64_t number, std::size_t size);

// Empty when `data` holds one of our frames intact, otherwise what is wrong.
std::string check_frame(const std::uint8_t* data, std::uint32_t length);

// Puts frames on one end of the veth pair through a packet socket.
class Injector {
 public:
  explicit Injector(const char* interface);
  ~Injector();
  Injector(const Injector&) = delete;
  Injector& operator=(const Injector&) = delete;

  bool ready() const { return socket_ >= 0; }
  // Sends frames of varied sizes, `per_second` of them, until stop().
  void start(int per_second);
  void stop();
  // Sends `count` frames at once.
  void burst(int count);
  std::uint64_t sent() const { return sent_.load(); }

 private:
  void send_next();

  int socket_ = -1;
  std::atomic<std::uint64_t> sent_{0};
  std::atomic<bool> running_{false};
  std::thread thread_;
};

}  // namespace pkdv::stress
