// What the process itself looks like from outside: resident memory.
#pragma once

#include <cstdint>

namespace pkdv::bench {

// Resident set size of the process in KiB (from /proc/self/statm); 0 when it
// cannot be read.
std::int64_t resident_kib();

}  // namespace pkdv::bench
