// pkdv-capture's frame decoder on arbitrary bytes: the first byte picks one of the link types
// it knows (or one it does not), the second the style (-e, -v, -q); the rest is the captured
// frame, exactly as long as the fuzzer made it, so that a read past it is reported.
#include <cstddef>
#include <cstdint>
#include <span>

#include "frame_summary.h"

namespace {

constexpr int kLinkTypes[] = {
    pkdv_capture::kLinkTypeNull,     pkdv_capture::kLinkTypeEthernet,
    pkdv_capture::kLinkTypeRaw,      pkdv_capture::kLinkTypeLoop,
    pkdv_capture::kLinkTypeLinuxSll, pkdv_capture::kLinkTypeIpv4,
    pkdv_capture::kLinkTypeIpv6,     pkdv_capture::kLinkTypeLinuxSll2,
    147,  // a link type not decoded
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int link_type = kLinkTypes[data[0] % std::size(kLinkTypes)];
  const pkdv_capture::SummaryStyle style{.link_header = (data[1] & 1) != 0,
                                         .verbose = (data[1] & 2) != 0,
                                         .quiet = (data[1] & 4) != 0};
  std::span<const uint8_t> frame(data + 2, size - 2);
  std::string text = pkdv_capture::summarize_frame(link_type, frame, style);
  if (text.empty() || pkdv_capture::link_header_size(link_type) > 20) __builtin_trap();
  return 0;
}
