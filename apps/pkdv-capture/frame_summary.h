// One-line description of a frame: its link-level header (Ethernet, Linux cooked capture v1
// and v2, BSD loopback, none for raw IP), VLAN tags, ARP, IPv4/IPv6 and their transports.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace pkdv_capture {

// The link types decoded (libpcap's DLT_ values, as pcap_datalink gives them).
inline constexpr int kLinkTypeNull = 0;
inline constexpr int kLinkTypeEthernet = 1;
inline constexpr int kLinkTypeRaw = 12;
inline constexpr int kLinkTypeLoop = 108;
inline constexpr int kLinkTypeLinuxSll = 113;
inline constexpr int kLinkTypeIpv4 = 228;
inline constexpr int kLinkTypeIpv6 = 229;
inline constexpr int kLinkTypeLinuxSll2 = 276;

// The bytes of the link-level header of a frame of `link_type`: what -x leaves out (0 for a
// link type without one or not decoded).
size_t link_header_size(int link_type);

// "EN10MB (Ethernet)", ..., or "link type N" for one not decoded.
std::string link_type_name(int link_type);

// What a summary shows beyond the network and transport layers.
struct SummaryStyle {
  bool link_header = false;  // -e: the link-level header first
  bool verbose = false;      // -v: IPv4 ttl, id, offset, flags and length; IPv6 hop limit,
                             // flow label and length; TCP window and options
  bool quiet = false;        // -q: shorter lines (no TCP flags)
};

// Describes the captured bytes of a frame of `link_type`, for example "IPv4 192.0.2.10 >
// 192.0.2.20, TCP 51000 > 80 [SYN] len 0"; with `style.link_header` the link-level header comes
// first ("02:00:00:00:00:01 > 02:00:00:00:00:02, IPv4 ..."). A link type not decoded gives
// "link type N, length L". Never reads past `frame`; a header cut short by the capture ends
// the text with "[truncated]".
std::string summarize_frame(int link_type, std::span<const uint8_t> frame,
                            const SummaryStyle& style);

}  // namespace pkdv_capture
