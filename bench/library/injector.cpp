#include "library/injector.h"

#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>

namespace pkdv::bench {

namespace {

constexpr std::size_t kFrameSize = 60;
constexpr std::uint16_t kEtherType = 0x88B5;
constexpr char kMarker[8] = {'p', 'k', 'd', 'v', 'b', 'n', 'c', 'h'};
constexpr std::size_t kMarkerAt = 14;
constexpr std::size_t kNumberAt = kMarkerAt + sizeof kMarker;

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
