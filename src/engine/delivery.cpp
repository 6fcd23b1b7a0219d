// Completion delivery: runs in the client thread that posted the reads, during
// its alertable wait, and calls the completion routine of each finished read.
//
// The table and the record are only ever looked at under globalLock (other
// threads may cancel, and so destroy, records at any time), but no lock at
// all is held while completion routines run: a routine may post, cancel, send
// or close, and the poller may meanwhile hold globalLock and want this
// record's lock. The completed reads are therefore detached under the locks
// and handed back after both are released, in the same order.
//
// The requests handed back are freed at the next look under globalLock, which
// guards the requests kept for reuse.
//
// The token is given back only under globalLock after the completed queue was
// seen empty, so a read the poller finishes while routines run is never left
// behind: either it is in the queue when we look again (and handed back by
// this same delivery), or it arrives after the token is back and the poller
// queues a new delivery for it.
#include "adapter/completion.h"
#include "engine/allocation.h"
#include "engine/handoff.h"
#include "engine/named_lock.h"
#include "engine/thread_table.h"
#include "module/trace.h"

namespace pkdv::engine {

namespace {

void hand_back(const ReadRequest* chain) {
  for (const ReadRequest* request = chain; request; request = request->next) {
    if (request->tag != kReceiveTag) continue;
    Trace("APC Process packet %p\n", static_cast<const void*>(request));
    const std::uint32_t status = request->buffer->status;
    const std::uint32_t count = request->transferred ? *request->transferred : 0;
    call_completion_routine(request->routine, status, count, request->context);
  }
}

void free_chain(ReadRequest* chain) {
  while (ReadRequest* request = chain) {
    chain = request->next;
    free_request(request);
  }
}

}  // namespace

void APCProc(std::uintptr_t) {
  // A delivery that was queued before the engine's state was torn down finds
  // nothing to hand back.
  if (!state_built()) return;
  const sys::ThreadId id = sys::current_thread_id();
  std::uint64_t serial = 0;
  ReadRequest* handed_back = nullptr;
  for (;;) {
    ReadRequest* chain = nullptr;
    {
      NamedLock table_guard(&state().globalLock, "APCProc");
      free_chain(handed_back);
      auto& table = state().table;
      auto entry = table.find(id);
      // The record this delivery was queued for may have been destroyed by a
      // cancellation while routines ran; a newer record under the same id
      // manages its own token.
      if (entry == table.end() || (serial && entry->second->serial != serial)) return;
      ThreadRecord* record = entry->second;
      serial = record->serial;
      if (!record->completed.present) {
        if (record->pending.present) {
          sys::event_set(record->token);
        } else {
          destroy_record(entry);
        }
        return;
      }
      NamedLock record_guard(&record->lock, "APCProc");
      chain = record->completed.detach_all();
    }
    hand_back(chain);
    handed_back = chain;
  }
}

}  // namespace pkdv::engine
