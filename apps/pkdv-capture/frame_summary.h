// One-line description of a frame's Ethernet, VLAN, ARP and IP headers.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace pkdv_capture {

// Describes the captured bytes of an Ethernet frame, for example
// "02:00:00:00:00:01 > 02:00:00:00:00:02, IPv4 192.0.2.10 > 192.0.2.20, TCP 51000 > 80 [SYN] len
// 0". Never reads past `frame`; a header cut short by the capture ends the text with "[truncated]".
std::string summarize_frame(std::span<const uint8_t> frame);

}  // namespace pkdv_capture
