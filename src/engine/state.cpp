// The engine's state: building and destroying it, the thread table's
// records and clearing them, the requests (allocated and kept for reuse) and
// their queues, and the gate.
#include <atomic>
#include <iterator>
#include <new>

#include "engine/engine.h"
#include "engine/state.h"

namespace pkdv::engine {

namespace gate {

// Both sequentially consistent: a thread raises `inside` and then reads
// `closed`, the teardown sets `closed` and then reads `inside`, so at least
// one of the two sees the other. Static storage with no destructor: they
// outlive the teardown for the threads that still come.
std::atomic<int> inside{0};
std::atomic<bool> closed{false};
// Forks seen by this process's line: one more in each forked child, set
// before the child has a second thread.
unsigned forks_seen = 0;

}  // namespace gate

namespace {

void open_gate() {
  gate::inside.store(0);
  gate::closed.store(false);
}

}  // namespace

bool close_gate() {
  gate::closed.store(true);
  return gate::inside.load() == 0;
}

EngineState* engine_state = nullptr;

void build_state() {
  engine_state = new EngineState;
  sys::lock_init(&engine_state->globalLock);
  open_gate();
}

void forget_parent_after_fork() {
  ++gate::forks_seen;
  forget_poller_after_fork();
  forget_kept_requests_after_fork();
  build_state();
  engine_state->start_poller_on_first_read = true;
}

void destroy_state() {
  if (!engine_state) return;
  drop_kept_requests();
  sys::lock_delete(&engine_state->globalLock);
  delete engine_state;
  engine_state = nullptr;
}

// --- Allocations. ---
namespace {

// Enough for every read of a busy pass to be posted again without the heap,
// small enough to keep no more than a few hundred KiB.
constexpr int kMostKeptRequests = 4096;
// Guarded by globalLock; linked through `next`.
ReadRequest* kept_requests = nullptr;
int kept_count = 0;

}  // namespace

ReadRequest* new_request() {
  ReadRequest* request = kept_requests;
  if (!request) return new (std::nothrow) ReadRequest{};
  kept_requests = request->next;
  --kept_count;
  *request = ReadRequest{};
  return request;
}

void free_request(ReadRequest* request) {
  if (!request) return;
  if (kept_count == kMostKeptRequests) {
    delete request;
    return;
  }
  request->next = kept_requests;
  kept_requests = request;
  ++kept_count;
}

void drop_kept_requests() {
  while (ReadRequest* request = kept_requests) {
    kept_requests = request->next;
    delete request;
  }
  kept_count = 0;
}

void forget_kept_requests_after_fork() {
  kept_requests = nullptr;
  kept_count = 0;
}

ThreadRecord* new_record() {
  return new (std::nothrow) ThreadRecord{};
}
void free_record(ThreadRecord* record) {
  delete record;
}

// --- Records. ---
ThreadRecord* create_record(sys::ThreadId id) {
  ThreadRecord* record = new_record();
  if (!record) return nullptr;
  sys::lock_init(&record->lock);
  record->token = sys::event_create_signalled();
  record->thread = sys::thread_open_current();
  bool inserted = false;
  if (record->token && record->thread) {
    try {
      inserted = state().table.emplace(id, record).second;
    } catch (const std::bad_alloc&) {
      inserted = false;
    }
  }
  if (!inserted) {
    if (record->token) sys::event_close(record->token);
    if (record->thread) sys::thread_close(record->thread);
    sys::lock_delete(&record->lock);
    free_record(record);
    return nullptr;
  }
  record->serial = state().next_serial++;
  return record;
}

ThreadTable::iterator destroy_record(ThreadTable::iterator entry) {
  ThreadRecord* record = entry->second;
  record->pending.destroy_with_requests();
  record->completed.destroy_with_requests();
  sys::event_close(record->token);
  sys::thread_close(record->thread);
  sys::lock_delete(&record->lock);
  free_record(record);
  return state().table.erase(entry);
}

ThreadTable::iterator clear_if_thread_ended(ThreadTable::iterator entry) {
  if (sys::thread_has_ended(entry->second->thread)) return destroy_record(entry);
  return std::next(entry);
}

void RequestQueue::append(ReadRequest* request) {
  present = true;
  request->next = nullptr;
  request->previous = tail;
  if (tail) {
    tail->next = request;
  } else {
    head = request;
  }
  tail = request;
  ++count;
}

void RequestQueue::remove(ReadRequest* request) {
  (request->previous ? request->previous->next : head) = request->next;
  (request->next ? request->next->previous : tail) = request->previous;
  request->previous = request->next = nullptr;
  --count;
}

ReadRequest* RequestQueue::detach_all() {
  ReadRequest* chain = head;
  *this = RequestQueue{};
  return chain;
}

void RequestQueue::destroy_with_requests() {
  for (ReadRequest* request = detach_all(); request;) {
    ReadRequest* next = request->next;
    free_request(request);
    request = next;
  }
}

// --- Clearing the table (unload). ---
namespace {

void free_all_records() {
  auto& table = state().table;
  for (auto& [id, record] : table) {
    record->pending.destroy_with_requests();
    if (record->completed.present) {
      LockGuard guard(&record->lock);
      record->completed.destroy_with_requests();
    }
  }
  for (auto entry = table.begin(); entry != table.end();) entry = destroy_record(entry);
}

}  // namespace

void clear_map(bool process_exiting) {
  if (process_exiting) {
    // The platform may have ended the poller inside a pass, leaving globalLock
    // owned by a thread that no longer exists: waiting for it would hang the
    // exit. The process's memory goes away with it anyway.
    if (!sys::lock_try_enter(&state().globalLock)) return;
    free_all_records();
    sys::lock_leave(&state().globalLock);
    return;
  }
  LockGuard guard(&state().globalLock);
  free_all_records();
}

}  // namespace pkdv::engine
