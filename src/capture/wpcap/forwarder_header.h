// The frame header of a 32-bit wpcap.dll that forwards to a Unix libpcap under
// Wine. Wine 8.0's 32-bit forwarder hands back [seconds, captured length, ?, ?]:
// its host side reads libpcap's 16-byte header as if the time stamp were two
// 64-bit values, so the microseconds and the wire length are lost (they fall
// into the upper halves) and the last two words are whatever follows in its
// memory. The frame's data pointer is right.
#pragma once

#include "capture/capture.h"
#include "capture/wpcap/wpcap_abi.h"

namespace pkdv::wpcap {

// Whether headers from this wpcap.dll may come in the shifted layout: a
// 32-bit process, under Wine, on a forwarder to a Unix libpcap (its version
// text is that libpcap's own; WinPcap's and Npcap's are not).
bool may_shift_header(bool under_wine, const char* version);

// The microseconds of a frame whose header kept only its second, from the
// clock read at the poll that took the frame: the poll time held within the
// frame's second. A poll within that second follows the capture by no more
// than the frame waited; a later one means the frame came near the second's
// end (its last microsecond is given); an earlier one (the clock was set
// back) gives the second's start.
std::int32_t microseconds_at_poll(std::int32_t frame_seconds, std::int64_t poll_time_us);

// The header as the capture unit reports it; `poll_time_us` is the clock at
// the poll, in microseconds since 1970. A header is read as the shifted
// layout only when its second word is a possible captured length (1 up to
// the largest frame libpcap captures) and its last two words cannot be
// lengths at all (both beyond it): then that length, the wire length equal to
// it, and microseconds_at_poll. Any other header is taken as it is, so a
// forwarder that fixes its layout is read unchanged and a genuine but odd
// header is left to the reader.
capture::FrameHeader read_forwarder_header(const pcap_pkthdr& header, std::int64_t poll_time_us);

}  // namespace pkdv::wpcap
