// Posting and cancelling reads. Both only touch the thread table under
// globalLock; neither calls the capture library.
#include "engine/allocation.h"
#include "engine/named_lock.h"
#include "engine/thread_table.h"
#include "pkdv.h"

namespace pkdv::engine {

namespace {

// The calling thread's record. A record left behind by an ended thread whose
// id this thread now carries is cleared first, so the new thread starts clean.
ThreadRecord* record_of_calling_thread() {
  const sys::ThreadId id = sys::current_thread_id();
  auto& table = state().table;
  auto entry = table.find(id);
  if (entry != table.end()) {
    if (!sys::thread_has_ended(entry->second->thread)) return entry->second;
    destroy_record(entry);
  }
  return create_record(id);
}

}  // namespace

}  // namespace pkdv::engine

using namespace pkdv::engine;

extern "C" uint32_t PKDV_CALL PKDV_PacketReadEx(AdapterHandle adapter, PacketBuffer* buffer,
                                                uint32_t* transferred, uintptr_t context,
                                                PKDV_COMPLETION_ROUTINE routine) {
  // A read without a buffer could only be filled through a null pointer, and
  // one without an adapter would have the poller poll a handle that is none.
  if (!buffer || adapter == 0 || adapter == PKDV_INVALID_ADAPTER) return 0;
  NamedLock guard(&state().globalLock, "PKDV_PacketReadEx");
  ReadRequest* request = new_request();
  if (!request) return 0;
  ThreadRecord* record = record_of_calling_thread();
  if (!record) {
    free_request(request);
    return 0;
  }
  request->adapter = adapter;
  request->buffer = buffer;
  request->transferred = transferred;
  request->context = context;
  request->routine = routine;
  record->pending.append(request);
  return 1;
}

extern "C" uint32_t PKDV_CALL PKDV_CancelPacketRead(AdapterHandle, PacketBuffer* buffer) {
  NamedLock guard(&state().globalLock, "PKDV_CancelPacketRead");
  auto& table = state().table;
  // Every record is visited, also past one that this walk destroys: when the
  // call returns, no read with this buffer is pending anywhere.
  for (auto entry = table.begin(); entry != table.end();) {
    ThreadRecord* record = entry->second;
    RequestQueue& pending = record->pending;
    if (pending.present && buffer) {
      for (ReadRequest* request = pending.head; request; request = request->next) {
        if (request->tag == kReceiveTag && request->buffer == buffer) {
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
