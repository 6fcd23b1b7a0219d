// The read engine's internal state and the pieces every step of a read
// uses: the requests and their queues, the thread records and their table
// (all guarded by globalLock; a record's own lock guards its completed queue),
// the lock guard, the gate at the engine's door, the allocations, and
// the hand-off from the poller to delivery.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>

#include "pkdv.h"
#include "platform/platform.h"

namespace pkdv::engine {

// --- A posted read and the queues it waits in. ---
struct ReadRequest {
  AdapterHandle adapter = 0;
  PacketBuffer* buffer = nullptr;
  std::uint32_t* transferred = nullptr;
  std::uintptr_t context = 0;
  PKDV_COMPLETION_ROUTINE routine = nullptr;
  // A request sits in at most one queue at a time, so the queue links live in
  // the request itself and queueing never allocates.
  ReadRequest* previous = nullptr;
  ReadRequest* next = nullptr;
};

// First-in, first-out list of requests. `present` distinguishes an existing
// but empty queue from no queue at all: a record lives while either of its
// queues is present, even empty.
struct RequestQueue {
  ReadRequest* head = nullptr;
  ReadRequest* tail = nullptr;
  std::uint32_t count = 0;
  bool present = false;

  void append(ReadRequest* request);
  void remove(ReadRequest* request);
  // Hands the whole chain to the caller and leaves the queue absent.
  ReadRequest* detach_all();
  // Frees every request and leaves the queue absent.
  void destroy_with_requests();
};

// --- One record per client thread that has posted reads, in a table ordered
// by thread id. ---
struct ThreadRecord {
  sys::CriticalSection lock;  // guards `completed`
  // Auto-reset, signalled while no hand-back is outstanding for the thread.
  sys::EventHandle token = nullptr;
  // A hand-back has been queued and has not settled (under globalLock): reads
  // the thread posts meanwhile, mostly from its routines, need not wake the
  // poller one by one, since the hand-back's end does.
  bool handing_back = false;
  // The first pass of the poller that may queue the thread's next hand-back
  // (under globalLock; see hand_back_settled).
  std::uint64_t offer_from_pass = 0;
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
  // Set in a forked child, which has no poller until it posts its first read,
  // and when the poller could not be started at load.
  bool start_poller_on_first_read = false;
};

// The module's one engine state; valid between build_state and destroy_state.
// Heap-allocated and released explicitly at unload rather than a static
// object, so no static destructor can tear it down under a running poller.
extern EngineState* engine_state;
inline EngineState& state() {
  return *engine_state;
}
inline bool state_built() {
  return engine_state != nullptr;
}

// All below: the caller holds globalLock.
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

// --- The lock guard. ---
// Holds a critical section for the guard's scope.
class LockGuard {
 public:
  explicit LockGuard(sys::CriticalSection* section) : section_(section) {
    sys::lock_enter(section_);
  }
  ~LockGuard() { sys::lock_leave(section_); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  sys::CriticalSection* section_;
};

// --- Who is inside the engine's state. ---
// At process exit on POSIX the library is torn down while client threads
// still run: one may be inside a delivery, or waiting for globalLock, and
// another may call in a moment later. Every client call into the state
// passes this gate (one EngineEntry per call; test `admitted()` before
// touching the state); the poller does not, as the teardown stops it before
// closing the gate. The teardown frees the state only when nobody is inside,
// and a thread that comes later finds the gate closed and touches nothing.
namespace gate {
// What the gate counts (state.cpp), declared here so that the entry every
// call makes is compiled inline.
extern std::atomic<int> inside;
extern std::atomic<bool> closed;
extern unsigned forks_seen;
}  // namespace gate

class EngineEntry {
 public:
  EngineEntry() : forks_at_entry_(gate::forks_seen) {
    gate::inside.fetch_add(1);
    admitted_ = !gate::closed.load();
    if (!admitted_) gate::inside.fetch_sub(1);
  }
  ~EngineEntry() {
    // An entry from before a fork was counted in the parent's gate; the
    // child's gate started again from nobody inside.
    if (admitted_ && !forked_since()) gate::inside.fetch_sub(1);
  }
  EngineEntry(const EngineEntry&) = delete;
  EngineEntry& operator=(const EngineEntry&) = delete;

  bool admitted() const { return admitted_; }
  // The process forked while this entry was open, and this is the child
  // (the entry's thread forked from a completion routine): what the entry's
  // thread was doing belongs to the parent, whose state the child has left.
  bool forked_since() const { return forks_at_entry_ != gate::forks_seen; }

 private:
  bool admitted_;
  // The number of forks this process's line had seen at the entry.
  unsigned forks_at_entry_;
};

// --- Allocations. ---
// Requests and records come from the nothrow forms of new: a lack of memory
// is a result the caller reports. Requests are kept for reuse when their reads
// are over, so that a client that posts its next read from a completion
// routine costs no heap traffic. Both: the caller holds globalLock, which also
// guards the kept requests.
ReadRequest* new_request();
void free_request(ReadRequest* request);
// Frees the kept requests (the engine's state is being destroyed).
void drop_kept_requests();
// Forgets them unfreed: a forked child's copy of the list may be half
// changed by a thread of the parent.
void forget_kept_requests_after_fork();
ThreadRecord* new_record();
void free_record(ThreadRecord* record);

// --- From the poller to delivery. ---
// Moves a request that has its result from the record's pending queue to its
// completed queue. The caller holds globalLock.
void move_to_completed(ThreadRecord* record, ReadRequest* request);

// If the record has results waiting and no hand-back is outstanding, takes
// the token and queues the delivery to the record's thread. When the delivery
// cannot be queued the token is given back, so the next pass tries again.
// The caller holds globalLock.
void offer_delivery(ThreadRecord* record);

// The delivery routine, run as an asynchronous call in the record's thread.
void PKDV_CALLBACK APCProc(std::uintptr_t parameter);

// A forked child has no poller thread: forgets the parent's.
void forget_poller_after_fork();

}  // namespace pkdv::engine
