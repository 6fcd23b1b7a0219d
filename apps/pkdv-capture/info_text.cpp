#include "info_text.h"

#include <cstdio>
#include <utility>

#include "address_text.h"

namespace pkdv_capture {
namespace {

uint32_t little_endian_word(std::span<const uint8_t> b) {
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

std::string packet_filter_text(uint32_t filter) {
  static constexpr std::pair<uint32_t, const char*> kBits[] = {
      {0x0001, "directed"},
      {0x0002, "multicast"},
      {0x0004, "all-multicast"},
      {0x0008, "broadcast"},
      {kPacketFilterPromiscuous, "promiscuous"},
      {0x0080, "all-local"}};
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", filter);
  std::string names;
  for (auto [bit, name] : kBits) {
    if (!(filter & bit)) continue;
    names += names.empty() ? " (" : ", ";
    names += name;
  }
  return text + (names.empty() ? "" : names + ")");
}

}  // namespace

std::string describe_oid_answer(uint32_t oid, std::span<const uint8_t> answer) {
  if (oid == kOidCurrentAddress && answer.size() >= 6) return mac_text(answer.first<6>());
  if (answer.size() < 4) return std::to_string(answer.size()) + " bytes of data";
  uint32_t value = little_endian_word(answer);
  switch (oid) {
    case kOidMediaInUse:
      if (value == kMedium8023) return "0 (802.3)";
      if (value == kMediumIp) return "19 (IP)";
      return std::to_string(value);
    case kOidMaximumFrameSize:
      return std::to_string(value) + " bytes";
    case kOidLinkSpeed:  // in units of 100 bit/s
      if (value % 10000 == 0) return std::to_string(value / 10000) + " Mbit/s";
      return std::to_string(value * 100ULL) + " bit/s";
    case kOidMediaConnectStatus:
      return value == 0 ? "connected" : value == 1 ? "disconnected" : std::to_string(value);
    case kOidCurrentPacketFilter:
      return packet_filter_text(value);
  }
  return std::to_string(value);
}

}  // namespace pkdv_capture
