// Why the capture library refused to open a source, as a platform error code.
// The capture library tells only in words; both capture units read them here,
// after whatever they can learn more reliably (the kernel, the file system).
#pragma once

#include <cstdint>

namespace pkdv::capture {

// The platform error code (platform.h) that the capture library's error text
// describes: access denied, no such adapter, adapter not up, not a savefile, a
// damaged savefile, remote capture; kErrorGenFailure when the text says
// nothing we know.
std::uint32_t failure_code_from_text(const char* text);

}  // namespace pkdv::capture
