#pragma once

#include <cstdint>

#include "pkdv.h"

namespace pkdv {

// Calls a client's completion routine in the form the platform family selects:
// NT family routine(status, count, context), 95 family routine(context),
// neither (version query failed) no call. Probed anew at every call.
void call_completion_routine(PKDV_COMPLETION_ROUTINE routine, std::uint32_t status,
                             std::uint32_t count, std::uintptr_t context);

}  // namespace pkdv
