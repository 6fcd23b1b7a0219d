// Where the diagnostics log's lines go, one definition per OS. Opened once at
// load, before any line is written, and closed at unload after the last.
#pragma once

#include <cstddef>

namespace pkdv::sys {

enum class TraceDestination { kStandardError, kDebugger, kFile };

// False when the destination cannot be had (a file that cannot be created; a
// debugger channel the OS does not have): the log then stays off.
bool trace_output_open(TraceDestination destination, const char* path);
// `text` is `length` characters and a terminator.
void trace_output_write(const char* text, std::size_t length);
void trace_output_close();

}  // namespace pkdv::sys
