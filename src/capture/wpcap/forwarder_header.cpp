#include "capture/wpcap/forwarder_header.h"

#include <algorithm>
#include <cstring>

namespace pkdv::wpcap {

namespace {

// libpcap's largest snapshot length: no captured frame is longer.
constexpr std::uint32_t kLargestFrame = 262144;
constexpr std::int32_t kMicrosecondsPerSecond = 1000000;

}  // namespace

bool may_shift_header(bool under_wine, const char* version) {
  static constexpr char kUnixLibpcap[] = "libpcap version ";
  return sizeof(void*) == 4 && under_wine && version &&
         std::strncmp(version, kUnixLibpcap, sizeof kUnixLibpcap - 1) == 0;
}

std::int32_t microseconds_at_poll(std::int32_t frame_seconds, std::int64_t poll_time_us) {
  const std::int64_t second_start = std::int64_t{frame_seconds} * kMicrosecondsPerSecond;
  return static_cast<std::int32_t>(
      std::clamp(poll_time_us, second_start, second_start + kMicrosecondsPerSecond - 1) -
      second_start);
}

capture::FrameHeader read_forwarder_header(const pcap_pkthdr& h, std::int64_t poll_time_us) {
  const auto second_word = static_cast<std::uint32_t>(h.ts.tv_usec);
  // The words after the captured length are whatever follows in the forwarder's memory
  // (measured: about 0x7FF2xxxx); a header whose last two words could be lengths is a genuine
  // one, however odd, and goes on to the reader unchanged.
  const bool shifted = second_word != 0 && second_word <= kLargestFrame &&
                       h.caplen > kLargestFrame && h.len > kLargestFrame;
  if (!shifted) return capture::FrameHeader{h.ts.tv_sec, h.ts.tv_usec, h.caplen, h.len};
  return capture::FrameHeader{h.ts.tv_sec, microseconds_at_poll(h.ts.tv_sec, poll_time_us),
                              second_word, second_word};
}

}  // namespace pkdv::wpcap
