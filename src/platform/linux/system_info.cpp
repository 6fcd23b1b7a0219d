// The reported platform version, the calling thread's last error and the
// bounded text copy.
#include <cstring>

#include "platform/platform.h"

namespace pkdv::sys {

namespace {
// Linux stands in for a current member of the NT line.
constexpr VersionInfo kReportedVersion{2, 10, 0};
// A trivial thread_local: no destructor is registered, so it does not pin the
// library in memory.
thread_local std::uint32_t calling_thread_error = 0;
}  // namespace

bool query_version(VersionInfo* out) {
  if (!out) return false;
  *out = kReportedVersion;
  return true;
}

std::uint32_t last_error() {
  return calling_thread_error;
}

void set_last_error(std::uint32_t code) {
  calling_thread_error = code;
}

// As lstrcpynA: at most limit - 1 characters, then a terminator. A limit of 0
// or less leaves the destination untouched (there is no room even for the
// terminator); a missing source copies as the empty text.
void copy_text(char* destination, const char* source, int limit) {
  if (!destination || limit <= 0) return;
  // Adapter names and descriptions pass through here: measure, then copy in
  // one go rather than byte by byte.
  const std::size_t length = source ? strnlen(source, static_cast<std::size_t>(limit) - 1) : 0;
  if (length) std::memmove(destination, source, length);
  destination[length] = '\0';
}

}  // namespace pkdv::sys
