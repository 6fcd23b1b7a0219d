// Completion delivery: runs in the client thread that posted the reads,
// during its alertable wait, and calls the completion routine of each
// finished read.
//
// The table and the record are only ever looked at under globalLock (other
// threads may cancel, and so destroy, records at any time), but no lock at
// all is held while completion routines run: a routine may post, cancel, send
// or close, and the poller may meanwhile hold globalLock and want this
// record's lock. The completed reads are therefore detached under the locks
// and handed back after both are released, in the same order.
//
// A delivery hands back the reads it found when it started and no more: a
// thread whose reads keep completing while its routines run must still get
// out of its alertable wait. The handed-back requests are freed afterwards
// under globalLock, which guards the requests kept for reuse; then the token
// is given back. Reads the poller finished while the routines ran are offered
// again by the poller, at once if it is serving this thread at that moment,
// otherwise at the start of its next pass.
#include <atomic>

#include "engine/engine.h"
#include "engine/state.h"
#include "platform/platform.h"
#include "platform/trace.h"

namespace pkdv::engine {

namespace {

// The platform family cannot change while the process runs: it is asked once,
// not for every routine called.
enum class RoutineForm { kUnknown, kNtFamily, k95Family };
std::atomic<RoutineForm> known_form{RoutineForm::kUnknown};

RoutineForm routine_form() {
  RoutineForm form = known_form.load(std::memory_order_relaxed);
  if (form != RoutineForm::kUnknown) return form;
  sys::VersionInfo version{};
  if (!sys::query_version(&version)) return RoutineForm::kUnknown;
  form = version.platform_id == sys::kPlatform95Line ? RoutineForm::k95Family
                                                    : RoutineForm::kNtFamily;
  known_form.store(form, std::memory_order_relaxed);
  return form;
}

// A routine that forks returns, in the child, to the rest of the parent's
// reads: none of them is the child's to hand back.
void hand_back(const ReadRequest* chain, const EngineEntry& inside) {
  for (const ReadRequest* request = chain; request && !inside.forked_since();
       request = request->next) {
    if (tracing()) trace("APC Process packet %p\n", static_cast<const void*>(request));
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

// The delivery is over: gives the token back so the next finished read can
// queue another, or ends the record when nothing is left in it.
void settle(ThreadTable::iterator entry) {
  ThreadRecord* record = entry->second;
  record->handing_back = false;
  if (record->pending.present || record->completed.present) {
    sys::event_set(record->token);
    // Reads posted or finished while the routines ran wait for the poller's
    // next pass: a sleeping poller makes it now.
    hand_back_settled(record);
  } else {
    destroy_record(entry);
  }
}

}  // namespace

void PKDV_CALLBACK APCProc(std::uintptr_t) {
  // A delivery that was queued before the engine's state was torn down finds
  // nothing to hand back.
  const EngineEntry inside;
  if (!inside.admitted() || !state_built()) return;
  const sys::ThreadId id = sys::current_thread_id();
  auto& table = state().table;
  std::uint64_t serial = 0;
  ReadRequest* chain = nullptr;
  {
    LockGuard table_guard(&state().globalLock);
    const auto found = table.find(id);
    if (found == table.end()) return;
    ThreadRecord* record = found->second;
    if (!record->completed.present) {
      settle(found);
      return;
    }
    serial = record->serial;
    LockGuard record_guard(&record->lock);
    chain = record->completed.detach_all();
  }
  hand_back(chain, inside);
  // In a forked child the chain and the record are the parent's, left
  // unused like the rest of its state.
  if (inside.forked_since()) return;
  LockGuard table_guard(&state().globalLock);
  free_chain(chain);
  // The record this delivery was made for may have been destroyed by a
  // cancellation while routines ran; a newer record under the same id
  // manages its own token.
  const auto found = table.find(id);
  if (found != table.end() && found->second->serial == serial) settle(found);
}

void call_completion_routine(PKDV_COMPLETION_ROUTINE routine, std::uint32_t status,
                             std::uint32_t count, std::uintptr_t context) {
  if (routine == nullptr) return;
  const RoutineForm form = routine_form();
  if (form == RoutineForm::kUnknown) return;
  if (form == RoutineForm::kNtFamily) {
    routine(status, count, context);
    return;
  }
  // A client of the 95 family wrote its routine with the context alone and
  // cast it to the common type; call it the way it was written. The detour
  // through void (*)() is the portable spelling of that cast.
  auto routine_95 =
      reinterpret_cast<PKDV_COMPLETION_ROUTINE_95>(reinterpret_cast<void (*)()>(routine));
  routine_95(context);
}

}  // namespace pkdv::engine
