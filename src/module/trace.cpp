#include "module/trace.h"

#include <cstdarg>
#include <cstdio>

namespace pkdv {

void Trace(const char*, ...) {}

void trace_local(const char* format, ...) {
  char text[260];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  // Dropped on purpose: nothing leaves the library.
}

}  // namespace pkdv
