// The capture driver's OID handling, stood in for on Linux: control() takes
// the same PACKET_OID_DATA buffer (OID, data length, data) and control codes
// as the Windows capture driver and answers from the kernel's view of the
// adapter's interface. The supported OIDs are listed in README.md.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <pcap/pcap.h>

#include "capture/capture.h"
#include "capture/oid_protocol.h"

namespace pkdv::capture {

namespace oid {
inline constexpr std::uint32_t kGenSupportedList = 0x00010101;
inline constexpr std::uint32_t kGenMediaSupported = 0x00010103;
inline constexpr std::uint32_t kGenMediaInUse = 0x00010104;
inline constexpr std::uint32_t kGenMaximumFrameSize = 0x00010106;
inline constexpr std::uint32_t kGenLinkSpeed = 0x00010107;
inline constexpr std::uint32_t kGenVendorDescription = 0x0001010D;
inline constexpr std::uint32_t kGenCurrentPacketFilter = 0x0001010E;
inline constexpr std::uint32_t kGenMaximumTotalSize = 0x00010111;
inline constexpr std::uint32_t kGenMediaConnectStatus = 0x00010114;
inline constexpr std::uint32_t kGenVendorDriverVersion = 0x00010116;
inline constexpr std::uint32_t kGenXmitOk = 0x00020101;
inline constexpr std::uint32_t kGenRcvOk = 0x00020102;
inline constexpr std::uint32_t kGenRcvNoBuffer = 0x00020105;
inline constexpr std::uint32_t k8023PermanentAddress = 0x01010101;
inline constexpr std::uint32_t k8023CurrentAddress = 0x01010102;
inline constexpr std::uint32_t k8023MulticastList = 0x01010103;
inline constexpr std::uint32_t k8023MaximumListSize = 0x01010104;
}  // namespace oid

namespace packet_filter {
inline constexpr std::uint32_t kDirected = 0x01;
inline constexpr std::uint32_t kMulticast = 0x02;
inline constexpr std::uint32_t kAllMulticast = 0x04;
inline constexpr std::uint32_t kBroadcast = 0x08;
inline constexpr std::uint32_t kPromiscuous = 0x20;
inline constexpr std::uint32_t kAllLocal = 0x80;
}  // namespace packet_filter

// NDIS media (NDIS_MEDIUM) that a capture handle's link type stands for.
namespace medium {
inline constexpr std::uint32_t k8023 = 0;
inline constexpr std::uint32_t k8025 = 1;
inline constexpr std::uint32_t kFddi = 2;
inline constexpr std::uint32_t kArcnetRaw = 6;
inline constexpr std::uint32_t kNative80211 = 16;
inline constexpr std::uint32_t kIp = 19;
}  // namespace medium

// The medium whose frames carry `link_type` (a libpcap DLT_ value), as listed
// in README.md; empty for link types no medium describes (Linux cooked
// capture, PPP, CAN, radiotap, ...): the media queries then fail rather than
// name frames wrongly.
std::optional<std::uint32_t> medium_of_link_type(int link_type);

// Fixed answers where Linux has no equivalent.
inline constexpr std::uint32_t kMulticastListSize = 32;
inline constexpr std::uint32_t kEthernetHeaderSize = 14;

// Last errors of failed requests, as the Windows driver's requests fail.
// (and sys::kErrorGenFailure: the kernel refused).
inline constexpr std::uint32_t kErrorInvalidFunction = 1;       // unknown control code
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;  // data part too small

class LinuxDriver final : public Driver {
 public:
  // `interface` is the kernel's name of the adapter; `promiscuous` says
  // whether the capture handle was opened in promiscuous mode; `link_type` is
  // the capture handle's (pcap_datalink), and `capture` the handle itself,
  // whose statistics count the frames dropped for lack of room. nullptr when
  // no packet socket can be made (the socket the requests and the packet
  // filter's memberships go through).
  static std::unique_ptr<LinuxDriver> create(std::string interface, bool promiscuous,
                                             int link_type, pcap_t* capture);
  ~LinuxDriver() override;
  LinuxDriver(const LinuxDriver&) = delete;
  LinuxDriver& operator=(const LinuxDriver&) = delete;

  // Synchronous: never pends, so `overlapped` is not used.
  bool control(std::uint32_t code, void* buffer, std::uint32_t size, void* overlapped,
               std::uint32_t* returned) override;
  // Nothing is ever pending: fails with kErrorInvalidParameter.
  bool overlapped_result(void* overlapped, std::uint32_t* returned) override;
  const void* device_handle() const override { return this; }

 private:
  struct Answer {
    std::uint32_t error = 0;  // 0: success
    std::vector<std::uint8_t> bytes;
  };

  LinuxDriver(std::string interface, int socket, bool promiscuous, int link_type,
              pcap_t* capture);
  Answer query(std::uint32_t oid, std::size_t capacity);
  std::uint32_t set(std::uint32_t oid, std::span<const std::uint8_t> data);
  std::uint32_t set_packet_filter(std::uint32_t filter);
  bool change_membership(int type, bool add);

  const std::string interface_;
  const int socket_;  // AF_PACKET, receives nothing; holds our memberships
  const int link_type_;
  pcap_t* const capture_;
  std::mutex filter_mutex_;
  std::uint32_t packet_filter_;    // as last set, for queries
  std::uint32_t memberships_ = 0;  // filter bits our socket holds a membership for
};

}  // namespace pkdv::capture
