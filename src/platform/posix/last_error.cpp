#include "platform/platform.h"

namespace pkdv::sys {

namespace {
// A trivial thread_local: no destructor is registered, so it does not pin the
// library in memory.
thread_local std::uint32_t calling_thread_error = 0;
}  // namespace

std::uint32_t last_error() {
  return calling_thread_error;
}

void set_last_error(std::uint32_t code) {
  calling_thread_error = code;
}

}  // namespace pkdv::sys
