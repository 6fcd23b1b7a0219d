#include "capture/libpcap/linux_interface.h"

#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace pkdv::capture::linux_interface {
namespace {

bool interface_ioctl(int socket, const std::string& name, unsigned long request,
                     ifreq* request_data) {
  if (name.empty() || name.size() >= IFNAMSIZ) return false;
  std::memset(request_data, 0, sizeof *request_data);
  std::memcpy(request_data->ifr_name, name.data(), name.size());
  return ioctl(socket, request, request_data) == 0;
}

// An ethtool command: `command` starts with the command number and is filled in place.
bool ethtool(int socket, const std::string& name, void* command) {
  if (name.empty() || name.size() >= IFNAMSIZ) return false;
  ifreq request{};
  std::memcpy(request.ifr_name, name.data(), name.size());
  request.ifr_data = static_cast<char*>(command);
  return ioctl(socket, SIOCETHTOOL, &request) == 0;
}

MacAddress first_six(const void* bytes) {
  MacAddress address;
  std::memcpy(address.data(), bytes, address.size());
  return address;
}

// Two hex digits per byte, as /proc/net/dev_mcast prints them.
std::optional<MacAddress> parse_hex_address(const std::string& text) {
  MacAddress address;
  if (text.size() != 2 * address.size()) return std::nullopt;
  for (std::size_t i = 0; i < address.size(); ++i) {
    unsigned value = 0;
    if (std::sscanf(text.c_str() + 2 * i, "%2x", &value) != 1) return std::nullopt;
    address[i] = static_cast<std::uint8_t>(value);
  }
  return address;
}

}  // namespace

std::optional<int> index(int socket, const std::string& name) {
  ifreq request;
  if (!interface_ioctl(socket, name, SIOCGIFINDEX, &request)) return std::nullopt;
  return request.ifr_ifindex;
}

std::optional<MacAddress> current_address(int socket, const std::string& name) {
  ifreq request;
  if (!interface_ioctl(socket, name, SIOCGIFHWADDR, &request)) return std::nullopt;
  return first_six(request.ifr_hwaddr.sa_data);
}

std::optional<MacAddress> permanent_address(int socket, const std::string& name) {
  alignas(ethtool_perm_addr) std::uint8_t command[sizeof(ethtool_perm_addr) + 32] = {};
  auto* header = reinterpret_cast<ethtool_perm_addr*>(command);
  header->cmd = ETHTOOL_GPERMADDR;
  header->size = sizeof command - sizeof(ethtool_perm_addr);
  if (!ethtool(socket, name, command) || header->size != 6) return std::nullopt;
  MacAddress address = first_six(command + sizeof(ethtool_perm_addr));
  if (address == MacAddress{}) return std::nullopt;
  return address;
}

std::optional<std::uint32_t> mtu(int socket, const std::string& name) {
  ifreq request;
  if (!interface_ioctl(socket, name, SIOCGIFMTU, &request)) return std::nullopt;
  return static_cast<std::uint32_t>(request.ifr_mtu);
}

std::optional<std::uint32_t> flags(int socket, const std::string& name) {
  ifreq request;
  if (!interface_ioctl(socket, name, SIOCGIFFLAGS, &request)) return std::nullopt;
  return static_cast<std::uint16_t>(request.ifr_flags);
}

std::optional<std::uint32_t> speed_mbps(int socket, const std::string& name) {
  ethtool_cmd command{};
  command.cmd = ETHTOOL_GSET;
  if (!ethtool(socket, name, &command)) return std::nullopt;
  std::uint32_t speed = ethtool_cmd_speed(&command);
  if (speed == 0 || speed == static_cast<std::uint32_t>(SPEED_UNKNOWN)) return std::nullopt;
  return speed;
}

std::optional<std::string> driver_name(int socket, const std::string& name) {
  ethtool_drvinfo info{};
  info.cmd = ETHTOOL_GDRVINFO;
  if (!ethtool(socket, name, &info)) return std::nullopt;
  std::string driver(info.driver, strnlen(info.driver, sizeof info.driver));
  if (driver.empty()) return std::nullopt;
  return driver;
}

std::optional<PacketCounters> packet_counters(const std::string& name) {
  // "  NAME: rx_bytes rx_packets errs drop fifo frame compressed multicast
  //          tx_bytes tx_packets ..."
  std::ifstream table("/proc/net/dev");
  std::string line;
  while (std::getline(table, line)) {
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::size_t start = line.find_first_not_of(' ');
    if (line.compare(start, colon - start, name) != 0) continue;
    std::istringstream fields(line.substr(colon + 1));
    std::uint64_t values[10];
    for (auto& value : values) {
      if (!(fields >> value)) return std::nullopt;
    }
    return PacketCounters{values[1], values[9]};
  }
  return std::nullopt;
}

std::optional<std::vector<MacAddress>> multicast_addresses(const std::string& name) {
  // "INDEX NAME USERS GLOBAL-USERS HEXADDRESS", one line per address.
  std::ifstream table("/proc/net/dev_mcast");
  if (!table) return std::nullopt;
  std::vector<MacAddress> addresses;
  std::string line;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string index, interface, users, global, hex;
    if (!(fields >> index >> interface >> users >> global >> hex) || interface != name) continue;
    if (auto address = parse_hex_address(hex)) addresses.push_back(*address);
  }
  return addresses;
}

}  // namespace pkdv::capture::linux_interface
