#pragma once

#include <cstdint>

#include "pkdv.h"
#include "platform/capture.h"

namespace pkdv::engine {

// Writes one captured frame into a client's buffer: lengths, the next sequence
// number and the timestamp always; the data only when the data area holds the
// whole frame (otherwise status NDIS_STATUS_INVALID_LENGTH). The captured
// length written is the bytes the frame has, never more than its wire length,
// so on success it is the bytes copied.
void FillPacketBuffer(PacketBuffer* buffer, const capture::FrameHeader& header,
                      const std::uint8_t* data);

// A forked child has no poller thread: forgets the parent's.
void forget_poller_after_fork();

// The frame counter, for tests and benchmarks.
std::uint64_t frames_captured();
void reset_frame_counter();

}  // namespace pkdv::engine
