// Closing an adapter while reads are pending on it: the capture handle is
// about to be freed, so no such read may be polled again. They are handed
// back like reads that failed in the capture library.
#include "engine/engine.h"
#include "engine/state.h"
#include "platform/capture.h"

namespace pkdv::engine {

namespace {

void retire_pending_reads(AdapterHandle adapter) {
  for (auto& [id, record] : state().table) {
    bool retired = false;
    for (ReadRequest* request = record->pending.head; request;) {
      ReadRequest* next = request->next;
      if (request->adapter == adapter) {
        request->buffer->status = NDIS_STATUS_FAILURE;
        move_to_completed(record, request);
        retired = true;
      }
      request = next;
    }
    if (retired) offer_delivery(record);
  }
}

}  // namespace

bool close_adapter(AdapterHandle adapter) {
  capture::Handle* handle = capture::handle_of(adapter);
  const EngineEntry inside;
  if (!inside.admitted()) {
    // The engine is gone (unload): no read is left to retire or to post.
    if (!capture::is_open(handle)) return false;
    capture::close(handle);
    return true;
  }
  LockGuard guard(&state().globalLock);
  if (!capture::is_open(handle)) return false;
  retire_pending_reads(adapter);
  capture::close(handle);
  return true;
}

}  // namespace pkdv::engine
