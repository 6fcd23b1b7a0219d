// Reads: posting one (queued in the calling thread's record), cancelling one
// (taken back out of the pending queues) and retiring those of an adapter that
// closes (handed back failed). All under globalLock; only a close calls the
// capture library.
#include "engine/engine.h"
#include "engine/state.h"
#include "pkdv.h"
#include "capture/capture.h"

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
    if (sys::thread_is_caller(entry->second->thread)) return entry->second;
    destroy_record(entry);
  }
  if (!room_for_another_record()) return nullptr;
  return create_record(id);
}

// Closing an adapter while reads are pending on it: the capture handle is
// about to be freed, so no such read may be polled again. They are handed
// back like reads that failed in the capture library.
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
