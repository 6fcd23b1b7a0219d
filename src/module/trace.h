// Diagnostics. Trace lines are built and dropped: the library writes nothing
// to any output, file or debugger.
#pragma once

namespace pkdv {

// The sink for the engine's and enumeration's lines. It does nothing.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The adapter functions' lines: formatted into a 260-byte local text (cut,
// never overrun) and dropped.
void trace_local(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace pkdv
