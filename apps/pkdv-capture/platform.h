// The little the client needs from the operating system, one implementation per OS.
#pragma once

#include <cstdint>

namespace pkdv_capture {

// Waits up to `milliseconds`, running the read completions queued to this thread.
void wait_alertable(uint32_t milliseconds);

// From now on Ctrl-C (and, on POSIX, SIGTERM) only sets the flag that interrupted() reads.
void catch_interrupts();
bool interrupted();

// Whether standard error is a terminal (a person watches it).
bool stderr_is_terminal();

}  // namespace pkdv_capture
