#include "engine/engine.h"
#include "engine/state.h"

namespace pkdv::engine {

namespace {

void free_all_records() {
  auto& table = state().table;
  for (auto& [id, record] : table) {
    record->pending.destroy_with_requests();
    if (record->completed.present) {
      LockGuard guard(&record->lock);
      record->completed.destroy_with_requests();
    }
  }
  for (auto entry = table.begin(); entry != table.end();) entry = destroy_record(entry);
}

}  // namespace

void clear_map(bool process_exiting) {
  if (process_exiting) {
    // The platform may have ended the poller inside a pass, leaving globalLock
    // owned by a thread that no longer exists: waiting for it would hang the
    // exit. The process's memory goes away with it anyway.
    if (!sys::lock_try_enter(&state().globalLock)) return;
    free_all_records();
    sys::lock_leave(&state().globalLock);
    return;
  }
  LockGuard guard(&state().globalLock);
  free_all_records();
}

}  // namespace pkdv::engine
