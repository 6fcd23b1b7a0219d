// The engine's allocations, in one place so that test builds can make the
// Nth one fail and check that nothing is written through a missing object
// (tests/hooks/test_hooks.h).
#pragma once

#include <cstddef>

#include "engine/read_request.h"

namespace pkdv::engine {

struct ThreadRecord;

// Requests are kept for reuse when their reads are over, so that a client
// that posts its next read from a completion routine costs no heap traffic.
// Both: the caller holds globalLock, which also guards the kept requests.
ReadRequest* new_request();
void free_request(ReadRequest* request);
// Frees the kept requests (the engine's state is being destroyed).
void drop_kept_requests();
// Forgets them unfreed: a forked child's copy of the list may be half
// changed by a thread of the parent.
void forget_kept_requests_after_fork();
ThreadRecord* new_record();
void free_record(ThreadRecord* record);

}  // namespace pkdv::engine
