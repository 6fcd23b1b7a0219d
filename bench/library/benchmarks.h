// The shared library's benchmarks. Each prints its table and a TARGET line,
// fills `result` for the JSON file, and returns 0, or 1 when it could not run
// (no adapter, no savefile).
#pragma once

#include "support/json.h"
#include "support/options.h"

namespace pkdv::bench {

// Frames injected at random times, one read outstanding per thread:
// injection-to-routine time.
int run_latency(const Options& options, Json& result);
// Threads keeping reads outstanding on sources that always have frames:
// frames per second against the pacing bound, CPU per frame.
int run_throughput(const Options& options, Json& result);
// A live adapter flooded as fast as an injector goes, read in turns by a bare
// pcap_next_ex loop and by the library: frames per second and drops of each.
int run_flood(const Options& options, Json& result);
// Process CPU over a quiet interval, with or without pending reads.
int run_idle(const Options& options, Json& result);
// Resident size at checkpoints of reads served.
int run_memory(const Options& options, Json& result);

}  // namespace pkdv::bench
