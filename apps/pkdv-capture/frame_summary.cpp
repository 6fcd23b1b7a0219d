#include "frame_summary.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <iterator>

#include "address_text.h"

namespace pkdv_capture {
namespace {

constexpr uint16_t kEtherIpv4 = 0x0800;
constexpr uint16_t kEtherArp = 0x0806;
constexpr uint16_t kEtherVlan = 0x8100;
constexpr uint16_t kEtherQinQ = 0x88A8;
constexpr uint16_t kEtherIpv6 = 0x86DD;
constexpr uint16_t kMaxLengthField = 1500;  // EtherType values up to this are 802.3 lengths

constexpr uint8_t kProtoIcmp = 1;
constexpr uint8_t kProtoTcp = 6;
constexpr uint8_t kProtoUdp = 17;
constexpr uint8_t kProtoIcmpv6 = 58;

constexpr char kTruncated[] = " [truncated]";

using Bytes = std::span<const uint8_t>;

uint16_t be16(Bytes b, size_t at) {
  return static_cast<uint16_t>(b[at] << 8 | b[at + 1]);
}

__attribute__((format(printf, 1, 2))) std::string format(const char* pattern, ...) {
  char text[96];
  va_list values;
  va_start(values, pattern);
  std::vsnprintf(text, sizeof text, pattern, values);
  va_end(values);
  return text;
}

std::string tcp_flags(uint8_t flags) {
  static constexpr std::pair<uint8_t, const char*> kNames[] = {
      {0x01, "FIN"}, {0x02, "SYN"}, {0x04, "RST"}, {0x08, "PSH"},
      {0x10, "ACK"}, {0x20, "URG"}, {0x40, "ECE"}, {0x80, "CWR"}};
  // Built front to back in one string: prepending the bracket to a finished
  // text would move it for nothing.
  std::string text = "[";
  for (auto [bit, name] : kNames) {
    if (!(flags & bit)) continue;
    if (text.size() > 1) text += ',';
    text += name;
  }
  if (text.size() == 1) text += "none";
  text += ']';
  return text;
}

// `segment` holds what was captured of the transport header and payload; `length` is the
// length the network header declares for them.
std::string transport_summary(uint8_t protocol, Bytes segment, unsigned length) {
  switch (protocol) {
    case kProtoTcp: {
      if (segment.size() < 20) return std::string("TCP") + kTruncated;
      unsigned header = (segment[12] >> 4) * 4u;
      unsigned payload = length > header ? length - header : 0;
      return format("TCP %u > %u ", be16(segment, 0), be16(segment, 2)) + tcp_flags(segment[13]) +
             format(" len %u", payload);
    }
    case kProtoUdp:
      if (segment.size() < 8) return std::string("UDP") + kTruncated;
      return format("UDP %u > %u len %u", be16(segment, 0), be16(segment, 2),
                    length > 8 ? length - 8 : 0);
    case kProtoIcmp:
    case kProtoIcmpv6: {
      const char* name = protocol == kProtoIcmp ? "ICMP" : "ICMPv6";
      if (segment.size() < 4) return std::string(name) + kTruncated;
      uint8_t type = segment[0];
      bool v4 = protocol == kProtoIcmp;
      bool echo_request = type == (v4 ? 8 : 128), echo_reply = type == (v4 ? 0 : 129);
      if ((echo_request || echo_reply) && segment.size() < 8) return std::string(name) + kTruncated;
      if (echo_request || echo_reply)
        return format("%s echo %s id %u seq %u", name, echo_request ? "request" : "reply",
                      be16(segment, 4), be16(segment, 6));
      using Names = std::span<const std::pair<uint8_t, const char*>>;
      static constexpr std::pair<uint8_t, const char*> kIcmp[] = {
          {3, "destination unreachable"}, {5, "redirect"}, {11, "time exceeded"}};
      static constexpr std::pair<uint8_t, const char*> kIcmpv6[] = {{1, "destination unreachable"},
                                                                    {2, "packet too big"},
                                                                    {3, "time exceeded"},
                                                                    {133, "router solicitation"},
                                                                    {134, "router advertisement"},
                                                                    {135, "neighbor solicitation"},
                                                                    {136, "neighbor advertisement"},
                                                                    {137, "redirect"}};
      for (auto [known, text] : v4 ? Names(kIcmp) : Names(kIcmpv6))
        if (type == known) return format("%s %s", name, text);
      return format("%s type %u code %u", name, type, segment[1]);
    }
    default:
      return format("protocol %u len %u", protocol, length);
  }
}

std::string ipv4_summary(Bytes packet) {
  if (packet.size() < 20) return std::string("IPv4") + kTruncated;
  unsigned header = (packet[0] & 0x0F) * 4u;
  std::string text =
      "IPv4 " + ipv4_text(packet.subspan<12, 4>()) + " > " + ipv4_text(packet.subspan<16, 4>());
  if (header < 20) return text + format(", bad header length %u", header);
  unsigned total = be16(packet, 2);
  unsigned length = total > header ? total - header : 0;
  unsigned fragment_offset = (be16(packet, 6) & 0x1FFF) * 8u;
  if (fragment_offset != 0)
    return text +
           format(", fragment of protocol %u offset %u len %u", packet[9], fragment_offset, length);
  if (packet.size() < header) return text + kTruncated;
  bool more_fragments = be16(packet, 6) & 0x2000;
  return text + ", " + transport_summary(packet[9], packet.subspan(header), length) +
         (more_fragments ? " (first fragment)" : "");
}

std::string ipv6_summary(Bytes packet) {
  if (packet.size() < 40) return std::string("IPv6") + kTruncated;
  return "IPv6 " + ipv6_text(packet.subspan<8, 16>()) + " > " +
         ipv6_text(packet.subspan<24, 16>()) + ", " +
         transport_summary(packet[6], packet.subspan(40), be16(packet, 4));
}

std::string arp_summary(Bytes packet) {
  if (packet.size() < 8) return std::string("ARP") + kTruncated;
  uint16_t operation = be16(packet, 6);
  bool ethernet_ipv4 =
      be16(packet, 0) == 1 && be16(packet, 2) == kEtherIpv4 && packet[4] == 6 && packet[5] == 4;
  if (!ethernet_ipv4) return format("ARP operation %u", operation);
  if (packet.size() < 28) return std::string("ARP") + kTruncated;
  std::string sender_ip = ipv4_text(packet.subspan<14, 4>());
  std::string target_ip = ipv4_text(packet.subspan<24, 4>());
  if (operation == 1) return "ARP who-has " + target_ip + " tell " + sender_ip;
  if (operation == 2)
    return "ARP reply " + sender_ip + " is-at " + mac_text(packet.subspan<8, 6>());
  return format("ARP operation %u", operation);
}

// Everything after a link-level header that names its payload by EtherType: VLAN tags, then
// the network layer. `text` holds what came before (may be empty).
std::string ethertype_summary(std::string text, uint16_t type, Bytes payload) {
  auto add = [&](const std::string& part) {
    if (!text.empty()) text += ", ";
    text += part;
  };
  while (type == kEtherVlan || type == kEtherQinQ) {
    if (payload.size() < 4) {
      add("vlan");
      return text + kTruncated;
    }
    add(format("vlan %u", be16(payload, 0) & 0x0FFF));
    type = be16(payload, 2);
    payload = payload.subspan(4);
  }
  switch (type) {
    case kEtherIpv4:
      add(ipv4_summary(payload));
      break;
    case kEtherIpv6:
      add(ipv6_summary(payload));
      break;
    case kEtherArp:
      add(arp_summary(payload));
      break;
    default:
      if (type <= kMaxLengthField)
        add(format("802.3 length %u", type));
      else
        add(format("ethertype 0x%04x len %u", type, unsigned(payload.size())));
  }
  return text;
}

std::string ethernet_summary(Bytes frame, bool link_header) {
  if (frame.size() < 14) return std::string("Ethernet") + kTruncated;
  std::string link;
  if (link_header) link = mac_text(frame.subspan<6, 6>()) + " > " + mac_text(frame.subspan<0, 6>());
  return ethertype_summary(link, be16(frame, 12), frame.subspan(14));
}

// The direction a Linux cooked header gives the frame.
const char* packet_type_text(unsigned type) {
  static constexpr const char* kNames[] = {"In", "B", "M", "P", "Out"};
  return type < std::size(kNames) ? kNames[type] : "?";
}

std::string link_address_text(Bytes address) {
  if (address.size() == 6) return mac_text(address.first<6>());
  std::string text;
  for (uint8_t byte : address) text += format(text.empty() ? "%02x" : ":%02x", byte);
  return text.empty() ? "-" : text;
}

// Linux cooked capture: "any" and interfaces without a link-level header of their own. Version
// 1 has 16 bytes (packet type, hardware type, address length, 8 address bytes, protocol),
// version 2 20 (protocol, reserved, interface index, hardware type, packet type, address
// length, 8 address bytes).
std::string cooked_summary(Bytes frame, bool version2, bool link_header) {
  const size_t header = version2 ? 20 : 16;
  const char* name = version2 ? "Linux cooked v2" : "Linux cooked";
  if (frame.size() < header) return std::string(name) + kTruncated;
  unsigned packet_type = version2 ? frame[10] : be16(frame, 0);
  size_t address_length = std::min<size_t>(version2 ? frame[11] : be16(frame, 4), 8);
  Bytes address = frame.subspan(version2 ? 12 : 6, address_length);
  uint16_t protocol = be16(frame, version2 ? 0 : 14);
  std::string link;
  if (link_header) {
    link = std::string(packet_type_text(packet_type)) + " " + link_address_text(address);
    if (version2)
      link = format("ifindex %u ", unsigned(be16(frame, 4)) << 16 | be16(frame, 6)) + link;
  }
  return ethertype_summary(link, protocol, frame.subspan(header));
}

std::string ip_summary(Bytes packet) {
  if (packet.empty()) return std::string("IP") + kTruncated;
  switch (packet[0] >> 4) {
    case 4:
      return ipv4_summary(packet);
    case 6:
      return ipv6_summary(packet);
  }
  return format("IP version %u len %u", packet[0] >> 4, unsigned(packet.size()));
}

// BSD loopback: a 4-byte address family, in the capturing host's byte order (null) or in
// network order (loop). IPv6's number differs between systems.
std::string loopback_summary(Bytes frame, bool network_order, bool link_header) {
  if (frame.size() < 4) return std::string("Loopback") + kTruncated;
  uint32_t family = uint32_t(frame[0]) << 24 | uint32_t(frame[1]) << 16 | frame[2] << 8 | frame[3];
  // A family is small: when the high bytes hold it, the file was written little-endian.
  if (!network_order && (family & 0xFFFF) == 0) family = frame[0] | frame[1] << 8;
  std::string text = link_header ? format("AF %u, ", family) : std::string();
  Bytes packet = frame.subspan(4);
  switch (family) {
    case 2:
      return text + ipv4_summary(packet);
    case 10:
    case 23:
    case 24:
    case 28:
    case 30:
      return text + ipv6_summary(packet);
  }
  return text + format("address family %u len %u", family, unsigned(packet.size()));
}

}  // namespace

std::string link_type_name(int link_type) {
  switch (link_type) {
    case kLinkTypeNull:
      return "NULL (BSD loopback)";
    case kLinkTypeEthernet:
      return "EN10MB (Ethernet)";
    case kLinkTypeRaw:
      return "RAW (raw IP)";
    case kLinkTypeLoop:
      return "LOOP (OpenBSD loopback)";
    case kLinkTypeLinuxSll:
      return "LINUX_SLL (Linux cooked v1)";
    case kLinkTypeIpv4:
      return "IPV4 (raw IPv4)";
    case kLinkTypeIpv6:
      return "IPV6 (raw IPv6)";
    case kLinkTypeLinuxSll2:
      return "LINUX_SLL2 (Linux cooked v2)";
  }
  return std::to_string(link_type);
}

std::string summarize_frame(int link_type, Bytes frame, bool link_header) {
  switch (link_type) {
    case kLinkTypeEthernet:
      return ethernet_summary(frame, link_header);
    case kLinkTypeLinuxSll:
    case kLinkTypeLinuxSll2:
      return cooked_summary(frame, link_type == kLinkTypeLinuxSll2, link_header);
    case kLinkTypeRaw:
    case kLinkTypeIpv4:
    case kLinkTypeIpv6:
      return ip_summary(frame);
    case kLinkTypeNull:
    case kLinkTypeLoop:
      return loopback_summary(frame, link_type == kLinkTypeLoop, link_header);
  }
  return format("link type %d, length %u", link_type, unsigned(frame.size()));
}

}  // namespace pkdv_capture
