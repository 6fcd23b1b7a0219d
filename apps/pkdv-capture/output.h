// What the client prints: status names, capture times, one line per frame, hex dumps and the
// run summary.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>

#include "pkdv.h"

namespace pkdv_capture {

// "NDIS_STATUS_SUCCESS", ..., or "0x%08X" for a code without a name.
std::string status_name(uint32_t status);

// A PacketBuffer timestamp (100 ns units since 1970-01-01 UTC) as "2024-05-01
// 12:00:00.012345" (whole microseconds), in UTC or in the local time zone.
std::string time_text(int64_t timestamp, bool utc);

// The time column of frame lines: date and time (the default, and -tttt), none (-t), seconds
// since 1970 (-tt), time since the previous frame (-ttt) or since the first (-ttttt).
enum class TimeColumn { kDateTime, kNone, kEpoch, kSincePrevious, kSinceFirst };

// How frame lines look.
struct LineFormat {
  int link_type = 1;
  bool utc = false;
  bool link_header = false;  // -e
  bool verbose = false;      // -v: the read status of every frame, not only of failed ones,
                             // and the detail SummaryStyle::verbose names
  bool quiet = false;        // -q
  TimeColumn time = TimeColumn::kDateTime;
  int64_t reference = 0;     // the previous or the first frame's timestamp, for the deltas
};

// "seq time captured/wire [status] summary" for one completed read. The summary is built only
// from the frame's bytes in the buffer, which exist only for NDIS_STATUS_SUCCESS; another
// status shows instead of it, and a failed read shows its status alone.
std::string frame_line(const PacketBuffer& buffer, const LineFormat& format);

// The frame's printable bytes as text, a line each 64 (-A); the others show as '.'.
std::string ascii_dump(std::span<const uint8_t> bytes);

// The frame's bytes, 16 a line: "\t0x0010:  4500 0054 ..." and, with `ascii`, the printable
// characters after them.
std::string hex_dump(std::span<const uint8_t> bytes, bool ascii);

// Counts of one run, kept as frames are handed back.
struct RunTally {
  uint64_t frames = 0;
  uint64_t bytes = 0;  // captured bytes of the frames
  std::map<uint32_t, uint64_t> per_status;

  void add(const PacketBuffer& buffer);
};

// What a live capture adds to the summary: how often a pass handed back every read that was
// outstanding (and the reads there were at the end, added each time), and the frames the
// adapter dropped for lack of room, when it says.
struct LiveCounts {
  uint64_t ran_out = 0;
  uint32_t reads = 0;
  std::optional<uint64_t> dropped;
};

// "B bytes in S.SSS s (R packets/s)", a line per status other than success, for a live
// capture how often the reads ran out; then tcpdump's closing lines: "N packets captured",
// and for a live capture "M packets received by filter" (captured and dropped) and
// "D packets dropped by kernel" when the adapter tells its drops.
std::string summary_text(const RunTally& tally, double elapsed_seconds,
                         std::optional<LiveCounts> live);

}  // namespace pkdv_capture
