// The read engine's module-wide state: one record per client thread that has
// posted reads, kept in a table ordered by thread id, all guarded by
// globalLock (the records' own locks guard their completed queues).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

#include "engine/read_request.h"
#include "platform/platform.h"

namespace pkdv::engine {

struct ThreadRecord {
  sys::CriticalSection lock;  // guards `completed`
  // Auto-reset, signalled while no hand-back is outstanding for the thread.
  sys::EventHandle token = nullptr;
  RequestQueue pending;    // reads waiting for a frame (under globalLock)
  RequestQueue completed;  // reads with a result, waiting to be handed back
  // The thread itself, held from the record's creation: it is where
  // deliveries are queued, and it tells a record of an ended thread from a
  // record of a new thread that happens to reuse the id.
  sys::ThreadHandle thread = nullptr;
  // Distinguishes this record from a later one under the same id.
  std::uint64_t serial = 0;
};

// The most records the table holds, and so the most a pass of the poller
// visits: a thread that would be one more is refused its reads.
inline constexpr std::size_t kMostThreadRecords = 20;

// Ordered by the unsigned 32-bit thread id: walks favour the lowest ids.
using ThreadTable = std::map<sys::ThreadId, ThreadRecord*>;

struct EngineState {
  sys::CriticalSection globalLock;
  ThreadTable table;
  std::uint64_t next_serial = 1;
  // Set in a forked child, which has no poller until it posts its first read.
  bool start_poller_on_first_read = false;
};

// The module's one engine state; valid between build_state and destroy_state.
EngineState& state();
bool state_built();

// All below: the caller holds globalLock.
ThreadRecord* find_record(sys::ThreadId id);
// Creates the calling thread's record (signalled token, no queues) and inserts
// it. nullptr, with nothing inserted, when any part cannot be made.
ThreadRecord* create_record(sys::ThreadId id);
// Frees whatever the record still holds (no routine is called), closes its
// token and thread, deletes its lock, frees it and erases its entry.
// Returns the iterator after the erased entry.
ThreadTable::iterator destroy_record(ThreadTable::iterator entry);
// Records whose thread has ended are cleared: their reads can never be handed
// back, and they must neither keep a taken token nor use up a pass's budget.
ThreadTable::iterator clear_if_thread_ended(ThreadTable::iterator entry);

}  // namespace pkdv::engine
