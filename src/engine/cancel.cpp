// Cancelling a read: it only takes reads out of the pending queues under
// globalLock, and never calls the capture library.
#include "engine/state.h"
#include "pkdv.h"

using namespace pkdv::engine;

extern "C" uint32_t PKDV_CALL PKDV_CancelPacketRead(AdapterHandle, PacketBuffer* buffer) {
  const EngineEntry inside;
  if (!inside.admitted()) return 1;  // the library is being torn down: nothing is pending
  LockGuard guard(&state().globalLock);
  auto& table = state().table;
  // Every record is visited, also past one that this walk destroys: when the
  // call returns, no read with this buffer is pending anywhere.
  for (auto entry = table.begin(); entry != table.end();) {
    ThreadRecord* record = entry->second;
    RequestQueue& pending = record->pending;
    if (pending.present && buffer) {
      for (ReadRequest* request = pending.head; request; request = request->next) {
        if (request->buffer == buffer) {
          pending.remove(request);
          free_request(request);
          break;
        }
      }
    }
    if (pending.present && pending.count == 0) pending = RequestQueue{};
    if (!pending.present && !record->completed.present) {
      entry = destroy_record(entry);
    } else {
      ++entry;
    }
  }
  return 1;
}
