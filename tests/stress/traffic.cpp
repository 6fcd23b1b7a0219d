#include "traffic.h"

#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace pkdv::stress {

namespace {

constexpr std::uint8_t kSource[6] = {0x02, 0, 0, 0, 0, 0x01};
constexpr std::uint16_t kEtherType = 0x88B5;  // local experimental
constexpr std::size_t kHeader = 14;
constexpr std::size_t kPayloadStart = kHeader + 10;  // after the number and the size

std::uint8_t pattern(std::uint64_t number, std::size_t offset) {
  return static_cast<std::uint8_t>(number * 31 + offset);
}

}  // namespace

std::vector<std::uint8_t> make_frame(std::uint64_t number, std::size_t size) {
  std::vector<std::uint8_t> frame(size);
  std::memset(frame.data(), 0xFF, 6);
  std::memcpy(&frame[6], kSource, sizeof kSource);
  frame[12] = kEtherType >> 8;
  frame[13] = kEtherType & 0xFF;
  std::memcpy(&frame[kHeader], &number, 8);
  const auto length = static_cast<std::uint16_t>(size);
  std::memcpy(&frame[kHeader + 8], &length, 2);
  for (std::size_t i = kPayloadStart; i < size; ++i) frame[i] = pattern(number, i);
  return frame;
}

std::string check_frame(const std::uint8_t* data, std::uint32_t length) {
  if (length < kPayloadStart) return "frame of " + std::to_string(length) + " bytes";
  if (data[12] != (kEtherType >> 8) || data[13] != (kEtherType & 0xFF)) return "foreign frame";
  std::uint64_t number = 0;
  std::uint16_t size = 0;
  std::memcpy(&number, data + kHeader, 8);
  std::memcpy(&size, data + kHeader + 8, 2);
  if (size != length) {
    return "frame " + std::to_string(number) + " of " + std::to_string(size) +
           " bytes handed back with " + std::to_string(length);
  }
  for (std::size_t i = kPayloadStart; i < length; ++i) {
    if (data[i] != pattern(number, i)) {
      return "frame " + std::to_string(number) + " corrupt at byte " + std::to_string(i);
    }
  }
  return {};
}

Injector::Injector(const char* interface) {
  socket_ = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
  if (socket_ < 0) return;
  sockaddr_ll address{};
  address.sll_family = AF_PACKET;
  address.sll_ifindex = static_cast<int>(if_nametoindex(interface));
  if (address.sll_ifindex == 0 ||
      bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(socket_);
    socket_ = -1;
  }
}

Injector::~Injector() {
  stop();
  if (socket_ >= 0) close(socket_);
}

void Injector::send_next() {
  const std::uint64_t number = sent_.load() + 1;
  const std::size_t size = kShortestFrame + number * 337 % (kLongestFrame - kShortestFrame + 1);
  const auto frame = make_frame(number, size);
  if (::send(socket_, frame.data(), frame.size(), 0) == static_cast<ssize_t>(frame.size())) {
    sent_.store(number);
  }
}

void Injector::start(int per_second) {
  running_ = true;
  thread_ = std::thread([this, per_second] {
    const auto interval = std::chrono::microseconds(1'000'000 / per_second);
    auto next = std::chrono::steady_clock::now();
    while (running_.load()) {
      send_next();
      next += interval;
      std::this_thread::sleep_until(next);
    }
  });
}

void Injector::stop() {
  running_ = false;
  if (thread_.joinable()) thread_.join();
}

void Injector::burst(int count) {
  for (int i = 0; i < count; ++i) send_next();
}

}  // namespace pkdv::stress
