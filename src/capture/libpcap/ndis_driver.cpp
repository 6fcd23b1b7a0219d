#include "capture/libpcap/ndis_driver.h"

#include <linux/if_packet.h>
#include <net/if.h>  // IFF_RUNNING
#include <pcap/dlt.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "capture/libpcap/linux_interface.h"
#include "platform/platform.h"

namespace pkdv::capture {
namespace {

namespace kernel = linux_interface;

constexpr std::uint32_t kSupportedOids[] = {
    oid::kGenSupportedList,
    oid::kGenMediaSupported,
    oid::kGenMediaInUse,
    oid::kGenMaximumFrameSize,
    oid::kGenLinkSpeed,
    oid::kGenVendorDescription,
    oid::kGenCurrentPacketFilter,
    oid::kGenMaximumTotalSize,
    oid::kGenMediaConnectStatus,
    oid::kGenVendorDriverVersion,
    oid::kGenXmitOk,
    oid::kGenRcvOk,
    oid::kGenRcvNoBuffer,
    oid::k8023PermanentAddress,
    oid::k8023CurrentAddress,
    oid::k8023MulticastList,
    oid::k8023MaximumListSize,
};

constexpr std::uint32_t kKnownFilterBits =
    packet_filter::kDirected | packet_filter::kMulticast | packet_filter::kAllMulticast |
    packet_filter::kBroadcast | packet_filter::kPromiscuous | packet_filter::kAllLocal;

// Requests fail as DeviceIoControl does: false, with the platform's last error.
bool fail(std::uint32_t error) {
  sys::set_last_error(error);
  return false;
}

std::uint32_t load_u32(const std::uint8_t* bytes) {
  std::uint32_t value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

std::vector<std::uint8_t> as_bytes(const void* data, std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  if (size != 0) std::memcpy(bytes.data(), data, size);
  return bytes;
}

std::vector<std::uint8_t> u32_bytes(std::uint32_t value) {
  return as_bytes(&value, sizeof value);
}

// 64-bit statistics come as 8 bytes when the buffer holds them, else as the
// low 32 bits, as NDIS miniports answer.
std::vector<std::uint8_t> counter_bytes(std::uint64_t value, std::size_t capacity) {
  if (capacity >= sizeof value) return as_bytes(&value, sizeof value);
  return u32_bytes(static_cast<std::uint32_t>(value));
}

}  // namespace

std::optional<std::uint32_t> medium_of_link_type(int link_type) {
  switch (link_type) {
    case DLT_EN10MB:
      return medium::k8023;
    case DLT_IEEE802:
      return medium::k8025;
    case DLT_FDDI:
      return medium::kFddi;
    case DLT_ARCNET:
    case DLT_ARCNET_LINUX:
      return medium::kArcnetRaw;
    case DLT_IEEE802_11:
      return medium::kNative80211;
    case DLT_RAW:
    case DLT_IPV4:
    case DLT_IPV6:
      return medium::kIp;
    default:
      return std::nullopt;
  }
}

std::unique_ptr<LinuxDriver> LinuxDriver::create(std::string interface, bool promiscuous,
                                                 int link_type, pcap_t* capture) {
  // Protocol 0: the socket receives no frames; it only carries requests and
  // holds memberships.
  int socket = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
  if (socket < 0) return nullptr;
  try {
    return std::unique_ptr<LinuxDriver>(
        new LinuxDriver(std::move(interface), socket, promiscuous, link_type, capture));
  } catch (...) {
    ::close(socket);
    throw;
  }
}

LinuxDriver::LinuxDriver(std::string interface, int socket, bool promiscuous, int link_type,
                         pcap_t* capture)
    : interface_(std::move(interface)),
      socket_(socket),
      link_type_(link_type),
      capture_(capture),
      packet_filter_(packet_filter::kDirected | packet_filter::kMulticast |
                     packet_filter::kBroadcast | (promiscuous ? packet_filter::kPromiscuous : 0)) {}

// Closing the socket drops its memberships: what the packet filter switched
// on ends with the capture handle.
LinuxDriver::~LinuxDriver() {
  ::close(socket_);
}

bool LinuxDriver::control(std::uint32_t code, void* buffer, std::uint32_t size,
                          void* /*overlapped*/, std::uint32_t* returned) {
  if (returned != nullptr) *returned = 0;
  if (code != kControlSetOid && code != kControlQueryOid) return fail(kErrorInvalidFunction);
  if (buffer == nullptr || size < kOidDataHeaderSize) return fail(sys::kErrorInvalidParameter);
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  std::uint32_t requested_oid = load_u32(bytes);
  std::uint32_t length = load_u32(bytes + 4);
  // The data part must lie within what was handed over.
  if (length > size - kOidDataHeaderSize) return fail(sys::kErrorInvalidParameter);
  std::uint8_t* data = bytes + kOidDataHeaderSize;

  if (code == kControlSetOid) {
    std::uint32_t error = set(requested_oid, {data, length});
    return error == 0 ? true : fail(error);
  }
  Answer answer = query(requested_oid, length);
  if (answer.error != 0) return fail(answer.error);
  if (answer.bytes.size() > length) return fail(kErrorInsufficientBuffer);
  std::copy(answer.bytes.begin(), answer.bytes.end(), data);
  if (returned != nullptr) *returned = static_cast<std::uint32_t>(answer.bytes.size());
  return true;
}

bool LinuxDriver::overlapped_result(void* /*overlapped*/, std::uint32_t* returned) {
  if (returned != nullptr) *returned = 0;
  return fail(sys::kErrorInvalidParameter);
}

LinuxDriver::Answer LinuxDriver::query(std::uint32_t requested_oid, std::size_t capacity) {
  auto known = [](auto value, auto to_bytes) -> Answer {
    if (!value) return {sys::kErrorGenFailure, {}};
    return {0, to_bytes(*value)};
  };
  auto mac_bytes = [](const kernel::MacAddress& address) {
    return std::vector<std::uint8_t>(address.begin(), address.end());
  };

  switch (requested_oid) {
    case oid::kGenSupportedList:
      return {0, as_bytes(kSupportedOids, sizeof kSupportedOids)};
    case oid::kGenMediaSupported:
    case oid::kGenMediaInUse: {
      // One medium: the one the capture handle's frames are in, if any.
      std::optional<std::uint32_t> in_use = medium_of_link_type(link_type_);
      if (!in_use) return {sys::kErrorNotSupported, {}};
      return {0, u32_bytes(*in_use)};
    }
    case oid::kGenMaximumFrameSize:
      return known(kernel::mtu(socket_, interface_), u32_bytes);
    case oid::kGenMaximumTotalSize:
      return known(kernel::mtu(socket_, interface_),
                   [](std::uint32_t mtu) { return u32_bytes(mtu + kEthernetHeaderSize); });
    case oid::kGenLinkSpeed: {
      // Units of 100 bit/s; 0 when the kernel does not know the speed.
      std::uint64_t speed = kernel::speed_mbps(socket_, interface_).value_or(0) * 10000ull;
      return {0, u32_bytes(static_cast<std::uint32_t>(std::min<std::uint64_t>(speed, UINT32_MAX)))};
    }
    case oid::kGenVendorDescription: {
      std::string text =
          kernel::driver_name(socket_, interface_).value_or("Linux network interface");
      return {0, as_bytes(text.c_str(), text.size() + 1)};
    }
    case oid::kGenVendorDriverVersion:
      // This stand-in is part of the library: its version, major in the high half.
      return {0, u32_bytes(std::uint32_t{PKDV_VERSION_MAJOR} << 16 | PKDV_VERSION_MINOR)};
    case oid::kGenCurrentPacketFilter: {
      std::lock_guard guard(filter_mutex_);
      return {0, u32_bytes(packet_filter_)};
    }
    case oid::kGenMediaConnectStatus:
      // Connected while the interface is up and its link is operational.
      return known(kernel::flags(socket_, interface_),
                   [](std::uint32_t flags) { return u32_bytes((flags & IFF_RUNNING) ? 0 : 1); });
    case oid::kGenXmitOk:
    case oid::kGenRcvOk:
      return known(kernel::packet_counters(interface_), [&](kernel::PacketCounters counters) {
        return counter_bytes(
            requested_oid == oid::kGenXmitOk ? counters.transmitted : counters.received, capacity);
      });
    case oid::kGenRcvNoBuffer: {
      // This handle's loss since it was opened: frames its ring had no room
      // for, and frames the interface dropped.
      pcap_stat stats{};
      if (pcap_stats(capture_, &stats) != 0) return {sys::kErrorGenFailure, {}};
      return {0, counter_bytes(std::uint64_t{stats.ps_drop} + stats.ps_ifdrop, capacity)};
    }
    case oid::k8023PermanentAddress: {
      auto address = kernel::permanent_address(socket_, interface_);
      if (!address) address = kernel::current_address(socket_, interface_);
      return known(address, mac_bytes);
    }
    case oid::k8023CurrentAddress:
      return known(kernel::current_address(socket_, interface_), mac_bytes);
    case oid::k8023MulticastList:
      return known(kernel::multicast_addresses(interface_),
                   [](const std::vector<kernel::MacAddress>& addresses) {
                     return as_bytes(addresses.data(),
                                     addresses.size() * sizeof(kernel::MacAddress));
                   });
    case oid::k8023MaximumListSize:
      return {0, u32_bytes(kMulticastListSize)};
    default:
      return {sys::kErrorNotSupported, {}};
  }
}

std::uint32_t LinuxDriver::set(std::uint32_t requested_oid, std::span<const std::uint8_t> data) {
  if (requested_oid != oid::kGenCurrentPacketFilter) return sys::kErrorNotSupported;
  if (data.size() < sizeof(std::uint32_t)) return kErrorInsufficientBuffer;
  return set_packet_filter(load_u32(data.data()));
}

// Promiscuous and all-multicast reception are switched through this driver's
// own packet socket, so they last while the capture handle is open. The other
// bits are accepted and reported back; the capture sees what the kernel
// delivers either way.
std::uint32_t LinuxDriver::set_packet_filter(std::uint32_t filter) {
  if ((filter & ~kKnownFilterBits) != 0) return sys::kErrorNotSupported;
  std::lock_guard guard(filter_mutex_);
  for (auto [bit, type] : {std::pair{packet_filter::kPromiscuous, PACKET_MR_PROMISC},
                           std::pair{packet_filter::kAllMulticast, PACKET_MR_ALLMULTI}}) {
    bool wanted = (filter & bit) != 0;
    if (wanted == ((memberships_ & bit) != 0)) continue;
    if (!change_membership(type, wanted)) return sys::kErrorGenFailure;
    memberships_ ^= bit;
  }
  packet_filter_ = filter;
  return 0;
}

bool LinuxDriver::change_membership(int type, bool add) {
  auto index = kernel::index(socket_, interface_);
  if (!index) return false;
  packet_mreq request{};
  request.mr_ifindex = *index;
  request.mr_type = static_cast<unsigned short>(type);
  return setsockopt(socket_, SOL_PACKET, add ? PACKET_ADD_MEMBERSHIP : PACKET_DROP_MEMBERSHIP,
                    &request, sizeof request) == 0;
}

}  // namespace pkdv::capture
