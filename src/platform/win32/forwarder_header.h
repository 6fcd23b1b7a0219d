// The frame header of a 32-bit wpcap.dll that forwards to a Unix libpcap under
// Wine. Wine 8.0's 32-bit forwarder hands back [seconds, captured length, ?, ?]:
// its host side reads libpcap's 16-byte header as if the time stamp were two
// 64-bit values, so the microseconds and the wire length are lost (they fall
// into the upper halves) and the last two words are whatever follows in its
// memory. The frame's data pointer is right.
#pragma once

#include "platform/capture.h"
#include "platform/win32/wpcap_abi.h"

namespace pkdv::wpcap {

// Whether headers from this wpcap.dll may come in the shifted layout: a
// 32-bit process, under Wine, on a forwarder to a Unix libpcap (its version
// text is that libpcap's own; WinPcap's and Npcap's are not).
bool may_shift_header(bool under_wine, const char* version);

// The header as the capture unit reports it. A header whose words are
// consistent (captured length from 1 up to the wire length, both within the
// largest frame libpcap captures, microseconds below a second) is taken as it
// is, so a forwarder that fixes its layout is read unchanged. Otherwise, when
// the second word is a possible captured length, the header is read as the
// shifted layout: that length, the wire length equal to it, microseconds 0.
capture::FrameHeader read_forwarder_header(const pcap_pkthdr& header);

}  // namespace pkdv::wpcap
