#include "library/injector.h"

#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>

#include "support/clock.h"

namespace pkdv::bench {

namespace {

constexpr std::size_t kFrameSize = 60;
constexpr std::uint16_t kEtherType = 0x88B5;
constexpr char kMarker[8] = {'p', 'k', 'd', 'v', 'b', 'n', 'c', 'h'};
constexpr std::size_t kMarkerAt = 14;
constexpr std::size_t kNumberAt = kMarkerAt + sizeof kMarker;
constexpr std::int64_t kSecond = 1'000'000'000;
constexpr std::int64_t kFloodSleepNs = 1'000'000;

}  // namespace

Injector::Injector(const std::string& interface) {
  const unsigned index = if_nametoindex(interface.c_str());
  if (index == 0) {
    std::fprintf(stderr, "no interface %s\n", interface.c_str());
    return;
  }
  socket_ = socket(AF_PACKET, SOCK_RAW, 0);  // protocol 0: sends only, receives nothing
  if (socket_ < 0) {
    std::perror("AF_PACKET socket");
    return;
  }
  sockaddr_ll address{};
  address.sll_family = AF_PACKET;
  address.sll_ifindex = static_cast<int>(index);
  if (bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    std::perror("bind to interface");
    close(socket_);
    socket_ = -1;
  }
}

Injector::~Injector() {
  if (socket_ >= 0) close(socket_);
}

bool Injector::send(const std::vector<std::uint8_t>& frame) {
  return ::send(socket_, frame.data(), frame.size(), 0) == static_cast<ssize_t>(frame.size());
}

Flood::Flood(const std::string& interface, double frames_per_second) : injector_(interface) {
  if (!injector_.ready()) return;
  thread_ = std::thread([this, frames_per_second] {
    started_ = now_ns();
    if (frames_per_second <= 0) {
      // Numbered once: numbering each frame would cost the flood an allocation a frame.
      const std::vector<std::uint8_t> frame = numbered_frame(0);
      while (!stop_.load(std::memory_order_relaxed)) {
        injector_.send(frame);
        sent_.fetch_add(1, std::memory_order_relaxed);
      }
    }
    while (!stop_.load(std::memory_order_relaxed)) {
      const auto due = static_cast<std::int64_t>(static_cast<double>(now_ns() - started_) *
                                                 frames_per_second / kSecond);
      for (std::int64_t next = sent(); next < due; ++next) {
        injector_.send(numbered_frame(static_cast<std::uint32_t>(next)));
        sent_.store(next + 1, std::memory_order_relaxed);
      }
      sleep_ns(kFloodSleepNs);
    }
    stopped_ = now_ns();
  });
  pthread_getcpuclockid(thread_.native_handle(), &clock_);
}

std::int64_t Flood::cpu_ns() const {
  if (!thread_.joinable()) return 0;
  timespec used{};
  clock_gettime(clock_, &used);
  return std::int64_t{used.tv_sec} * kSecond + used.tv_nsec;
}

double Flood::rate() const {
  return stopped_ > started_ ? static_cast<double>(sent()) * kSecond / (stopped_ - started_) : 0;
}

void Flood::stop() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
}

std::vector<std::uint8_t> numbered_frame(std::uint32_t number) {
  std::vector<std::uint8_t> frame(kFrameSize, 0);
  std::memset(frame.data(), 0xFF, 6);
  const std::uint8_t source[6] = {0x02, 0, 0, 0, 0, 0x01};
  std::memcpy(frame.data() + 6, source, sizeof source);
  const std::uint16_t type = htons(kEtherType);
  std::memcpy(frame.data() + 12, &type, sizeof type);
  std::memcpy(frame.data() + kMarkerAt, kMarker, sizeof kMarker);
  std::memcpy(frame.data() + kNumberAt, &number, sizeof number);
  return frame;
}

std::optional<std::uint32_t> frame_number(const PacketBuffer& buffer) {
  if (buffer.captured_length < kNumberAt + sizeof(std::uint32_t)) return std::nullopt;
  if (std::memcmp(buffer.data + kMarkerAt, kMarker, sizeof kMarker) != 0) return std::nullopt;
  std::uint32_t number = 0;
  std::memcpy(&number, buffer.data + kNumberAt, sizeof number);
  return number;
}

}  // namespace pkdv::bench
