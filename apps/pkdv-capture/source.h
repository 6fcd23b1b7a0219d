// Which source a capture or a send reads, and the link type of its frames.
#pragma once

#include <string>

#include "pkdv.h"

namespace pkdv_capture {

struct Options;

// The library's name of the source the options give: -r FILE as "file://FILE", -i NUMBER as
// the adapter of that number in -D's list, -i NAME as it is, and the sample savefile when
// neither is given. Throws AdapterError for a number -D does not show.
std::string chosen_source(const Options& options);

// The link type (libpcap DLT_ value) of the frames of an open adapter: the NDIS medium it
// reports where that names one link type (802.3: Ethernet, IP: raw IP), else what the capture
// library says of it. Throws PcapToolError when neither can tell.
int source_link_type(AdapterHandle adapter, const std::string& source);

}  // namespace pkdv_capture
