// Which source a capture or a send reads, and the link type of its frames.
#pragma once

#include <string>

#include "pkdv.h"

namespace pkdv_capture {

struct Options;

// The adapter -i names: a number as the adapter of that number in -D's list, a name as it is.
// Throws AdapterError for a number -D does not show.
std::string adapter_name(const std::string& name);

// The library's name of the source the options give: -r FILE as "file://FILE", -i as
// adapter_name() gives it, and with neither the first adapter that is up (not a loopback).
// Throws AdapterError when there is none.
std::string chosen_source(const Options& options);

// The link type (libpcap DLT_ value) of the frames of an open adapter: the NDIS medium it
// reports where that names one link type (802.3: Ethernet, IP: raw IP), else what the capture
// library says of it. Throws PcapToolError when neither can tell.
int source_link_type(AdapterHandle adapter, const std::string& source);

}  // namespace pkdv_capture
