#include "engine/handoff.h"

#include "module/trace.h"

namespace pkdv::engine {

void move_to_completed(ThreadRecord* record, ReadRequest* request) {
  sys::lock_enter(&record->lock);
  Trace("recv packet copy to %p\n", static_cast<void*>(request));
  record->pending.remove(request);
  record->completed.append(request);
  sys::lock_leave(&record->lock);
}

void offer_delivery(ThreadRecord* record) {
  if (!record->completed.present) return;
  if (!sys::event_try_take(record->token)) return;  // a delivery is already on its way
  if (!sys::thread_queue_apc(record->thread, APCProc, 0)) sys::event_set(record->token);
}

}  // namespace pkdv::engine
