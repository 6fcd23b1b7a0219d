#include "platform/trace.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/trace_output.h"

namespace pkdv {

namespace trace_detail {

std::atomic<bool> on{false};

}  // namespace trace_detail

void trace(const char* format, ...) {
  if (!tracing()) return;
  // A client that reads its last error after a call must find the call's,
  // not one the log left behind.
  const std::uint32_t last_error = sys::last_error();
  const int saved_errno = errno;
  char text[kLongestTraceLine + 1];
  va_list args;
  va_start(args, format);
  const int formatted = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (formatted > 0) {
    std::size_t length = static_cast<std::size_t>(formatted);
    if (length > kLongestTraceLine) {
      length = kLongestTraceLine;
      text[length - 1] = '\n';
    }
    sys::trace_output_write(text, length);
  }
  errno = saved_errno;
  sys::set_last_error(last_error);
}

void trace_open_from_environment() {
  const char* name = std::getenv("PKDV_TRACE");
  if (name == nullptr || *name == '\0') return;
  sys::TraceDestination destination = sys::TraceDestination::kFile;
  if (std::strcmp(name, "stderr") == 0) destination = sys::TraceDestination::kStandardError;
  if (std::strcmp(name, "debug") == 0) destination = sys::TraceDestination::kDebugger;
  trace_detail::on.store(sys::trace_output_open(destination, name), std::memory_order_relaxed);
}

void trace_close() {
  if (!trace_detail::on.exchange(false, std::memory_order_relaxed)) return;
  sys::trace_output_close();
}

}  // namespace pkdv
