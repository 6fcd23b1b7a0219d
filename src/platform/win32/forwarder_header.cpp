#include "platform/win32/forwarder_header.h"

#include <cstring>

namespace pkdv::wpcap {

namespace {

// libpcap's largest snapshot length: no captured frame is longer.
constexpr std::uint32_t kLargestFrame = 262144;
constexpr std::int32_t kMicrosecondsPerSecond = 1000000;

bool consistent(const pcap_pkthdr& h) {
  return h.caplen > 0 && h.caplen <= h.len && h.len <= kLargestFrame && h.ts.tv_usec >= 0 &&
         h.ts.tv_usec < kMicrosecondsPerSecond;
}

}  // namespace

bool may_shift_header(bool under_wine, const char* version) {
  static constexpr char kUnixLibpcap[] = "libpcap version ";
  return sizeof(void*) == 4 && under_wine && version &&
         std::strncmp(version, kUnixLibpcap, sizeof kUnixLibpcap - 1) == 0;
}

capture::FrameHeader read_forwarder_header(const pcap_pkthdr& h) {
  const auto second_word = static_cast<std::uint32_t>(h.ts.tv_usec);
  if (consistent(h) || second_word == 0 || second_word > kLargestFrame)
    return capture::FrameHeader{h.ts.tv_sec, h.ts.tv_usec, h.caplen, h.len};
  return capture::FrameHeader{h.ts.tv_sec, 0, second_word, second_word};
}

}  // namespace pkdv::wpcap
