// What the capture unit remembers about each capture handle it opened: the
// name it was opened with and its driver, found at open, so that asking for
// either (trace lines do) changes nothing.
#pragma once

#include "capture/capture.h"
#include "capture/wpcap/wpcap_abi.h"

namespace pkdv::wpcap {

// False when the handle cannot be remembered (no memory): then it cannot be
// told from a handle that is not open, and must not be handed out.
bool remember_handle(pcap_t* handle, const char* name);
void forget_handle(pcap_t* handle);
bool is_remembered(pcap_t* handle);
// nullptr for a handle that is not remembered.
const char* remembered_name(pcap_t* handle);
capture::Driver* remembered_driver(pcap_t* handle);

}  // namespace pkdv::wpcap
