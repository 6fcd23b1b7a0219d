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
constexpr uint16_t kEtherRarp = 0x8035;
constexpr uint16_t kEtherVlan = 0x8100;
constexpr uint16_t kEtherQinQ = 0x88A8;
constexpr uint16_t kEtherIpv6 = 0x86DD;
constexpr uint16_t kMaxLengthField = 1500;  // EtherType values up to this are 802.3 lengths

constexpr uint8_t kProtoHopByHop = 0;
constexpr uint8_t kProtoIcmp = 1;
constexpr uint8_t kProtoIpInIp = 4;
constexpr uint8_t kProtoTcp = 6;
constexpr uint8_t kProtoUdp = 17;
constexpr uint8_t kProtoIpv6 = 41;
constexpr uint8_t kProtoRouting = 43;
constexpr uint8_t kProtoFragment = 44;
constexpr uint8_t kProtoGre = 47;
constexpr uint8_t kProtoIcmpv6 = 58;
constexpr uint8_t kProtoDestinationOptions = 60;

// Tunnels (GRE, IP in IP) nest; deeper than this the rest of the frame is only counted, so
// that a crafted frame cannot recurse without bound.
constexpr int kMaxNesting = 8;
constexpr uint8_t kLlcStp = 0x42;  // DSAP and SSAP of spanning tree BPDUs

// How much each layer tells, and how deep in tunnels it is.
struct Detail {
  bool verbose = false;
  bool quiet = false;
  int depth = 0;
  Detail inner() const { return {verbose, quiet, depth + 1}; }
};

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

// TCP options as tcpdump's -v lists them: "mss 1460,nop,wscale 7,sackOK,TS val 1 ecr 0".
std::string tcp_options(Bytes options) {
  std::string text;
  size_t at = 0;
  while (at < options.size()) {
    uint8_t kind = options[at];
    if (!text.empty()) text += ',';
    if (kind == 0) return text + "eol";
    if (kind == 1) {
      text += "nop";
      ++at;
      continue;
    }
    if (at + 1 >= options.size() || options[at + 1] < 2 || at + options[at + 1] > options.size())
      return text + "bad opt";
    Bytes option = options.subspan(at, options[at + 1]);
    if (kind == 2 && option.size() == 4)
      text += format("mss %u", be16(option, 2));
    else if (kind == 3 && option.size() == 3)
      text += format("wscale %u", option[2]);
    else if (kind == 4 && option.size() == 2)
      text += "sackOK";
    else if (kind == 8 && option.size() == 10)
      text += format("TS val %u ecr %u", unsigned(be16(option, 2)) << 16 | be16(option, 4),
                     unsigned(be16(option, 6)) << 16 | be16(option, 8));
    else
      text += format("opt-%u:len %u", kind, unsigned(option.size()));
    at += option.size();
  }
  return text;
}

std::string ipv4_summary(Bytes packet, const Detail& detail);
std::string ipv6_summary(Bytes packet, const Detail& detail);
std::string ethertype_summary(std::string text, uint16_t type, Bytes payload,
                              const Detail& detail);

// GRE version 0: flags and protocol, then the optional checksum, key and sequence words.
std::string gre_summary(Bytes segment, const Detail& detail) {
  if (segment.size() < 4) return std::string("GRE") + kTruncated;
  uint16_t flags = be16(segment, 0);
  if ((flags & 0x7) != 0) return format("GRE version %u", flags & 0x7);
  size_t header = 4 + (flags & 0x8000 ? 4 : 0) + (flags & 0x2000 ? 4 : 0) + (flags & 0x1000 ? 4 : 0);
  if (segment.size() < header) return std::string("GRE") + kTruncated;
  return ethertype_summary("GRE", be16(segment, 2), segment.subspan(header), detail.inner());
}

// `segment` holds what was captured of the transport header and payload; `length` is the
// length the network header declares for them.
std::string transport_summary(uint8_t protocol, Bytes segment, unsigned length,
                              const Detail& detail) {
  if (detail.depth > kMaxNesting) return format("protocol %u len %u", protocol, length);
  switch (protocol) {
    case kProtoTcp: {
      if (segment.size() < 20) return std::string("TCP") + kTruncated;
      unsigned header = (segment[12] >> 4) * 4u;
      std::string ports = format("TCP %u > %u", be16(segment, 0), be16(segment, 2));
      if (header < 20) return ports + format(" [bad hdr length %u - too short, < 20]", header);
      unsigned payload = length > header ? length - header : 0;
      if (detail.quiet) return ports + format(" len %u", payload);
      std::string text = ports + " " + tcp_flags(segment[13]);
      if (detail.verbose) {
        text += format(" win %u", be16(segment, 14));
        if (header > 20 && segment.size() >= header)
          text += " options [" + tcp_options(segment.subspan(20, header - 20)) + "]";
      }
      return text + format(" len %u", payload);
    }
    case kProtoGre:
      return gre_summary(segment, detail);
    case kProtoIpInIp:
      return ipv4_summary(segment, detail.inner());
    case kProtoIpv6:
      return ipv6_summary(segment, detail.inner());
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
                                                                    {137, "redirect"},
                                                                    {130, "multicast listener query"},
                                                                    {131, "multicast listener report"},
                                                                    {132, "multicast listener done"},
                                                                    {143, "multicast listener report v2"}};
      for (auto [known, text] : v4 ? Names(kIcmp) : Names(kIcmpv6))
        if (type == known) return format("%s %s", name, text);
      return format("%s type %u code %u", name, type, segment[1]);
    }
    default:
      return format("protocol %u len %u", protocol, length);
  }
}

std::string ipv4_summary(Bytes packet, const Detail& detail) {
  if (packet.size() < 20) return std::string("IPv4") + kTruncated;
  unsigned header = (packet[0] & 0x0F) * 4u;
  std::string text =
      "IPv4 " + ipv4_text(packet.subspan<12, 4>()) + " > " + ipv4_text(packet.subspan<16, 4>());
  if (header < 20) return text + format(", bad header length %u", header);
  unsigned total = be16(packet, 2);
  uint16_t flags_offset = be16(packet, 6);
  if (detail.verbose) {
    std::string flags;
    if (flags_offset & 0x4000) flags = "DF";
    if (flags_offset & 0x2000) flags += "+";
    text += format(" (ttl %u, id %u, offset %u, flags [%s], length %u)", packet[8],
                   be16(packet, 4), (flags_offset & 0x1FFF) * 8u,
                   flags.empty() ? "none" : flags.c_str(), total);
  }
  if (total < header)
    return text + format(", bad hdr length: total length %u < header length %u", total, header);
  unsigned length = total - header;
  unsigned fragment_offset = (flags_offset & 0x1FFF) * 8u;
  if (fragment_offset != 0)
    return text +
           format(", fragment of protocol %u offset %u len %u", packet[9], fragment_offset, length);
  if (packet.size() < header) return text + kTruncated;
  bool more_fragments = flags_offset & 0x2000;
  return text + ", " + transport_summary(packet[9], packet.subspan(header), length, detail) +
         (more_fragments ? " (first fragment)" : "");
}

// IPv6 extension headers are followed to the transport: hop-by-hop, routing and destination
// options (8-byte units after the first 8), and a fragment header (8 bytes).
std::string ipv6_summary(Bytes packet, const Detail& detail) {
  if (packet.size() < 40) return std::string("IPv6") + kTruncated;
  std::string text = "IPv6 " + ipv6_text(packet.subspan<8, 16>()) + " > " +
                     ipv6_text(packet.subspan<24, 16>());
  unsigned length = be16(packet, 4);
  if (detail.verbose)
    text += format(" (hlim %u, flowlabel 0x%05x, length %u)", packet[7],
                   unsigned(packet[1] & 0x0F) << 16 | be16(packet, 2), length);
  uint8_t next = packet[6];
  Bytes rest = packet.subspan(40);
  bool first_fragment = false;
  for (;;) {
    if (next == kProtoHopByHop || next == kProtoRouting || next == kProtoDestinationOptions) {
      if (rest.size() < 2) return text + kTruncated;
      size_t size = (rest[1] + 1u) * 8u;
      if (rest.size() < size) return text + kTruncated;
      next = rest[0];
      rest = rest.subspan(size);
      length = length > size ? length - unsigned(size) : 0;
    } else if (next == kProtoFragment) {
      if (rest.size() < 8) return text + kTruncated;
      unsigned offset = be16(rest, 2) & 0xFFF8;
      first_fragment = be16(rest, 2) & 1;
      next = rest[0];
      rest = rest.subspan(8);
      length = length > 8 ? length - 8 : 0;
      if (offset != 0)
        return text + format(", fragment of protocol %u offset %u len %u", next, offset, length);
    } else {
      break;
    }
  }
  return text + ", " + transport_summary(next, rest, length, detail) +
         (first_fragment ? " (first fragment)" : "");
}

// ARP and RARP share a layout: RARP asks for the protocol address of a hardware address.
std::string arp_summary(Bytes packet, bool reverse) {
  const std::string name = reverse ? "RARP" : "ARP";
  if (packet.size() < 8) return name + kTruncated;
  uint16_t operation = be16(packet, 6);
  bool ethernet_ipv4 =
      be16(packet, 0) == 1 && be16(packet, 2) == kEtherIpv4 && packet[4] == 6 && packet[5] == 4;
  if (!ethernet_ipv4) return name + format(" operation %u", operation);
  if (packet.size() < 28) return name + kTruncated;
  std::string sender_ip = ipv4_text(packet.subspan<14, 4>());
  std::string target_ip = ipv4_text(packet.subspan<24, 4>());
  if (operation == 1) return "ARP who-has " + target_ip + " tell " + sender_ip;
  if (operation == 2)
    return "ARP reply " + sender_ip + " is-at " + mac_text(packet.subspan<8, 6>());
  if (operation == 3)
    return "RARP who-is " + mac_text(packet.subspan<18, 6>()) + " tell " +
           mac_text(packet.subspan<8, 6>());
  if (operation == 4)
    return "RARP reply " + mac_text(packet.subspan<18, 6>()) + " at " + target_ip;
  return name + format(" operation %u", operation);
}

// A spanning tree BPDU after its LLC header: configuration (with the root bridge, path cost
// and port), topology change, or rapid/multiple spanning tree.
std::string stp_summary(Bytes bpdu) {
  if (bpdu.size() < 4) return std::string("STP") + kTruncated;
  unsigned version = bpdu[2], type = bpdu[3];
  if (type == 0x80) return "STP 802.1d, Topology Change";
  if (type != 0x00 && type != 0x02) return format("STP version %u, type 0x%02x", version, type);
  if (bpdu.size() < 35) return std::string("STP") + kTruncated;
  std::string root = format("%04x.", be16(bpdu, 5)) + mac_text(bpdu.subspan<7, 6>());
  unsigned cost = unsigned(be16(bpdu, 13)) << 16 | be16(bpdu, 15);
  const char* name = type == 0x00 ? "802.1d, Config" : version == 3 ? "802.1s, MSTP" : "802.1w, Rapid STP";
  return std::string("STP ") + name + ", root " + root + format(" cost %u port 0x%04x", cost, be16(bpdu, 25));
}

// Everything after a link-level header that names its payload by EtherType: VLAN tags, then
// the network layer. `text` holds what came before (may be empty).
std::string ethertype_summary(std::string text, uint16_t type, Bytes payload,
                              const Detail& detail) {
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
      add(ipv4_summary(payload, detail));
      break;
    case kEtherIpv6:
      add(ipv6_summary(payload, detail));
      break;
    case kEtherArp:
    case kEtherRarp:
      add(arp_summary(payload, type == kEtherRarp));
      break;
    default:
      if (type <= kMaxLengthField && payload.size() >= 3 && payload[0] == kLlcStp &&
          payload[1] == kLlcStp)
        add(stp_summary(payload.subspan(3)));
      else if (type <= kMaxLengthField)
        add(format("802.3 length %u", type));
      else
        add(format("ethertype 0x%04x len %u", type, unsigned(payload.size())));
  }
  return text;
}

std::string ethernet_summary(Bytes frame, bool link_header, const Detail& detail) {
  if (frame.size() < 14) return std::string("Ethernet") + kTruncated;
  std::string link;
  if (link_header) link = mac_text(frame.subspan<6, 6>()) + " > " + mac_text(frame.subspan<0, 6>());
  return ethertype_summary(link, be16(frame, 12), frame.subspan(14), detail);
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
std::string cooked_summary(Bytes frame, bool version2, bool link_header, const Detail& detail) {
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
  return ethertype_summary(link, protocol, frame.subspan(header), detail);
}

std::string ip_summary(Bytes packet, const Detail& detail) {
  if (packet.empty()) return std::string("IP") + kTruncated;
  switch (packet[0] >> 4) {
    case 4:
      return ipv4_summary(packet, detail);
    case 6:
      return ipv6_summary(packet, detail);
  }
  return format("IP version %u len %u", packet[0] >> 4, unsigned(packet.size()));
}

// BSD loopback: a 4-byte address family, in the capturing host's byte order (null) or in
// network order (loop). IPv6's number differs between systems.
std::string loopback_summary(Bytes frame, bool network_order, bool link_header,
                             const Detail& detail) {
  if (frame.size() < 4) return std::string("Loopback") + kTruncated;
  uint32_t family = uint32_t(frame[0]) << 24 | uint32_t(frame[1]) << 16 | frame[2] << 8 | frame[3];
  // A family is small: when the high bytes hold it, the file was written little-endian.
  if (!network_order && (family & 0xFFFF) == 0) family = frame[0] | frame[1] << 8;
  std::string text = link_header ? format("AF %u, ", family) : std::string();
  Bytes packet = frame.subspan(4);
  switch (family) {
    case 2:
      return text + ipv4_summary(packet, detail);
    case 10:
    case 23:
    case 24:
    case 28:
    case 30:
      return text + ipv6_summary(packet, detail);
  }
  return text + format("address family %u len %u", family, unsigned(packet.size()));
}

}  // namespace

size_t link_header_size(int link_type) {
  switch (link_type) {
    case kLinkTypeEthernet:
      return 14;
    case kLinkTypeLinuxSll:
      return 16;
    case kLinkTypeLinuxSll2:
      return 20;
    case kLinkTypeNull:
    case kLinkTypeLoop:
      return 4;
  }
  return 0;
}

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

std::string summarize_frame(int link_type, Bytes frame, const SummaryStyle& style) {
  const Detail detail{style.verbose, style.quiet};
  switch (link_type) {
    case kLinkTypeEthernet:
      return ethernet_summary(frame, style.link_header, detail);
    case kLinkTypeLinuxSll:
    case kLinkTypeLinuxSll2:
      return cooked_summary(frame, link_type == kLinkTypeLinuxSll2, style.link_header, detail);
    case kLinkTypeRaw:
    case kLinkTypeIpv4:
    case kLinkTypeIpv6:
      return ip_summary(frame, detail);
    case kLinkTypeNull:
    case kLinkTypeLoop:
      return loopback_summary(frame, link_type == kLinkTypeLoop, style.link_header, detail);
  }
  return format("link type %d, length %u", link_type, unsigned(frame.size()));
}

}  // namespace pkdv_capture
