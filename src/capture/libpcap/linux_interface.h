// What the Linux kernel says about one network interface, by name. The ioctl
// queries go through `socket`, so they see the network namespace the socket
// was made in; the /proc/net tables show the calling process's namespace.
// Each answer is empty when the kernel cannot give it (no such interface, or
// the interface's driver does not know).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pkdv::capture::linux_interface {

using MacAddress = std::array<std::uint8_t, 6>;

std::optional<int> index(int socket, const std::string& name);
std::optional<MacAddress> current_address(int socket, const std::string& name);
// The burned-in address; empty when the driver has none (e.g. veth).
std::optional<MacAddress> permanent_address(int socket, const std::string& name);
std::optional<std::uint32_t> mtu(int socket, const std::string& name);
// IFF_UP, IFF_RUNNING, IFF_PROMISC, IFF_ALLMULTI, ...
std::optional<std::uint32_t> flags(int socket, const std::string& name);
std::optional<std::uint32_t> speed_mbps(int socket, const std::string& name);
std::optional<std::string> driver_name(int socket, const std::string& name);

struct PacketCounters {
  std::uint64_t received;
  std::uint64_t transmitted;
};
std::optional<PacketCounters> packet_counters(const std::string& name);
// The link-layer multicast addresses the interface listens to.
std::optional<std::vector<MacAddress>> multicast_addresses(const std::string& name);

}  // namespace pkdv::capture::linux_interface
