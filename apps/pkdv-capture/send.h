// --send: every frame of a savefile out through PKDV_PacketSendEx.
#pragma once

namespace pkdv_capture {

struct Options;

// Sends the frames in order and reports each status from the completion routine; returns 0
// when every frame was sent, 1 otherwise.
int run_send(const Options& options);

}  // namespace pkdv_capture
