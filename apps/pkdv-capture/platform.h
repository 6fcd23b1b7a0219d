// The little the client needs from the operating system, one implementation per OS.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pkdv_capture {

// Waits up to `milliseconds`, running the read completions queued to this thread.
void wait_alertable(uint32_t milliseconds);

// From now on Ctrl-C (and, on POSIX, SIGTERM) only sets the flag that interrupted() reads.
void catch_interrupts();
bool interrupted();

// Whether standard error is a terminal (a person watches it).
bool stderr_is_terminal();

// The pkdv library's version as far as it can be learnt: on Windows the loaded DLL's version
// resource; on POSIX the driver stand-in's OID_GEN_VENDOR_DRIVER_VERSION answer on the first
// adapter that opens, else the version in the loaded library's file name. None when neither
// tells.
std::optional<std::string> library_version();

}  // namespace pkdv_capture
