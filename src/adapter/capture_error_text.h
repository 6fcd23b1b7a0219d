// The capture library's error text, written by open and by enumeration.
// Module-wide and unlocked: its content is only ever traced.
#pragma once

#include "platform/capture.h"

namespace pkdv {

extern char capture_error_text[capture::kErrorBufferSize];

}  // namespace pkdv
