// Closing an adapter while reads are pending on it: the capture handle is
// about to be freed, so no such read may be polled again. They are handed
// back like reads that failed in the capture library.
#include "engine/engine.h"
#include "engine/state.h"

namespace pkdv::engine {

void retire_adapter(AdapterHandle adapter) {
  const EngineEntry inside;
  if (!inside.admitted()) return;
  NamedLock guard(&state().globalLock, "PKDV_CloseAdapter");
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

}  // namespace pkdv::engine
