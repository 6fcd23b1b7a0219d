// The asynchronous read engine's entry points for the other subsystems.
#pragma once

#include <cstdint>

#include "pkdv.h"
#include "platform/platform.h"

namespace pkdv::engine {

// Builds the empty thread table and initialises globalLock (module load).
void build_state();
// Deletes globalLock; the table is empty by then (module unload).
void destroy_state();

// One pass of the poller, without the pause that follows it.
void poll_pass();
// The poller thread's body: passes separated by 100 ms until asked to stop.
void poller_main(sys::Worker* self);

// Frees every queued read and every thread record without calling any
// routine. `process_exiting`: the poller may have been killed while it held
// globalLock; then the state is left to the platform rather than waited for.
void clear_map(bool process_exiting);

// Called by PKDV_CloseAdapter before the capture handle is closed: takes every
// pending read on `adapter` out of its queue and hands it back with
// NDIS_STATUS_FAILURE through normal delivery.
void retire_adapter(AdapterHandle adapter);

}  // namespace pkdv::engine
