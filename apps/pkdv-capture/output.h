// What the client prints: status names, capture times, one line per frame and the run summary.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "pkdv.h"

namespace pkdv_capture {

// "NDIS_STATUS_SUCCESS", ..., or "0x%08X" for a code without a name.
std::string status_name(uint32_t status);

// A PacketBuffer timestamp (100 ns units since 1970-01-01 UTC) as
// "2024-05-01 12:00:00.012345" (UTC, whole microseconds).
std::string utc_time_text(int64_t timestamp);

// "seq time captured/wire status summary" for one completed read. The summary is built only
// from the frame's bytes in the buffer, which exist only for NDIS_STATUS_SUCCESS; a failed
// read shows its status alone.
std::string frame_line(const PacketBuffer& buffer);

// Counts of one run, kept as frames are handed back.
struct RunTally {
  uint64_t frames = 0;
  uint64_t bytes = 0;  // captured bytes of the frames
  std::map<uint32_t, uint64_t> per_status;

  void add(const PacketBuffer& buffer);
};

// Two lines: "N frames, B bytes in S.SSS s (R frames/s)" and the count of each status by name.
std::string summary_text(const RunTally& tally, double elapsed_seconds);

}  // namespace pkdv_capture
