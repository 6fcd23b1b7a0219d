// --info: the adapter's answers to a few NDIS queries.
#pragma once

namespace pkdv_capture {

struct Options;

// Queries MAC address, MTU, link speed, connect status and packet filter; returns the exit code.
int run_info(const Options& options);

}  // namespace pkdv_capture
