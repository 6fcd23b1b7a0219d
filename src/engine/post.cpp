// Posting a read: it only queues the read in the calling thread's record
// under globalLock, and never calls the capture library.
#include "engine/engine.h"
#include "engine/state.h"
#include "pkdv.h"
#include "platform/capture.h"

namespace pkdv::engine {

namespace {

// True when the table has room for one more record, once the records of
// threads that have ended are cleared.
bool room_for_another_record() {
  auto& table = state().table;
  if (table.size() < kMostThreadRecords) return true;
  for (auto entry = table.begin(); entry != table.end();) entry = clear_if_thread_ended(entry);
  return table.size() < kMostThreadRecords;
}

// The calling thread's record. A record left behind by an ended thread whose
// id this thread now carries is cleared first, so the new thread starts clean.
// nullptr when the thread has none and the table is full: a record beyond
// the poller's reach would take reads that are never served.
ThreadRecord* record_of_calling_thread() {
  const sys::ThreadId id = sys::current_thread_id();
  auto& table = state().table;
  auto entry = table.find(id);
  if (entry != table.end()) {
    if (!sys::thread_has_ended(entry->second->thread)) return entry->second;
    destroy_record(entry);
  }
  if (!room_for_another_record()) return nullptr;
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
  if (!buffer) return 0;
  if (!pkdv::capture::names_an_adapter(adapter)) {
    pkdv::sys::set_last_error(pkdv::sys::kErrorInvalidHandle);
    return 0;
  }
  const EngineEntry inside;
  if (!inside.admitted()) return 0;
  LockGuard guard(&state().globalLock);
  // Under the lock that a close takes too: a read posted before the close is
  // handed back by it, one posted after finds the handle closed.
  if (!pkdv::capture::is_open(pkdv::capture::handle_of(adapter))) {
    pkdv::sys::set_last_error(pkdv::sys::kErrorInvalidHandle);
    return 0;
  }
  // A read nobody would ever serve is refused: the poller could not be
  // started at load (a forked child starts its own with its first read).
  if (state().start_poller_on_first_read) {
    if (!start_poller()) {
      pkdv::sys::set_last_error(pkdv::sys::kErrorNotEnoughMemory);
      return 0;
    }
    state().start_poller_on_first_read = false;
  }
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
  if (!record->handing_back) wake_poller();
  return 1;
}
