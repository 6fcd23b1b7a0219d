// One measured run over the savefile: how many frames, how long it took.
#pragma once

#include <cstdint>
#include <string>

namespace pkdv::bench {

struct CaseResult {
  std::int64_t frames = 0;
  std::int64_t elapsed_ns = 0;
  bool ok = false;
};

// The floor: bare pcap_next_ex on the savefile, each frame copied into one
// buffer.
CaseResult run_raw_floor(const std::string& savefile);

// The engine over the same savefile: `outstanding` reads posted through
// PKDV_PacketReadEx, each pass run directly (no pause), deliveries run in this
// thread, and every completion routine posts its read again until the file
// ends.
CaseResult run_engine(const std::string& savefile, int outstanding);

}  // namespace pkdv::bench
