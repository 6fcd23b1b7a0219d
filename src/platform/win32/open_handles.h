// What the capture unit remembers about each capture handle it opened: the
// name it was opened with and its driver, found at open, so that asking for
// either (trace lines do) changes nothing.
#pragma once

#include "platform/capture.h"
#include "platform/win32/wpcap_abi.h"

namespace pkdv::wpcap {

// Not remembering a handle (no memory) only loses its name and driver.
void remember_handle(pcap_t* handle, const char* name);
void forget_handle(pcap_t* handle);
// nullptr for a handle that is not remembered.
const char* remembered_name(pcap_t* handle);
capture::Driver* remembered_driver(pcap_t* handle);

}  // namespace pkdv::wpcap
