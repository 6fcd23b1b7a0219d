#pragma once

#include <cstdint>

#include "pkdv.h"

namespace pkdv::engine {

// Calls a client's completion routine in the form its platform family uses:
// NT family routine(status, count, context), 95 family routine(context), no
// call when the version cannot be had. The version is asked anew each time.
void call_completion_routine(PKDV_COMPLETION_ROUTINE routine, std::uint32_t status,
                             std::uint32_t count, std::uintptr_t context);

}  // namespace pkdv::engine
