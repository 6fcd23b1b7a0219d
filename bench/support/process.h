// What the process's memory looks like: resident pages, and the heap.
#pragma once

#include <cstdint>

namespace pkdv::bench {

// Resident set size of the process in KiB (from /proc/self/statm); 0 when it
// cannot be read.
std::int64_t resident_kib();

// Bytes the C heap has handed out and not had back, in KiB, over all arenas
// (mallinfo2). Unlike the resident size it does not move with fragmentation.
std::int64_t heap_in_use_kib();

}  // namespace pkdv::bench
