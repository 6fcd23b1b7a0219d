#include "platform/trace_output.h"

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

namespace pkdv::sys {

namespace {

int output = -1;

}  // namespace

bool trace_output_open(TraceDestination destination, const char* path) {
  switch (destination) {
    case TraceDestination::kStandardError:
      output = STDERR_FILENO;
      return true;
    case TraceDestination::kDebugger:
      return false;
    case TraceDestination::kFile: {
      const int saved_errno = errno;
      // Appending makes each line one write that no other process's lines split.
      output = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
      errno = saved_errno;
      return output >= 0;
    }
  }
  return false;
}

void trace_output_write(const char* text, std::size_t length) {
  // A log that cannot be written is not the client's failure.
  [[maybe_unused]] const ssize_t written = ::write(output, text, length);
}

void trace_output_close() {
  if (output > STDERR_FILENO) ::close(output);
  output = -1;
}

}  // namespace pkdv::sys
