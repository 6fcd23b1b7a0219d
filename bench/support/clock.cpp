#include "support/clock.h"

#include <time.h>

#include <cerrno>

namespace pkdv::bench {

namespace {

std::int64_t read_clock(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

}  // namespace

std::int64_t now_ns() {
  return read_clock(CLOCK_MONOTONIC);
}

std::int64_t process_cpu_ns() {
  return read_clock(CLOCK_PROCESS_CPUTIME_ID);
}

void sleep_ns(std::int64_t nanoseconds) {
  if (nanoseconds <= 0) return;
  timespec left{static_cast<time_t>(nanoseconds / 1'000'000'000),
                static_cast<long>(nanoseconds % 1'000'000'000)};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace pkdv::bench
