// Clocks the benchmarks measure with.
#pragma once

#include <cstdint>

namespace pkdv::bench {

// Monotonic wall-clock time in nanoseconds (CLOCK_MONOTONIC: the same clock in
// every thread, so a stamp taken in one thread compares with another's).
std::int64_t now_ns();

// CPU time used so far by the whole process, all threads, user plus system.
std::int64_t process_cpu_ns();

void sleep_ns(std::int64_t nanoseconds);

}  // namespace pkdv::bench
