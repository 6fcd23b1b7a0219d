// The diagnostics log: a line for each open, close and driver call, and for
// the poller's passes over a thread's reads. Off unless the client's
// environment names a destination when the library loads:
//   PKDV_TRACE=stderr   the process's standard error
//   PKDV_TRACE=debug    the debugger's output (Windows; elsewhere nothing)
//   PKDV_TRACE=<path>   appended to that file (created if need be)
// A line longer than kLongestTraceLine is cut (and still ends the line), and
// writing one leaves the calling thread's last error and errno as they were.
#pragma once

#include <atomic>
#include <cstddef>

namespace pkdv {

inline constexpr std::size_t kLongestTraceLine = 259;

// At load, and at unload once no thread is inside the library.
void trace_open_from_environment();
void trace_close();

namespace trace_detail {
extern std::atomic<bool> on;
}  // namespace trace_detail

// Writes one line when the log is on (and formats nothing when it is off).
void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The same test inline, for the lines on a read's way: while the log is off
// they cost a load and a branch, not a call.
inline bool tracing() {
  return trace_detail::on.load(std::memory_order_relaxed);
}

}  // namespace pkdv
