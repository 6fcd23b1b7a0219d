// How NDIS OID requests reach an adapter's driver with each capture library.
#pragma once

#include <memory>

#include "capture/capture.h"
#include "capture/wpcap/wpcap_library.h"

namespace pkdv::wpcap {

// The driver behind `handle`, or nullptr when this capture library gives no
// way to reach it (a forwarder to a Unix libpcap, a handle without an adapter
// object, an invalid device handle).
std::unique_ptr<capture::Driver> make_driver(const Library& library, pcap_t* handle);

}  // namespace pkdv::wpcap
