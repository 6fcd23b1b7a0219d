#pragma once

#include "engine/thread_table.h"

namespace pkdv::engine {

// Moves a request that has its result from the record's pending queue to its
// completed queue. The caller holds globalLock.
void move_to_completed(ThreadRecord* record, ReadRequest* request);

// If the record has results waiting and no hand-back is outstanding, takes
// the token and queues the delivery to the record's thread. When the delivery
// cannot be queued the token is given back, so the next pass tries again.
// The caller holds globalLock.
void offer_delivery(ThreadRecord* record);

// The delivery routine, run as an asynchronous call in the record's thread.
void PKDV_CALLBACK APCProc(std::uintptr_t parameter);

}  // namespace pkdv::engine
